// The results index of a directory: every run, newest first, read from reports where they are
// fresh and from the documents otherwise.

#include "report/results_index.h"

#include <gtest/gtest.h>

#include "engine/results_writer.h"
#include "language/script_item.h"
#include "report/html_report.h"
#include "report_test_support.h"

namespace ordalis::report {
namespace {

class ResultsIndexTest : public ScratchTest {
 protected:
  // A results document of one statement with [result], saved at [time] on 2026-12-10.
  std::string Run(const std::string& name, const std::string& time, Result result) {
    auto root = ScriptItem::Make(rootItem, "root", "t.odl", 0);
    auto statement = ScriptItem::Make(testResultItem, "word", "t.odl", 1);
    root->AddChild(statement);
    statement->RecordResult(result, 1, 0.0);
    root->RecordResult(result, 1, 0.0);
    ResultsHeader header = HeaderForNow(name, "", {name + ".log"});
    header.date = "2026-12-10";
    header.time = time;
    std::string path = (dir_ / (name + "_" + time + ".xml")).string();
    WriteFile(path, ResultsXml(*root, header));
    return path;
  }
};

TEST_F(ResultsIndexTest, ListsEveryRunNewestFirst) {
  std::string with_report = Run("a.odl", "09:00:00", TestFailed);
  std::string error;
  ASSERT_TRUE(WriteHtmlReport(with_report, HtmlPathFor(with_report), nullptr, nullptr, &error)) << error;
  Run("b.odl", "11:00:00", TestPassed);
  WriteFile(dir_ / "c.odl_10:00:00.xml", "<?xml version=\"1.0\"?>\n<odl_script_result>\n <node>");
  WriteFile(dir_ / "junit.xml", "<?xml version=\"1.0\"?><testsuites/>");

  ASSERT_TRUE(WriteResultsIndex(dir_.string(), &error)) << error;
  std::string page = ReadFile(dir_ / kIndexFile);
  std::size_t b = page.find("<td>b.odl</td>");
  std::size_t c = page.find("c.odl_10:00:00.xml");
  std::size_t a = page.find("<td>a.odl</td>");
  ASSERT_NE(b, std::string::npos) << page;
  ASSERT_NE(a, std::string::npos) << page;
  EXPECT_LT(b, a);
  EXPECT_NE(page.find("Unreadable"), std::string::npos) << "a cut document is listed, not skipped";
  EXPECT_LT(b, c);
  EXPECT_EQ(page.find("junit.xml"), std::string::npos) << "only results documents are runs";
  EXPECT_NE(page.find("href=\"a.odl_09%3A00%3A00.html\">report</a>"), std::string::npos) << page;
  EXPECT_NE(page.find(">Failed</span>"), std::string::npos);
  EXPECT_NE(page.find(">Passed</span>"), std::string::npos);
}

// A batch and the attempts of its entries that ran no script are listed beside the runs, each
// with the page a person reads: the batch report, the command's log.
TEST_F(ResultsIndexTest, ListsBatchesAndEveryEntryKind) {
  WriteFile(dir_ / "nightly_2026_12_10_08_00_00.xml",
            "<?xml version=\"1.0\"?>\n<odl_batch_result>\n <name>nightly</name>\n <startdate>2026-12-10</startdate>\n"
            " <starttime>08:00:00</starttime>\n <overall_result>Failed</overall_result>\n</odl_batch_result>\n");
  WriteFile(dir_ / "nightly_2026_12_10_08_00_00.html", "<html></html>");
  WriteFile(dir_ / "flash.sh_2026_12_10_08_00_05.xml",
            "<?xml version=\"1.0\"?>\n<results>\n <batch_item>/lab/suite/flash.sh</batch_item>\n"
            " <date>2026-12-10</date>\n <time>08:00:05</time>\n <result>Failed</result>\n</results>\n");
  WriteFile(dir_ / "flash.sh_2026_12_10_08_00_05.log", "exit status 3\n");
  Run("a.odl", "08:00:10", TestPassed);

  std::string error;
  ASSERT_TRUE(WriteResultsIndex(dir_.string(), &error)) << error;
  std::string page = ReadFile(dir_ / kIndexFile);
  struct Row {
    const char* name;
    const char* verdict;
    const char* link;
  };
  for (const Row& row : {Row{"nightly", "Failed", "href=\"nightly_2026_12_10_08_00_00.html\">report</a>"},
                         Row{"flash.sh", "Failed", "href=\"flash.sh_2026_12_10_08_00_05.log\">log</a>"},
                         Row{"a.odl", "Passed", "href=\"a.odl_08%3A00%3A10.xml\">XML</a>"}}) {
    std::size_t at = page.find(std::string("<td>") + row.name + "</td>");
    ASSERT_NE(at, std::string::npos) << row.name << "\n" << page;
    std::string line = page.substr(at, page.find("</tr>", at) - at);
    EXPECT_NE(line.find(std::string(">") + row.verdict + "</span>"), std::string::npos) << line;
    EXPECT_NE(line.find(row.link), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace ordalis::report
