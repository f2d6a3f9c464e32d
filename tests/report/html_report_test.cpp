// The HTML report page: self-contained, escaped, carrying the tree the page's script draws, and
// bounded for large runs.

#include "report/html_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "engine/results_writer.h"
#include "language/script_item.h"
#include "report_test_support.h"

namespace ordalis::report {
namespace {

ScriptItemPtr Item(ItemType type, const std::string& text, std::uint32_t line = 1) {
  return ScriptItem::Make(type, text, "t.odl", line);
}

class HtmlReportTest : public ScratchTest {
 protected:
  std::string Document(ScriptItem& root) {
    std::string path = (dir_ / "t.odl_2026_12_10_10_11_12.xml").string();
    WriteFile(path, ResultsXml(root, HeaderForNow("t.odl", "", {"t.odl_2026_12_10_10_11_12.log"})));
    return path;
  }
  std::string Page(const std::string& xml, PageLimits limits = PageLimits(), ReportOutcome* outcome = nullptr) {
    std::string html = HtmlPathFor(xml);
    std::string error;
    EXPECT_TRUE(WriteHtmlReport(xml, html, nullptr, outcome, &error, limits)) << error;
    return ReadFile(html);
  }
  static nlohmann::json Data(const std::string& page) {
    const std::string open = "<script type=\"application/json\" id=\"report-data\">";
    std::size_t start = page.find(open);
    EXPECT_NE(start, std::string::npos);
    start += open.size();
    return nlohmann::json::parse(page.substr(start, page.find("</script>", start) - start));
  }
};

TEST_F(HtmlReportTest, PageIsSelfContainedEscapedAndCarriesTheTree) {
  auto root = Item(rootItem, "root", 0);
  auto comment = Item(commentItem, "# </script><b>bold</b>", 1);
  root->AddChild(comment);
  auto row = Item(resultItem, "Check <one>", 2);
  auto check = Item(testResultItem, "failed", 2);
  row->AddChild(check);
  root->AddChild(row);
  comment->RecordResult(TestPassed, 1, 0.0, {Variant::String("</script>")});
  check->RecordResult(TestFailed, 1, 0.0, {Variant::Double(2.5)});
  row->RecordResult(TestFailed, 1, 0.0);
  root->RecordResult(TestFailed, 1, 0.0);
  std::string page = Page(Document(*root));

  EXPECT_EQ(page.find("<script src"), std::string::npos);
  EXPECT_EQ(page.find("<link"), std::string::npos);
  EXPECT_EQ(page.find("http"), std::string::npos) << "nothing is fetched";
  EXPECT_EQ(page.find("<b>bold"), std::string::npos) << "item text is never markup";
  // The document's own script element is the only one besides the data.
  std::size_t scripts = 0;
  for (std::size_t at = page.find("</script>"); at != std::string::npos; at = page.find("</script>", at + 1)) {
    ++scripts;
  }
  EXPECT_EQ(scripts, 2u);
  EXPECT_NE(page.find("id=\"verdict\" data-result=\"Failed\""), std::string::npos);
  EXPECT_NE(page.find("Check &lt;one&gt;"), std::string::npos);
  EXPECT_NE(page.find("<code>2.5</code>"), std::string::npos) << "not 2.5000000000";
  EXPECT_NE(page.find("<span class=\"unset\">not set</span>"), std::string::npos);
  EXPECT_NE(page.find("href=\"t.odl_2026_12_10_10_11_12.xml\""), std::string::npos);
  EXPECT_NE(page.find("href=\"t.odl_2026_12_10_10_11_12.log\""), std::string::npos);

  nlohmann::json data = Data(page);
  const nlohmann::json& tree = data["root"];
  EXPECT_EQ(tree[0], "root");
  EXPECT_EQ(tree[8], 2) << "a failure inside";
  ASSERT_EQ(tree[7].size(), 2u) << "the comment and the row, with the statement inside the row";
  EXPECT_EQ(tree[7][0][1], "# </script><b>bold</b>");
  EXPECT_EQ(tree[7][0][4][0][4], "\"</script>\"");
  EXPECT_EQ(tree[7][1][8], 2);
  EXPECT_EQ(tree[7][1][7][0][8], 1) << "the failing statement itself";
  EXPECT_EQ(data["left_out"], 0);
}

TEST_F(HtmlReportTest, LargeRunsAreCutInTheTreeButNotInTheFailures) {
  auto root = Item(rootItem, "root", 0);
  for (int i = 1; i <= 60; ++i) {
    auto statement = Item(testResultItem, i == 60 ? "failed" : "passed", static_cast<std::uint32_t>(i));
    root->AddChild(statement);
    statement->RecordResult(i == 60 ? TestFailed : TestPassed, 1, 0.0);
  }
  // A loop body that ran 500 times and failed once late.
  auto loop = Item(testResultItem, "warning", 61);
  root->AddChild(loop);
  for (int i = 0; i < 500; ++i) loop->RecordResult(i == 400 ? TestError : TestPassed, 1, 0.0);
  root->RecordResult(TestFailed, 1, 0.0);
  std::string xml = Document(*root);

  ReportOutcome whole;
  nlohmann::json data = Data(Page(xml, PageLimits(), &whole));
  const nlohmann::json& runs = data["root"][7][60][4];
  EXPECT_EQ(runs.size(), kRunsShown + 1) << "the first runs and the failing one";
  EXPECT_EQ(runs.back()[1], TestError);
  EXPECT_EQ(data["root"][7][60][5][TestPassed], 499);

  ReportOutcome cut;
  std::string page = Page(xml, PageLimits{400}, &cut);
  data = Data(page);
  EXPECT_GT(cut.items_left_out, 0u);
  EXPECT_EQ(data["left_out"], cut.items_left_out);
  EXPECT_LT(data["root"][7].size(), 61u);
  EXPECT_NE(page.find("id=\"tree-cut\""), std::string::npos);
  EXPECT_EQ(cut.digest.failures_total, 2u) << "the head still covers the whole run";
  EXPECT_NE(page.find("fail"), std::string::npos);
}

}  // namespace
}  // namespace ordalis::report
