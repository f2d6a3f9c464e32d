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

}  // namespace
}  // namespace ordalis::report
