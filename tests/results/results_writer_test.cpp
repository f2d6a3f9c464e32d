#include "engine/results_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "language/script_item.h"
#include "support/temporary_folder.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

// The document with every date and time of day replaced by fixed text, so documents written at
// different moments compare equal.
std::string Normalise(std::string xml) {
  xml = std::regex_replace(xml, std::regex(R"(\d{4}-\d{2}-\d{2})"), "YYYY-MM-DD");
  xml = std::regex_replace(xml, std::regex(R"(\d{2}:\d{2}:\d{2})"), "hh:mm:ss");
  return xml;
}

ResultsHeader Header() {
  ResultsHeader header;
  header.script_file_name = "t&1.odl";
  header.host_name = "bench";
  header.date = "2026-12-10";
  header.time = "10:11:12";
  header.log_files = {"t.odl_2026_12_10_10_11_12.log", "t.odl_2026_12_10_10_11_12_a#1.trc"};
  return header;
}

ScriptItemPtr Item(ItemType type, const std::string& text) {
  return ScriptItem::Make(type, text, "t.odl", 1);
}

TEST(ResultsXml, WritesHeaderNodesRunsAndValues) {
  auto root = Item(rootItem, "root");
  auto assignment = Item(assignmentItem, "=");
  assignment->AddChild(Item(idItem, "x"));
  assignment->AddChild(Item(stringItem, "a<b"));
  root->AddChild(assignment);
  VariantArray values = {Variant::Int(7), Variant::Double(2.5), Variant::String("q\"&"),
                        Variant::Bool(true), Variant::Array({Variant::Int(1), Variant::String("s")}),
                        Variant::Other(VT_DATE)};
  assignment->RecordResult(TestWarning, 3, 1.2, values);
  root->RecordResult(TestWarning, 3, 1.2004);

  std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<?xml-stylesheet type=\"text/xsl\" href=\"Ordalis4_2.xsl\"?>\r\n"
      "<odl_script_result xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xsi:noNamespaceSchemaLocation=\"Ordalis4_2.xsd\">\r\n"
      " <name>t&amp;1.odl</name>\r\n"
      " <versionundertest>Undefined</versionundertest>\r\n"
      " <host_name>bench</host_name>\r\n"
      " <date>YYYY-MM-DD</date>\r\n"
      " <time>hh:mm:ss</time>\r\n"
      " <version>4.0n </version>\r\n"
      " <logfiles>\r\n"
      "  <logfile>t.odl_2026_12_10_10_11_12.log</logfile>\r\n"
      "  <logfile>t.odl_2026_12_10_10_11_12_a%231.trc</logfile>\r\n"
      " </logfiles>\r\n"
      " <node>\r\n"
      "  <type>root</type>\r\n"
      "  <text>root</text>\r\n"
      "  <run>\r\n"
      "   <iteration>3</iteration>\r\n"
      "    <result>Warning</result>\r\n"
      "   <timetakensec>1.200</timetakensec>\r\n"
      "   <date>YYYY-MM-DD </date>\r\n"
      "   <time>hh:mm:ss</time>\r\n"
      "  </run>\r\n"
      "  <overall_result>Warning</overall_result>\r\n"
      "  <node>\r\n"
      "   <type>assignment</type>\r\n"
      "   <text>x = &quot;a&lt;b&quot;</text>\r\n"
      "   <run>\r\n"
      "    <iteration>3</iteration>\r\n"
      "     <result>Warning</result>\r\n"
      "    <timetakensec>1.200</timetakensec>\r\n"
      "    <date>YYYY-MM-DD </date>\r\n"
      "    <time>hh:mm:ss</time>\r\n"
      "    <values>\r\n"
      "     <item>\r\n"
      "      <type>Integer</type>\r\n"
      "      <value>7</value>\r\n"
      "     </item>\r\n"
      "     <item>\r\n"
      "      <type>Double</type>\r\n"
      "      <value>2.5000000000</value>\r\n"
      "     </item>\r\n"
      "     <item>\r\n"
      "      <type>String</type>\r\n"
      "      <value>q&quot;&amp;</value>\r\n"
      "     </item>\r\n"
      "     <item>\r\n"
      "      <type>Boolean</type>\r\n"
      "      <value>true</value>\r\n"
      "     </item>\r\n"
      "     <item>\r\n"
      "      <type>Array</type>\r\n"
      "      <values>\r\n"
      "         <item>\r\n"
      "          <type>Integer</type>\r\n"
      "          <value>1</value>\r\n"
      "         </item>\r\n"
      "         <item>\r\n"
      "          <type>String</type>\r\n"
      "          <value>s</value>\r\n"
      "         </item>\r\n"
      "      </values>\r\n"
      "     </item>\r\n"
      "     <item>\r\n"
      "      <type>Unknown</type>\r\n"
      "      <value>Unknown</value>\r\n"
      "     </item>\r\n"
      "    </values>\r\n"
      "   </run>\r\n"
      "   <overall_result>Warning</overall_result>\r\n"
      "  </node>\r\n"
      " </node>\r\n"
      "</odl_script_result>\r\n";
  EXPECT_EQ(Normalise(ResultsXml(*root, Header())), Normalise(expected));
}

