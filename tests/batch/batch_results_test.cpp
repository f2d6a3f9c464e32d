#include "batch/batch_results.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "batch/batch_paths.h"
#include "batch/item_results.h"
#include "batch_test_support.h"

namespace ordalis::batch {
namespace {

using testing_support::ReadFile;

BatchResultRecord Record(const std::string& name, BatchQueueItemStatus status, std::uint32_t iteration = 1,
                         std::uint32_t retry = 0, std::uint32_t maxretry = 0) {
  BatchResultRecord record;
  record.name = name;
  record.status = status;
  record.iteration = iteration;
  record.retry = retry;
  record.maxretry = maxretry;
  return record;
}

std::vector<BatchResultRecord> Repeat(BatchQueueItemStatus status, std::size_t n) {
  return std::vector<BatchResultRecord>(n, Record("x.odl", status));
}

BatchResultsHeader Header() {
  BatchResultsHeader header;
  header.batch_name = "nightly";
  header.host_name = "bench";
  header.version_text = "4.0n";
  header.start_time = 1715000000;
  header.last_update_time = 1715000042;
  header.all_passed = true;
  return header;
}

// Runs [command] and gives its exit status.
int Shell(const std::string& command) {
  int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(BatchResults, CheckCodes) {
  EXPECT_EQ(CheckCode({}), 0u);
  EXPECT_EQ(CheckCode(Repeat(BatchQueueItemPassed, 1)), 12345678u);
  std::vector<BatchResultRecord> two_and_one = Repeat(BatchQueueItemPassed, 2);
  two_and_one.push_back(Record("f", BatchQueueItemFailed));
  EXPECT_EQ(CheckCode(two_and_one), 112345677u);
  EXPECT_EQ(CheckCode(Repeat(BatchQueueItemFailed, 49)), 94433u) << "the sum wraps past 4294967295";
  EXPECT_EQ(CheckCode(Repeat(BatchQueueItemAborted, 1)), 87654321u) << "an abort is not a pass for the code";
}

TEST(BatchResults, TheFileLineByLine) {
  BatchResultRecord record = Record("sub/a.odl", BatchQueueItemPassed);
  record.results_file = "a.odl_2024.xml";
  std::string xml = BatchResultsXml(Header(), {record});
  char start_date[16], start_time[16], date[16], time[16];
  std::time_t start = 1715000000, last = 1715000042;
  std::tm parts{};
  localtime_r(&start, &parts);
  std::strftime(start_date, sizeof start_date, "%Y-%m-%d", &parts);
  std::strftime(start_time, sizeof start_time, "%H:%M:%S", &parts);
  localtime_r(&last, &parts);
  std::strftime(date, sizeof date, "%Y-%m-%d", &parts);
  std::strftime(time, sizeof time, "%H:%M:%S", &parts);
  std::string expected = std::string() +
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<?xml-stylesheet type=\"text/xsl\" href=\"OrdalisBatch4_2.xsl\"?>\r\n"
      "<odl_batch_result xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xsi:noNamespaceSchemaLocation=\"OrdalisBatch4_2.xsd\">\r\n"
      " <name>nightly</name>\r\n"
      " <versionundertest>Undefined</versionundertest>\r\n"
      " <host_name>bench</host_name>\r\n"
      " <startdate>" + start_date + "</startdate>\r\n"
      " <starttime>" + start_time + "</starttime>\r\n"
      " <date>" + date + "</date>\r\n"
      " <version>4.0n</version>\r\n"
      " <overall_result>Passed</overall_result>\r\n"
      " <time>" + time + "</time>\r\n"
      " <iteration>\r\n"
      "  <item>\r\n"
      "   <name>sub/a.odl</name>\r\n"
      "   <result>Passed</result>\r\n"
      "   <resultsfile>a.odl_2024.xml</resultsfile>\r\n"
      "   <retry>0</retry>\r\n"
      "   <maxretry>0</maxretry>\r\n"
      "  </item>\r\n"
      "  <result>Passed</result>\r\n"
      " </iteration>\r\n"
      " <result_check_code>12345678</result_check_code>\r\n"
      "</odl_batch_result>\r\n";
  EXPECT_EQ(xml, expected);
}

TEST(BatchResults, OverallAndIterationResults) {
  BatchResultsHeader header = Header();
  EXPECT_STREQ(OverallResultText(header, {}), "Not Run");
  EXPECT_EQ(BatchResultsXml(header, {}).find("<iteration>"), std::string::npos);
  // An abort is no pass for its iteration, as it is none for the overall result and the code.
  std::string aborted = BatchResultsXml(header, {Record("a", BatchQueueItemAborted)});
  EXPECT_NE(aborted.find("   <result>Aborted</result>\r\n"), std::string::npos);
  EXPECT_NE(aborted.find("  </item>\r\n  <result>Failed</result>\r\n </iteration>"), std::string::npos);
  EXPECT_NE(aborted.find("<result_check_code>87654321<"), std::string::npos);
  header.all_passed = false;
  EXPECT_STREQ(OverallResultText(header, {}), "Failed");
  // Records are grouped whenever the iteration changes.
  std::string grouped = BatchResultsXml(header, {Record("a", BatchQueueItemPassed, 1), Record("b", BatchQueueItemFailed, 1),
                                                 Record("a", BatchQueueItemPassed, 2)});
  std::size_t first = grouped.find(" <iteration>");
  std::size_t second = grouped.find(" <iteration>", first + 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_NE(grouped.find("  <result>Failed</result>\r\n </iteration>"), std::string::npos);
  EXPECT_EQ(grouped.find(" <iteration>", second + 1), std::string::npos);
}

class BatchResultsFileTest : public testing_support::TempDirTest {};

// Names with XML's own characters, bytes that are not UTF-8 and control characters still give a
// file every XML reader accepts, valid against its schema; reading it back and writing it again
// gives the same file.
TEST_F(BatchResultsFileTest, WellFormedValidAndRoundTrips) {
  BatchResultsHeader header = Header();
  header.version_under_test = "1.2 <beta> & \"rc\"";
  header.batch_name = "q&a";
  header.all_passed = false;
  BatchResultRecord odd = Record("dir & co/<a>.odl", BatchQueueItemFailed, 1, 0, 2);
  odd.results_file = "r&d/a.odl_1.xml";
  odd.comment = "tab\there, caf\xE9, bell\x07";
  BatchResultRecord ended_by_signal = Record("b.sh", BatchQueueItemAborted, 2, 0, 2);
  ended_by_signal.exit_status = -1;
  BatchResultRecord exited = Record("c.pl", BatchQueueItemPassed, 2, 0, 2);
  exited.exit_status = 0;
  std::vector<BatchResultRecord> records = {odd, Record("dir & co/<a>.odl", BatchQueueItemFailed, 1, 1, 2),
                                            ended_by_signal, exited};
  std::string path = Path("Results/q&a_2024.xml");
  std::filesystem::create_directories(Path("Results"));
  ASSERT_TRUE(WriteBatchResults(path, header, records));
  ASSERT_EQ(Shell("xmllint --noout --schema '" + Path("Results/OrdalisBatch4_2.xsd") + "' '" + path + "'"), 0)
      << ReadFile(path);
  ASSERT_EQ(Shell("xsltproc -o '" + Path("out.html") + "' '" + Path("Results/OrdalisBatch4_2.xsl") + "' '" + path + "'"), 0);
  std::string html = ReadFile(Path("out.html"));
  EXPECT_NE(html.find("Test Results for q&amp;a"), std::string::npos);
  EXPECT_NE(html.find("Iteration 2"), std::string::npos);
  EXPECT_EQ(html.find("has been modified"), std::string::npos);
  EXPECT_NE(ReadFile(path).find("caf\xC3\xA9, bell\\x07"), std::string::npos);

  BatchResultsHeader loaded_header;
  std::vector<BatchResultRecord> loaded;
  ASSERT_TRUE(LoadBatchResults(path, &loaded_header, &loaded));
  ASSERT_EQ(loaded.size(), records.size());
  EXPECT_EQ(loaded[0].name, "dir & co/<a>.odl");
  EXPECT_EQ(loaded[0].results_file, "r&d/a.odl_1.xml");
  EXPECT_EQ(loaded[1].retry, 1u);
  EXPECT_EQ(loaded[2].status, BatchQueueItemAborted);
  EXPECT_EQ(loaded[2].iteration, 2u);
  // The optional exit status of a command entry reads back; a record without one has none.
  EXPECT_EQ(loaded[2].exit_status, -1);
  EXPECT_EQ(loaded[3].exit_status, 0);
  EXPECT_EQ(loaded[0].exit_status, BatchResultRecord::kNoExitStatus);
  EXPECT_EQ(loaded[0].id, 0u) << "ids are not stored";
  EXPECT_EQ(loaded_header.version_under_test, header.version_under_test);
  EXPECT_EQ(loaded_header.batch_name, "q&a");
  EXPECT_EQ(loaded_header.start_time, header.start_time);
  EXPECT_EQ(loaded_header.last_update_time, header.last_update_time);
  EXPECT_FALSE(loaded_header.all_passed);
  EXPECT_EQ(BatchResultsXml(loaded_header, loaded), ReadFile(path)) << "written back, the file is the same";

  // A hand-edited result shows the warning.
  std::string edited = ReadFile(path);
  edited.replace(edited.find("<result>Failed</result>"), 23, "<result>Passed</result>");
  testing_support::WriteFile(path, edited);
  ASSERT_EQ(Shell("xsltproc -o '" + Path("out.html") + "' '" + Path("Results/OrdalisBatch4_2.xsl") + "' '" + path + "'"), 0);
  EXPECT_NE(ReadFile(Path("out.html")).find("The results file has been modified!"), std::string::npos);
}

TEST_F(BatchResultsFileTest, MissingElementsKeepTheirDefaults) {
  std::string path = Write("partial.xml",
                           "<?xml version=\"1.0\"?>\n<x/>\n<odl_batch_result>\n <startdate>bad</startdate>\n"
                           " <iteration>\n  <item>\n   <name>a</name>\n   <result>weird</result>\n  </item>\n"
                           " </iteration>\n</odl_batch_result>\n");
  BatchResultsHeader header;
  std::vector<BatchResultRecord> records;
  ASSERT_TRUE(LoadBatchResults(path, &header, &records));
  EXPECT_EQ(header.batch_name, "Unknown");
  EXPECT_EQ(header.host_name, "Unknown");
  EXPECT_EQ(header.start_time, 0) << "a date of the wrong length is ignored";
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].status, BatchQueueItemFailed);
  EXPECT_FALSE(LoadBatchResults(Path("missing.xml"), &header, &records));
}

// A finished command file's own results: the moved log, the results file and its stylesheet.
TEST_F(BatchResultsFileTest, ItemResultsFiles) {
  Write("Results/b.sh.log", "a line\n");
  ItemOutcome outcome{Path("Results"), "b.sh", "/x/b & c/b.sh", "Passed", 1715000000};
  ItemResultsFiles first = WriteItemResults(outcome);
  ItemResultsFiles second = WriteItemResults(outcome);
  std::string stamp = "b.sh_" + TimeStamp(1715000000);
  EXPECT_EQ(first.results_file, Path("Results/" + stamp + ".xml"));
  EXPECT_EQ(second.results_file, Path("Results/" + stamp + "_2.xml")) << "an attempt in the same second keeps its own";
  EXPECT_TRUE(first.log_moved);
  EXPECT_FALSE(second.log_moved) << "there was no log left to move";
  EXPECT_EQ(ReadFile(Path("Results/" + stamp + ".log")), "a line\n");
  std::string xml = ReadFile(first.results_file);
  EXPECT_NE(xml.find(" <batch_item>/x/b &amp; c/b.sh</batch_item>\r\n"), std::string::npos) << xml;
  EXPECT_NE(xml.find("  <logfile>" + stamp + ".log</logfile>\r\n"), std::string::npos);
  ASSERT_EQ(Shell("xsltproc -o '" + Path("item.html") + "' '" + Path("Results/BatchQueueItem.xsl") + "' '" +
                  first.results_file + "'"),
            0);
  std::string html = ReadFile(Path("item.html"));
  EXPECT_NE(html.find("Test Results for /x/b &amp; c/b.sh"), std::string::npos);
  EXPECT_NE(html.find("#00FF00"), std::string::npos);
  EXPECT_NE(html.find("Log Files"), std::string::npos);
}

}  // namespace
}  // namespace ordalis::batch
