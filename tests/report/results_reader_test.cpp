// Reading results documents into a digest: verdict, named results, failures and the repair of
// documents that are not well-formed UTF-8.

#include "report/results_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unordered_map>

#include "engine/results_writer.h"
#include "language/script_item.h"
#include "report/results_index.h"
#include "report/run_digest.h"
#include "report_test_support.h"

namespace ordalis::report {
namespace {

ScriptItemPtr Item(ItemType type, const std::string& text, std::uint32_t line) {
  return ScriptItem::Make(type, text, "t.odl", line);
}

// root
//   x = 1                           line 1, passed with values 1, 2.5, "a", true, [1, "b"]
//   result "Check"                  line 2, failed
//     if (condition) then t.Fail()  lines 2-3, the call failed without values
//   ignoreresult                    line 4
//     failed                        line 5, failed but ignored
//   result "Never"                  line 6, not run
ScriptItemPtr SampleTree() {
  auto root = Item(rootItem, "root", 0);
  auto assignment = Item(assignmentItem, "=", 1);
  assignment->AddChild(Item(idItem, "x", 1));
  assignment->AddChild(Item(integerItem, "1", 1));
  root->AddChild(assignment);
  assignment->RecordResult(TestPassed, 1, 0.0, {Variant::Int(1), Variant::Double(2.5), Variant::String("a"),
                                                Variant::Bool(true),
                                                Variant::Array({Variant::Int(1), Variant::String("b")})});
  auto row = Item(resultItem, "Check", 2);
  auto condition = Item(ifItem, "if", 2);
  condition->AddChild(Item(boolItem, "true", 2));
  auto then = Item(thenItem, "then", 2);
  auto call = Item(actionItem, ".", 3);
  call->AddChild(Item(idItem, "t", 3));
  call->AddChild(Item(idItem, "Fail", 3));
  then->AddChild(call);
  condition->AddChild(then);
  row->AddChild(condition);
  root->AddChild(row);
  call->RecordResult(TestFailed, 1, 0.25, {Variant::String("Failed")});
  then->RecordResult(TestFailed, 1, 0.25);
  row->RecordResult(TestFailed, 1, 0.25);
  auto ignore = Item(ignoreResultItem, "ignoreresult", 4);
  auto ignored = Item(testResultItem, "failed", 5);
  ignore->AddChild(ignored);
  root->AddChild(ignore);
  ignored->RecordResult(TestFailed, 1, 0.0);
  ignore->RecordResult(TestPassed, 1, 0.0);
  root->AddChild(Item(resultItem, "Never", 6));
  root->RecordResult(TestFailed, 1, 1.5);
  return root;
}

class ResultsReaderTest : public ScratchTest {
 protected:
  std::string Document(ScriptItem& root) {
    ResultsHeader header;
    header.script_file_name = "t.odl";
    header.host_name = "bench";
    header.date = "2026-12-10";
    header.time = "10:11:12";
    header.log_files = {"t.odl_2026_12_10_10_11_12.log"};
    std::string path = (dir_ / "t.xml").string();
    WriteFile(path, ResultsXml(root, header));
    return path;
  }
};

TEST_F(ResultsReaderTest, DigestsVerdictRowsAndFailures) {
  ScriptItemPtr root = SampleTree();
  RunDigest digest;
  std::string error;
  ASSERT_TRUE(DigestResults(Document(*root), nullptr, &digest, &error)) << error;
  EXPECT_EQ(digest.heading.name, "t.odl");
  EXPECT_EQ(digest.heading.log_files, std::vector<std::string>{"t.odl_2026_12_10_10_11_12.log"});
  EXPECT_EQ(digest.verdict, TestFailed);
  EXPECT_DOUBLE_EQ(digest.duration, 1.5);
  ASSERT_EQ(digest.rows.size(), 2u);
  EXPECT_EQ(digest.rows[0].text, "Check");
  EXPECT_EQ(digest.rows[0].overall, TestFailed);
  EXPECT_EQ(digest.rows[0].counts[TestFailed], 1u);
  EXPECT_TRUE(digest.rows[0].has_failure);
  EXPECT_EQ(digest.rows[0].failing_statements, 1u) << "counted once, however deep inside the row";
  EXPECT_EQ(digest.rows[1].overall, TestNotRun);
  // The ignored failure and the blocks around the call are not failures of their own.
  ASSERT_EQ(digest.failures_total, 1u);
  const FailureDigest& failure = digest.failures[0];
  EXPECT_EQ(failure.text, "t.Fail( )");
  EXPECT_EQ(failure.values, "") << "a call without values records only its result word";
  EXPECT_EQ(failure.line, 0u) << "the document alone has no lines";
  EXPECT_EQ(failure.ConsoleLine(), "Failed: t.Fail( )");
  EXPECT_EQ(digest.failures_outside_rows, 0u);
  EXPECT_EQ(digest.statements[TestPassed], 1u);
  EXPECT_EQ(digest.statements[TestFailed], 1u) << "the failed word inside ignoreresult does not count";
}

// A compact document (Passed runs folded into one run with a count) gives the digest the full
// document gives: the same verdict, row counts, statement counts and failures.
TEST_F(ResultsReaderTest, CompactDocumentsDigestAsTheFullOnes) {
  auto root = Item(rootItem, "root", 0);
  auto row = Item(resultItem, "Soak", 1);
  auto check = Item(testResultItem, "passed", 2);
  row->AddChild(check);
  root->AddChild(row);
  for (std::uint32_t i = 1; i <= 6; ++i) {
    Result result = i == 4 ? TestFailed : TestPassed;
    check->RecordResult(result, i, 0.0);
    row->RecordResult(result, i, 0.0);
    root->RecordResult(result, i, 0.0);
  }
  RunDigest full;
  RunDigest compact;
  std::string error;
  ASSERT_TRUE(DigestResults(Document(*root), nullptr, &full, &error)) << error;
  ResultsHeader header;
  header.script_file_name = "t.odl";
  header.keep_runs = KeepRuns::kFailed;
  std::string path = (dir_ / "compact.xml").string();
  std::string xml = ResultsXml(*root, header);
  ASSERT_NE(xml.find("<run count=\"5\">"), std::string::npos) << xml;
  WriteFile(path, xml);
  ASSERT_TRUE(DigestResults(path, nullptr, &compact, &error)) << error;
  EXPECT_EQ(compact.verdict, TestFailed);
  EXPECT_EQ(compact.verdict, full.verdict);
  ASSERT_EQ(compact.rows.size(), 1u);
  ASSERT_EQ(full.rows.size(), 1u);
  EXPECT_EQ(compact.rows[0].counts, full.rows[0].counts);
  EXPECT_EQ(compact.rows[0].counts[TestPassed], 5u);
  EXPECT_EQ(compact.statements, full.statements);
  EXPECT_EQ(compact.failures_total, full.failures_total);
}

TEST_F(ResultsReaderTest, ValuesReadAsTheLanguagePrintsThem) {
  ScriptItemPtr root = SampleTree();
  struct Collector : ResultsVisitor {
    void OnHeading(const ResultsHeading&) override {}
    void OnNodeStart(const NodeHead&) override {}
    void OnRun(const RunEntry& run) override {
      if (texts.empty()) texts.push_back(ValuesText(run.values, run.result));
    }
    void OnNodeResult(Result) override {}
    void OnNodeEnd() override {}
    std::vector<std::string> texts;
  } collector;
  // The root's run comes first; skip it by reading the assignment's.
  root->ResetResults();
  root->child(0)->RecordResult(TestPassed, 1, 0.0, {Variant::Int(1), Variant::Double(2.5), Variant::String("a"),
                                                   Variant::Bool(true)});
  std::string error;
  ASSERT_TRUE(ReadResults(Document(*root), {&collector}, nullptr, &error)) << error;
  ASSERT_EQ(collector.texts.size(), 1u);
  EXPECT_EQ(collector.texts[0], "1, 2.5, \"a\", true");
}

// The measurements of every run, as the reader hands them on.
struct MeasurementCollector : ResultsVisitor {
  void OnHeading(const ResultsHeading&) override {}
  void OnNodeStart(const NodeHead&) override {}
  void OnRun(const RunEntry& run) override {
    runs.push_back(run.measurements);
    cut.push_back(run.measurements_cut);
  }
  void OnNodeResult(Result) override {}
  void OnNodeEnd() override {}
  std::vector<std::vector<Measurement>> runs;
  std::vector<bool> cut;
};

// A document with one run of the root whose measurements are [body].
std::string MeasuredDocument(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<odl_script_result>\r\n <name>t.odl</name>\r\n"
         " <node>\r\n  <type>root</type>\r\n  <text>root</text>\r\n  <run>\r\n   <iteration>1</iteration>\r\n"
         "   <result>Failed</result>\r\n   <values><item><type>Integer</type><value>1</value></item></values>\r\n"
         "   <measurements>" + body + "</measurements>\r\n  </run>\r\n"
         "  <overall_result>Failed</overall_result>\r\n </node>\r\n</odl_script_result>\r\n";
}

struct MeasurementCase {
  const char* name;
  std::string element;
  Measurement expected;
};

class MeasurementReadTest : public ResultsReaderTest, public testing::WithParamInterface<MeasurementCase> {};

TEST_P(MeasurementReadTest, ReadsEveryPartBack) {
  const MeasurementCase& c = GetParam();
  WriteFile(dir_ / "m.xml", MeasuredDocument(c.element));
  MeasurementCollector collector;
  std::string error;
  ASSERT_TRUE(ReadResults((dir_ / "m.xml").string(), {&collector}, nullptr, &error)) << error;
  ASSERT_EQ(collector.runs.size(), 1u);
  ASSERT_EQ(collector.runs[0].size(), 1u);
  const Measurement& got = collector.runs[0][0];
  const Measurement& want = c.expected;
  EXPECT_EQ(got.name, want.name);
  EXPECT_EQ(got.kind, want.kind);
  if (std::isnan(want.number)) {
    EXPECT_TRUE(std::isnan(got.number));
  } else {
    EXPECT_EQ(got.number, want.number);
  }
  EXPECT_EQ(got.text, want.text);
  EXPECT_EQ(got.unit, want.unit);
  EXPECT_EQ(got.low, want.low);
  EXPECT_EQ(got.high, want.high);
  EXPECT_EQ(got.comparison, want.comparison);
  EXPECT_EQ(got.result, want.result);
}

INSTANTIATE_TEST_SUITE_P(
    Measurements, MeasurementReadTest,
    testing::Values(
        MeasurementCase{"NumberWithLimits",
                        "<measurement><name>3.3 V rail</name><type>Double</type><value>4.9963</value>"
                        "<unit>V</unit><low>3.2</low><high>3.4</high><comparison>GELE</comparison>"
                        "<result>Failed</result></measurement>",
                        {"3.3 V rail", MeasuredKind::kNumber, 4.9963, "4.9963", "V", 3.2, 3.4,
                         Comparison::kBetweenInclusive, TestFailed}},
        MeasurementCase{"TextWithoutLimits",
                        "<measurement><name>serial &amp; lot</name><type>String</type><value> SN 7 </value>"
                        "<comparison>LOG</comparison><result>Passed</result></measurement>",
                        {"serial & lot", MeasuredKind::kText, 0, " SN 7 ", "", std::nullopt, std::nullopt,
                         Comparison::kLogOnly, TestPassed}},
        MeasurementCase{"BooleanLowOnly",
                        "<measurement><name>relay</name><type>Boolean</type><value>true</value>"
                        "<unit>\xCE\xA9</unit><low>1</low><comparison>eq</comparison><result>Passed</result>"
                        "</measurement>",
                        {"relay", MeasuredKind::kBoolean, 1, "true", "\xCE\xA9", 1.0, std::nullopt,
                         Comparison::kEqual, TestPassed}},
        MeasurementCase{"UnreadableNumberAndLimits",
                        "<measurement><name>x</name><type>Double</type><value>lots</value><low>3 V</low>"
                        "<high>INF</high><comparison>BETWEEN</comparison><result>Warning</result></measurement>",
                        {"x", MeasuredKind::kNumber, std::nan(""), "lots", "", std::nullopt,
                         std::numeric_limits<double>::infinity(), Comparison::kLogOnly, TestWarning}},
        MeasurementCase{"UnknownTypeAndParts",
                        "<measurement><name>y</name><type>Complex</type><value>1+2i</value><extra>z</extra>"
                        "<comparison>NE</comparison><low>0</low><result>Passed</result></measurement>",
                        {"y", MeasuredKind::kText, 0, "1+2i", "", 0.0, std::nullopt, Comparison::kNotEqual,
                         TestPassed}}),
    [](const testing::TestParamInfo<MeasurementCase>& info) { return info.param.name; });

// Measurements as the writer writes them come back; a run holds at most the reader's limit and
// says when it held more; a document without them reads as before.
TEST_F(ResultsReaderTest, MeasurementsAreReadWithinTheLimit) {
  ScriptItemPtr root = SampleTree();
  std::vector<Measurement> many(kMaxRunMeasurements + 3);
  for (std::size_t i = 0; i < many.size(); ++i) {
    many[i] = {"m" + std::to_string(i), MeasuredKind::kNumber, 0.5, "0.5", "A", 0.0, 1.0,
               Comparison::kBetweenExclusive, TestPassed};
  }
  root->child(0)->RecordResult(TestPassed, 2, 0.0, {}, MeasurementList(many));
  root->child(0)->RecordResult(TestPassed, 3, 0.0, {}, MeasurementList({many[7]}));
  MeasurementCollector collector;
  std::string error;
  ASSERT_TRUE(ReadResults(Document(*root), {&collector}, nullptr, &error)) << error;
  // The root's run, then the assignment's three.
  ASSERT_GE(collector.runs.size(), 4u);
  EXPECT_TRUE(collector.runs[1].empty());
  EXPECT_FALSE(collector.cut[1]);
  ASSERT_EQ(collector.runs[2].size(), kMaxRunMeasurements);
  EXPECT_TRUE(collector.cut[2]);
  ASSERT_EQ(collector.runs[3].size(), 1u);
  EXPECT_FALSE(collector.cut[3]);
  EXPECT_EQ(collector.runs[3][0].name, "m7");
  EXPECT_EQ(collector.runs[3][0].number, 0.5);
  EXPECT_EQ(collector.runs[3][0].unit, "A");
  EXPECT_EQ(collector.runs[3][0].high, 1.0);
  EXPECT_EQ(collector.runs[3][0].comparison, Comparison::kBetweenExclusive);
}

TEST_F(ResultsReaderTest, AnnotationsGiveLinesAndAreDroppedForAnotherTree) {
  ScriptItemPtr root = SampleTree();
  std::string path = Document(*root);
  RunAnnotations notes;
  std::unordered_map<const ScriptItem*, std::size_t> index_of;
  NoteTree(*root, &notes, &index_of);
  RunDigest digest;
  std::string error;
  ASSERT_TRUE(DigestResults(path, &notes, &digest, &error)) << error;
  ASSERT_EQ(digest.failures.size(), 1u);
  EXPECT_EQ(digest.failures[0].ConsoleLine(), "t.odl(3): Failed: t.Fail( )");
  EXPECT_EQ(digest.rows[0].line, 2u);

  // Notes of a different tree must not put wrong lines on the document's items.
  RunAnnotations other;
  auto small = Item(rootItem, "root", 0);
  small->AddChild(Item(commentItem, "# hello", 9));
  NoteTree(*small, &other, &index_of);
  ASSERT_TRUE(DigestResults(path, &other, &digest, &error)) << error;
  EXPECT_EQ(digest.failures[0].line, 0u);
}

// Documents as earlier versions and other producers wrote them: each must be read, with its
// text repaired into UTF-8 the way the results writer now writes it.
struct RepairCase {
  const char* name;
  const char* declaration;
  std::string text_bytes;
  std::string expected;
};

class RepairTest : public ResultsReaderTest, public testing::WithParamInterface<RepairCase> {};

TEST_P(RepairTest, ReadsTheTextBack) {
  const RepairCase& c = GetParam();
  std::string document = std::string("<?xml version=\"1.0\" encoding=\"") + c.declaration +
                         "\"?>\r\n<odl_script_result>\r\n <name>t.odl</name>\r\n <node>\r\n  <type>root</type>\r\n"
                         "  <text>" + c.text_bytes + "</text>\r\n  <overall_result>Not Run</overall_result>\r\n"
                         " </node>\r\n</odl_script_result>\r\n";
  WriteFile(dir_ / "old.xml", document);
  struct Texts : ResultsVisitor {
    void OnHeading(const ResultsHeading&) override {}
    void OnNodeStart(const NodeHead& head) override { text = head.text; }
    void OnRun(const RunEntry&) override {}
    void OnNodeResult(Result) override {}
    void OnNodeEnd() override {}
    std::string text;
  } texts;
  std::string error;
  ASSERT_TRUE(ReadResults((dir_ / "old.xml").string(), {&texts}, nullptr, &error)) << error;
  EXPECT_EQ(texts.text, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, RepairTest,
    testing::Values(RepairCase{"Utf8", "UTF-8", "caf\xC3\xA9 &lt;1&gt;", "caf\xC3\xA9 <1>"},
                    RepairCase{"Latin1Declared", "iso-8859-1", "caf\xE9", "caf\xC3\xA9"},
                    RepairCase{"Latin1ByteInUtf8", "UTF-8", "caf\xE9 ok", "caf\xC3\xA9 ok"},
                    RepairCase{"ControlByte", "UTF-8", std::string("ack\x06", 4), "ack\\x06"},
                    RepairCase{"CutSequence", "UTF-8", "end\xE2\x82", "end\xC3\xA2\xC2\x82"}),
    [](const testing::TestParamInfo<RepairCase>& info) { return info.param.name; });

TEST_F(ResultsReaderTest, RefusesWhatIsNotAResultsDocument) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* error;
  };
  const Case cases[] = {
      {"other.xml", "<?xml version=\"1.0\"?><testsuites/>", "not a results document"},
      {"cut.xml", "<?xml version=\"1.0\"?>\n<odl_script_result>\n <node>\n  <type>root", "line "},
      {"missing.xml", "", "No such file"},
  };
  for (const Case& c : cases) {
    if (!c.bytes.empty()) WriteFile(dir_ / c.name, c.bytes);
    RunDigest digest;
    std::string error;
    EXPECT_FALSE(DigestResults((dir_ / c.name).string(), nullptr, &digest, &error)) << c.name;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
  }
}

// A results document never declares a document type. A file that does is refused before its
// declarations are read, so no entity is expanded however deeply they nest, and the index of
// its folder lists it as unreadable.
struct DeclaredDocument {
  const char* name;
  const char* doctype;  // put before the root element of a good results document
};

const DeclaredDocument kDeclaredDocuments[] = {
    {"InternalEntity", "<!DOCTYPE odl_script_result [<!ENTITY e \"1.2\">]>"},
    {"NestedEntities",
     "<!DOCTYPE odl_script_result [<!ENTITY a \"aaaaaaaa\">"
     "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
     "<!ENTITY e \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"},
    {"ParameterEntity", "<!DOCTYPE odl_script_result [<!ENTITY % p \"<!ENTITY e 'x'>\"> %p;]>"},
    {"ExternalEntity", "<!DOCTYPE odl_script_result [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>"},
    {"ExternalSubset", "<!DOCTYPE odl_script_result SYSTEM \"Ordalis4_2.dtd\">"},
};

class DeclaredDocumentTest : public ScratchTest, public testing::WithParamInterface<DeclaredDocument> {};

TEST_P(DeclaredDocumentTest, IsRefusedUnreadAndListedUnreadable) {
  auto root = Item(rootItem, "root", 0);
  root->RecordResult(TestPassed, 1, 0.0);
  std::string xml = ResultsXml(*root, HeaderForNow("t.odl", "VERSION", {"t.log"}));
  std::string entity = std::string(GetParam().name) == "ExternalSubset" ? "1.2" : "&e;";
  xml.replace(xml.find("VERSION"), 7, entity);
  xml.insert(xml.find("<odl_script_result"), std::string(GetParam().doctype) + "\r\n");
  fs::path path = dir_ / "t.odl_2026_12_10_10_11_12.xml";
  WriteFile(path, xml);

  RunDigest digest;
  std::string error;
  EXPECT_FALSE(DigestResults(path.string(), nullptr, &digest, &error));
  EXPECT_NE(error.find("document type"), std::string::npos) << error;
  ASSERT_TRUE(WriteResultsIndex(dir_.string(), &error)) << error;
  EXPECT_NE(ReadFile(dir_ / kIndexFile).find("Unreadable"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Declarations, DeclaredDocumentTest, testing::ValuesIn(kDeclaredDocuments),
                         [](const testing::TestParamInfo<DeclaredDocument>& info) { return info.param.name; });

// A broken XML declaration stops the reader's events before the document type comes, but the
// parser still keeps the entities it declares; they are freed with the reading (the sanitizer
// build finds them otherwise).
TEST_F(ScratchTest, EntitiesDeclaredAfterAnErrorAreReadNoFurther) {
  fs::path path = dir_ / "t.odl_2026_12_10_10_11_12.xml";
  WriteFile(path, "<?xml varsion=\"1.0\"?>\n<!DOCTYPE odl_script_result [\n <!ENTITY a \"aaaaaaaa\">\n"
                  " <!ENTITY b \"&a;&\n]>\n<odl_script_result><name>&d;</name></odl_script_result>\n");
  RunDigest digest;
  std::string error;
  EXPECT_FALSE(DigestResults(path.string(), nullptr, &digest, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace ordalis::report