// A tree whose statements recorded many runs with every kind of value, the same each time it
// is built.
ScriptItemPtr RecordedTree(std::shared_ptr<ResultSpill> spill) {
  auto root = Item(rootItem, "root");
  if (spill) root->SetResultSpill(std::move(spill));
  auto loop = Item(whileItem, "while");
  loop->AddChild(Item(boolItem, "true"));
  auto body = Item(doItem, "do");
  auto assignment = Item(assignmentItem, "=");
  assignment->AddChild(Item(idItem, "x"));
  assignment->AddChild(Item(stringItem, "a<b"));
  body->AddChild(assignment);
  loop->AddChild(body);
  root->AddChild(loop);
  for (int n = 0; n < 4000; ++n) {
    auto iteration = static_cast<std::uint32_t>(n);
    loop->RecordResult(TestPassed, iteration, 0.001);
    VariantArray values;
    if (n % 7 == 0) {
      values = {Variant::Int(n), Variant::Double(n / 3.0), Variant::String("q\"&<" + std::to_string(n)),
                Variant::Bool(n % 2 == 0), Variant::Array({Variant::Int(1), Variant::Array(VariantArray{})}),
                Variant::Other(VT_DATE)};
    }
    assignment->RecordResult(n % 50 == 49 ? TestFailed : TestPassed, iteration, n * 0.001, values);
  }
  root->RecordResult(TestFailed, 1, 2.5);
  return root;
}

// The document of a run whose records went to the spill file is byte for byte the document of
// the same run kept in memory, and streaming it to a file writes exactly that text.
TEST(ResultsXml, SpilledAndStreamedDocumentsAreIdentical) {
  std::string in_memory = ResultsXml(*RecordedTree(nullptr), Header());
  auto spill = std::make_shared<ResultSpill>(fs::temp_directory_path().string(), SpillWindow{16, 40});
  ScriptItemPtr spilled = RecordedTree(spill);
  EXPECT_GT(spill->size(), 0u);
  EXPECT_EQ(Normalise(ResultsXml(*spilled, Header())), Normalise(in_memory));

  testing_support::TemporaryFolder folder("ordalis_streamed_");
  ASSERT_FALSE(folder.path().empty());
  const fs::path file = folder / "streamed.xml";
  {
    FILE* out = std::fopen(file.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    XmlOutput output(fileno(out));
    WriteResultsXml(*spilled, Header(), output);
    EXPECT_TRUE(output.Finish());
    std::fclose(out);
  }
  std::ifstream in(file, std::ios::binary);
  std::string streamed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_GT(streamed.size(), std::size_t{1} << 20);  // handed on to the file more than once
  EXPECT_EQ(streamed, ResultsXml(*spilled, Header()));
}

TEST(ResultsXml, IfAndWhileBranchesFollowAsSiblings) {
  auto root = Item(rootItem, "root");
  auto if_item = Item(ifItem, "if");
  if_item->AddChild(Item(boolItem, "true"));
  auto then_item = Item(thenItem, "then");
  then_item->AddChild(Item(commentItem, "# in then"));
  if_item->AddChild(then_item);
  if_item->AddChild(Item(elseItem, "else"));
  root->AddChild(if_item);
  std::string xml = ResultsXml(*root, Header());
  // The condition is written inside the if node; then and else follow it at the same depth.
  auto if_at = xml.find("  <type>if</type>");
  auto condition_at = xml.find("   <type>bool</type>");
  auto if_closed_at = xml.find("  </node>", condition_at);
  auto then_at = xml.find("  <type>then</type>");
  auto comment_at = xml.find("   <type>comment</type>");
  auto else_at = xml.find("  <type>else</type>");
  ASSERT_NE(if_at, std::string::npos);
  EXPECT_LT(if_at, condition_at);
  EXPECT_LT(condition_at, if_closed_at);
  EXPECT_LT(if_closed_at, then_at);
  EXPECT_LT(then_at, comment_at);
  EXPECT_LT(comment_at, else_at);
  EXPECT_NE(xml.find("<overall_result>Not Run</overall_result>"), std::string::npos);
  EXPECT_EQ(xml.find("<run>"), std::string::npos);
}

TEST(OverallResult, FoldsRunsInOrder) {
  struct Case {
    std::vector<Result> runs;
    Result expected;
  } cases[] = {
      {{}, TestNotRun},
      {{TestPassed, TestNotImplemented}, TestPassed},
      {{TestNotImplemented, TestPassed}, TestNotImplemented},
      {{TestPassed, TestWarning}, TestWarning},
      {{TestFailed, TestWarning, TestError}, TestFailed},
      {{TestError, TestWarning}, TestWarning},
      {{TestFailed, TestAborted}, TestAborted},
      {{TestNotRun, TestPassed}, TestPassed},
  };
  for (const Case& c : cases) {
    auto item = Item(commentItem, "#");
    for (Result r : c.runs) item->RecordResult(r, 1, 0.0);
    EXPECT_EQ(OverallResult(*item), c.expected);
  }
}

TEST(ResultsXmlName, CutsBackToTheLastDot) {
  EXPECT_EQ(ResultsXmlName("/x/r.txt"), "/x/r.xml");
  EXPECT_EQ(ResultsXmlName("/x/r"), "xml");
  EXPECT_EQ(ResultsXmlName("/a.b/r"), "/a.xml");
  EXPECT_EQ(ResultsXmlName("/x/run."), "/x/run.xml");
}

TEST(ResultsXmlName, TypeNamesOfTheDocument) {
  EXPECT_STREQ(ResultsTypeName(arrayIndexItem), "arrayIndex");
  EXPECT_STREQ(ResultsTypeName(functionCallItem), "functionCallItem");
  EXPECT_STREQ(ResultsTypeName(returnItem), "unknown");
  EXPECT_STREQ(ResultsTypeName(localItem), "local");
}

// The document of a run validates against the shipped schema when its item types lie within
// the schema's enumerations, and the stylesheet renders it.
class ResultsFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ordalis_results_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string Run(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    int status = pclose(pipe);
    if (status != 0) output += "\n[exit " + std::to_string(status) + "]";
    return output;
  }

  fs::path dir_;
};

