// The JUnit document: valid against the schema CI tools document, and read back by the parser
// that GitHub's JUnit reporter action uses.

#include "report/junit_writer.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include "engine/results_writer.h"
#include "language/script_item.h"
#include "report/run_digest.h"
#include "report_test_support.h"

namespace ordalis::report {
namespace {

ScriptItemPtr Item(ItemType type, const std::string& text, std::uint32_t line = 1) {
  return ScriptItem::Make(type, text, "t.odl", line);
}

// A named result holding one statement with [result] ([result] is TestNotRun: never ran).
ScriptItemPtr Row(const std::string& name, Result result) {
  auto row = Item(resultItem, name);
  auto statement = Item(testResultItem, "word");
  row->AddChild(statement);
  if (result == TestNotRun) return row;
  statement->RecordResult(result, 1, 0.5, {Variant::Int(7)});
  row->RecordResult(result, 1, 0.5);
  return row;
}

class JunitTest : public ScratchTest {
 protected:
  // Writes the JUnit document of [root], validates it and returns what the CI parser read.
  std::string Parsed(ScriptItem& root) {
    std::string xml = (dir_ / "t.xml").string();
    WriteFile(xml, ResultsXml(root, HeaderForNow("t.odl", "1.2", {"t.log"})));
    WriteFile(dir_ / "t.log", "2026/12/10 10:11:12.000 Info  :Script:Start & \x06\n");
    RunDigest digest;
    std::string error;
    EXPECT_TRUE(DigestResults(xml, nullptr, &digest, &error)) << error;
    std::string junit = (dir_ / "junit.xml").string();
    EXPECT_TRUE(WriteJunit(digest, xml, junit, &error)) << error;
    Outcome valid = RunShell("xmllint --noout --schema " + std::string(ORDALIS_TEST_DATA_DIR) +
                             "/junit-10.xsd " + junit);
    EXPECT_EQ(valid.status, 0) << valid.output;
    Outcome parsed = RunShell(
        "/usr/bin/python3 -c \"import sys\nfrom junitparser import JUnitXml\n"
        "for suite in JUnitXml.fromfile(sys.argv[1]):\n"
        "  print(suite.name, suite.tests, suite.failures, suite.errors, suite.skipped, suite.hostname is not None)\n"
        "  for case in suite:\n"
        "    print(case.name, case.classname, ','.join(r._tag + ':' + (r.message or '') for r in case.result))\n"
        "  print(repr(suite._elem.find('system-out').text))\" " + junit);
    EXPECT_EQ(parsed.status, 0) << parsed.output;
    return parsed.output;
  }
};

TEST_F(JunitTest, OneCasePerNamedResultWithItsOutcome) {
  auto root = Item(rootItem, "root", 0);
  root->AddChild(Row("ok", TestPassed));
  root->AddChild(Row("bad", TestFailed));
  root->AddChild(Row("broken", TestError));
  root->AddChild(Row("never", TestNotRun));
  root->AddChild(Row("warned", TestWarning));
  auto outside = Item(testResultItem, "failed", 9);
  root->AddChild(outside);
  outside->RecordResult(TestFailed, 1, 0.0);
  root->RecordResult(TestFailed, 1, 2.0);
  EXPECT_EQ(Parsed(*root),
            "t.odl 6 3 1 1 True\n"
            "ok t.odl \n"
            "bad t.odl failure:Failed: word \xE2\x80\x94 7\n"
            "broken t.odl error:Error: word \xE2\x80\x94 7\n"
            "never t.odl skipped:never: Not Run\n"
            // A Warning fails the run, so it fails its case, naming the statement.
            "warned t.odl failure:Warning: word \xE2\x80\x94 7\n"
            // A failure no named result holds still fails the suite.
            "statements outside named results t.odl failure:Failed: failed\n"
            "'2026/12/10 10:11:12.000 Info  :Script:Start & \\\\x06\\n'\n");
}

TEST_F(JunitTest, AScriptWithoutNamedResultsIsOneCase) {
  auto root = Item(rootItem, "root", 0);
  auto statement = Item(testResultItem, "passed");
  root->AddChild(statement);
  statement->RecordResult(TestPassed, 1, 0.0);
  root->RecordResult(TestPassed, 1, 0.0);
  EXPECT_EQ(Parsed(*root).substr(0, 32), "t.odl 1 0 0 0 True\nt.odl t.odl \n");
}

// Text from scripts, testers and instruments goes into every part of the document (names,
// attributes, the failure's lines, the log) by the one XML text rule: the document stays
// well-formed whatever bytes it carries.
struct HostileText {
  const char* name;
  std::string text;
};

const HostileText kHostileTexts[] = {
    {"ControlCharacter", std::string("a\x01" "b", 3)},
    {"TerminalEscape", "\x1b]0;title\x07\x1b[2J"},
    {"NulByte", std::string("a\0b", 3)},
    {"NotUtf8", "caf\xE9 \xFF\xFE"},
    {"CutSequence", "end \xE2\x82"},
    {"NonCharacter", "\xEF\xBF\xBE\xEF\xBF\xBF"},
    {"Markup", "</failure><x a=\"&amp;\" ]]> &"},
};

class JunitHostileTextTest : public testing::TestWithParam<HostileText> {};

TEST_P(JunitHostileTextTest, DocumentStaysWellFormed) {
  const std::string& text = GetParam().text;
  RunDigest digest;
  digest.heading.name = text;
  digest.heading.host_name = text;
  digest.heading.version_under_test = text;
  digest.script_file = text;
  digest.verdict = TestFailed;
  RowDigest row;
  row.text = text;
  row.file = text;
  row.line = 3;
  row.overall = TestFailed;
  row.has_failure = true;
  row.failing_statements = 2;
  row.first_failure.text = text;
  row.first_failure.type = text;
  row.first_failure.file = text;
  row.first_failure.values = text;
  row.first_failure.log_lines = {"2026/12/10 10:11:12.000 Info  :script:" + text, text};
  digest.rows.push_back(row);
  std::string document = JunitDocument(digest, "log " + text + "\n");
  xmlDocPtr parsed = xmlReadMemory(document.data(), static_cast<int>(document.size()), "junit.xml", nullptr,
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  EXPECT_NE(parsed, nullptr) << document;
  xmlFreeDoc(parsed);
}

INSTANTIATE_TEST_SUITE_P(Texts, JunitHostileTextTest, testing::ValuesIn(kHostileTexts),
                         [](const testing::TestParamInfo<HostileText>& info) { return info.param.name; });

}  // namespace
}  // namespace ordalis::report
