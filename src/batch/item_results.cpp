#include "batch/item_results.h"

#include <cstdio>
#include <filesystem>

#include "batch/batch_paths.h"
#include "batch/batch_results.h"
#include "platform/xml_text.h"

namespace ordalis::batch {

namespace fs = std::filesystem;

namespace {

std::string ItemResultsXml(const ItemOutcome& outcome, const std::string& stamp) {
  std::tm parts{};
  localtime_r(&outcome.finished, &parts);
  char date[64], clock[64];
  std::snprintf(date, sizeof date, "%d-%02d-%02d", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
  std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", parts.tm_hour, parts.tm_min, parts.tm_sec);
  std::string out;
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
  out += std::string("<?xml-stylesheet type=\"text/xsl\" href=\"") + kItemStylesheetFile + "\"?>\r\n";
  out += "<results>\r\n";
  out += " <batch_item>" + XmlText(outcome.full_file_name) + "</batch_item>\r\n";
  out += std::string(" <date>") + date + "</date>\r\n";
  out += std::string(" <time>") + clock + "</time>\r\n";
  out += std::string(" <result>") + outcome.result + "</result>\r\n";
  out += " <logfiles>\r\n";
  out += "  <logfile>" + XmlText(stamp + ".log") + "</logfile>\r\n";
  out += " </logfiles>\r\n";
  out += "</results>\r\n";
  return out;
}

}  // namespace

std::string ItemLogPath(const std::string& results_directory, const std::string& file_name) {
  return results_directory + "/" + file_name + ".log";
}

ItemResultsFiles WriteItemResults(const ItemOutcome& outcome) {
  ItemResultsFiles files;
  std::error_code ignored;
  fs::create_directories(outcome.results_directory, ignored);
  std::string stem = outcome.file_name + "_" + TimeStamp(outcome.finished);
  std::string xml_path = CreateUniqueFile(outcome.results_directory, stem, ".xml");
  if (xml_path.empty()) return files;
  std::string stamp = SplitQueuePath(xml_path).batch_name;
  std::error_code moved;
  fs::rename(ItemLogPath(outcome.results_directory, outcome.file_name),
             outcome.results_directory + "/" + stamp + ".log", moved);
  files.log_moved = !moved;
  WriteCompanionFile(outcome.results_directory, kItemStylesheetFile);
  if (WriteFileAtomically(xml_path, ItemResultsXml(outcome, stamp))) files.results_file = xml_path;
  return files;
}

}  // namespace ordalis::batch