TEST_F(ResultsFilesTest, ValidatesAgainstSchemaAndRenders) {
  auto root = Item(rootItem, "demo.odl");
  auto assignment = Item(assignmentItem, "=");
  assignment->AddChild(Item(idItem, "x"));
  assignment->AddChild(Item(integerItem, "5"));
  root->AddChild(assignment);
  assignment->RecordResult(TestPassed, 1, 0.001, {Variant::Int(5), Variant::String("five")});
  root->RecordResult(TestPassed, 1, 0.5);
  root->RecordResult(TestFailed, 2, 0.5);
  WriteCompanionFiles(dir_.string());
  ASSERT_TRUE(fs::exists(dir_ / kSchemaFile));
  ASSERT_TRUE(fs::exists(dir_ / kStylesheetFile));
  ASSERT_TRUE(fs::exists(dir_ / kViewerFile));

  std::string xml = ResultsXml(*root, Header());
  // libxml2 does not collapse the white space the run dates carry before their closing tag,
  // although the schema's date type allows it; validate with it removed.
  std::string for_validation = std::regex_replace(xml, std::regex(" </date>"), "</date>");
  std::ofstream(dir_ / "run.xml", std::ios::binary) << for_validation;
  std::string validation = Run("xmllint --noout --schema " + (dir_ / kSchemaFile).string() + " " +
                               (dir_ / "run.xml").string());
  EXPECT_NE(validation.find("validates"), std::string::npos) << validation;

  std::ofstream(dir_ / "raw.xml", std::ios::binary) << xml;
  std::string html = Run("xsltproc " + (dir_ / kStylesheetFile).string() + " " + (dir_ / "raw.xml").string());
  EXPECT_NE(html.find("<title>Test Results for t&amp;1.odl</title>"), std::string::npos) << html;
  EXPECT_NE(html.find("background-color: #FF0000"), std::string::npos);  // the failed root
  EXPECT_NE(html.find("1 of 2 runs passed (50%)"), std::string::npos);
  EXPECT_NE(html.find("Detailed Test Results"), std::string::npos);
  EXPECT_NE(html.find("x = 5"), std::string::npos);
}

// A run's measurements follow its values, each with only the parts it has; the shipped schema
// accepts the document, and a run without measurements has no element for them.
TEST_F(ResultsFilesTest, MeasurementsFollowTheValuesAndValidate) {
  auto root = Item(rootItem, "demo.odl");
  auto action = Item(actionItem, ".");
  action->AddChild(Item(idItem, "meter"));
  action->AddChild(Item(idItem, "Check"));
  root->AddChild(action);
  std::vector<Measurement> measured = {
      {"3.3 V rail", MeasuredKind::kNumber, 4.9963, "4.9963", "V", 3.2, 3.4,
       Comparison::kBetweenInclusive, TestFailed},
      {"Ω<&>", MeasuredKind::kText, 0, "a&b", "", std::nullopt, std::nullopt, Comparison::kLogOnly,
       TestPassed},
      {"relay", MeasuredKind::kBoolean, 1, "true", "", 0.1, std::nullopt, Comparison::kAtLeast,
       TestPassed},
  };
  action->RecordResult(TestFailed, 1, 0.25, {Variant::Double(4.9963)}, MeasurementList(measured));
  action->RecordResult(TestPassed, 2, 0.25);
  root->RecordResult(TestFailed, 1, 0.5);
  std::string xml = ResultsXml(*root, Header());
  const std::string expected =
      "    </values>\r\n"
      "    <measurements>\r\n"
      "     <measurement>\r\n"
      "      <name>3.3 V rail</name>\r\n"
      "      <type>Double</type>\r\n"
      "      <value>4.9963</value>\r\n"
      "      <unit>V</unit>\r\n"
      "      <low>3.2</low>\r\n"
      "      <high>3.4</high>\r\n"
      "      <comparison>GELE</comparison>\r\n"
      "      <result>Failed</result>\r\n"
      "     </measurement>\r\n"
      "     <measurement>\r\n"
      "      <name>Ω&lt;&amp;&gt;</name>\r\n"
      "      <type>String</type>\r\n"
      "      <value>a&amp;b</value>\r\n"
      "      <comparison>LOG</comparison>\r\n"
      "      <result>Passed</result>\r\n"
      "     </measurement>\r\n"
      "     <measurement>\r\n"
      "      <name>relay</name>\r\n"
      "      <type>Boolean</type>\r\n"
      "      <value>true</value>\r\n"
      "      <low>0.1</low>\r\n"
      "      <comparison>GE</comparison>\r\n"
      "      <result>Passed</result>\r\n"
      "     </measurement>\r\n"
      "    </measurements>\r\n"
      "   </run>\r\n";
  EXPECT_NE(xml.find(expected), std::string::npos) << xml;
  auto count = [&xml](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = xml.find(what); at != std::string::npos; at = xml.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<measurements>"), 1u);

  WriteCompanionFiles(dir_.string());
  std::ofstream(dir_ / "run.xml", std::ios::binary) << std::regex_replace(xml, std::regex(" </date>"), "</date>");
  std::string validation = Run("xmllint --noout --schema " + (dir_ / kSchemaFile).string() + " " +
                               (dir_ / "run.xml").string());
  EXPECT_NE(validation.find("validates"), std::string::npos) << validation;
}

// The compact form keeps every run that is not Passed and folds each item's Passed runs into
// one run carrying their count; the shipped schema accepts it as it accepts the full form.
TEST_F(ResultsFilesTest, CompactFormFoldsPassedRunsAndValidates) {
  ScriptItemPtr root = RecordedTree(nullptr);
  ResultsHeader header = Header();
  header.keep_runs = KeepRuns::kFailed;
  std::string compact = ResultsXml(*root, header);
  std::string full = ResultsXml(*root, Header());
  EXPECT_LT(compact.size() * 20, full.size());
  // The loop passed 4000 times; the assignment passed 3920 times and failed 80 times.
  EXPECT_NE(compact.find("\n   <run count=\"4000\">\r\n    <iteration>0</iteration>"), std::string::npos);
  EXPECT_NE(compact.find("\n    <run count=\"3920\">\r\n     <iteration>0</iteration>"), std::string::npos);
  auto count = [](const std::string& xml, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = xml.find(what); at != std::string::npos; at = xml.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(compact, "<result>Failed</result>"), count(full, "<result>Failed</result>"));
  EXPECT_EQ(count(compact, "<result>Passed</result>"), 2u);
  EXPECT_EQ(count(compact, "<overall_result>"), count(full, "<overall_result>"));

  WriteCompanionFiles(dir_.string());
  for (const auto& [name, xml] : {std::pair{"compact.xml", compact}, std::pair{"full.xml", full}}) {
    std::ofstream(dir_ / name, std::ios::binary) << xml;
    std::string validation = Run("xmllint --noout --schema " + (dir_ / kSchemaFile).string() + " " +
                                 (dir_ / name).string());
    EXPECT_NE(validation.find("validates"), std::string::npos) << name << ": " << validation;
  }
}

}  // namespace
}  // namespace ordalis
