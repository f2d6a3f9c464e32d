// Token rules seen through the trees they produce: keyword case, literal forms, string
// delimiters, white space, stray characters, line counting and the script directory.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "language/lexical_analyser.h"
#include "tree_notation.h"

namespace ordalis {
namespace {

using testing::LoadedText;
using testing::TreeOf;

struct ScanCase {
  std::string script;
  std::string tree;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.script); }

class ScannerTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScannerTest, Scans) { EXPECT_EQ(TreeOf(GetParam().script), GetParam().tree); }

std::string Assigned(const std::string& values) {
  return "assignmentItem\"=\"[idItem\"x\"," + values + "]";
}

const ScanCase kTokens[] = {
    // Keywords in any case, and those that are keywords only in lower case.
    {"x = a AND b && c And d",
     Assigned(R"T(andItem"and"[andItem"and"[andItem"and"[idItem"a",idItem"b"],idItem"c"],idItem"d"])T")},
    {"x = a Or b || c", Assigned(R"T(orItem"or"[orItem"or"[idItem"a",idItem"b"],idItem"c"])T")},
    {"x = NOT a", Assigned(R"T(notItem"not"[idItem"a"])T")},
    {"If(1)", R"T(functionCallItem"If"[integerItem"1"])T"},
    {"WHILE(1)", R"T(functionCallItem"WHILE"[integerItem"1"])T"},
    {"Result(1)", R"T(functionCallItem"Result"[integerItem"1"])T"},
    {"x = iffy, result1, scriptdirx, True, Passed",
     Assigned(R"T(idItem"iffy",idItem"result1",idItem"scriptdirx",boolItem"true",testResultItem"passed")T")},
    {"AbOrT(\"s\") LOCAL x = 1 DeFault y = 2",
     R"T(abortItem"s",localItem"local"[assignmentItem"="[idItem"x",integerItem"1"]],defaultItem"default"[assignmentItem"="[idItem"y",integerItem"2"]])T"},
    {"FUNCTION f ENDFUNCTION IgnoreResult EndIgnoreResult",
     R"T(functionItem"f",ignoreResultItem"ignoreresult")T"},
    {"x = name_1", Assigned(R"T(idItem"name_1")T")},
    // Number forms.
    {"x = 08, 0778, 0", Assigned(R"T(integerItem"8",integerItem"778",integerItem"0")T")},
    {"x = 010", Assigned(R"T(octalItem"8")T")},
    {"x = 0X1F", Assigned(R"T(integerItem"0")T") + R"T(,errorItem"unexpected end of file",idItem"X1F")T"},
    {"x = 0xffffffff, &Hffffffff1", Assigned(R"T(hexItem"-1",hexItem"-15")T")},
    {"x = 1e5, 2E-3, 1.5e+2", Assigned(R"T(doubleItem"100000",doubleItem"0.002",doubleItem"150")T")},
    {"x = 1e", Assigned(R"T(integerItem"1")T") + R"T(,errorItem"unexpected end of file",idItem"e")T"},
    {"x = .5", R"T(assignmentItem"="[idItem"x"],errorItem".",errorItem"5")T"},
    {"x = a -1.5", Assigned(R"T(idItem"a")T") + R"T(,errorItem"-1.5")T"},
    {"x = 123456789.0", Assigned(R"T(doubleItem"1.23457e+08")T")},
    {"x = 0.0001, 0.00001", Assigned(R"T(doubleItem"0.0001",doubleItem"1e-05")T")},
    // Strings: both delimiters, backslash units, newlines inside.
    {"x = \"a\\\"b\"", Assigned(R"T(stringItem"a\"b")T")},
    {"x = \"a\\\\\"", Assigned(R"T(stringItem"a\\")T")},
    {"x = \x94quoted\x94", Assigned("stringItem\"quoted\"")},
    {"x = \"mixed\x94", Assigned("stringItem\"mixed\"")},
    {"x = \"two\nlines\"", Assigned("stringItem\"two\nlines\"")},
    {"x = \"\"", Assigned("stringItem\"\"")},
    {std::string("x = \"a\0b\"", 9), Assigned("stringItem\"a\"")},
    {std::string("x = 1 \0 y = 2", 13),
     Assigned("integerItem\"1\"") + R"T(,errorItem"",assignmentItem"="[idItem"y",integerItem"2"])T"},
    // White space and comments.
    {"a.b();c.d()\t;\n", R"T(actionItem"."[idItem"a",idItem"b"],actionItem"."[idItem"c",idItem"d"])T"},
    {"x = 1 # trailing", Assigned("integerItem\"1\"") + R"T(,commentItem"# trailing")T"},
    {"#", R"T(commentItem"#")T"},
    {"x = a\r\n", Assigned(R"T(idItem"a")T") + ",errorItem\"\r\""},
    // Text parsed from memory has no script directory.
    {"x = scriptdir, ScriptDirStr, scriptdirectory",
     Assigned(R"T(stringItem"",stringItem"",stringItem"")T")},
};
INSTANTIATE_TEST_SUITE_P(Tokens, ScannerTest, ::testing::ValuesIn(kTokens));

// The line of each item is the line counter when the item was made.
TEST(ScannerLines, NewlinesCountButNotInsideStrings) {
  ScriptItemPtr root = LoadedText("x = 1\n\n# c\ny = \"a\nb\"\nz = 3\nendif\n");
  ASSERT_EQ(root->child_count(), 5u);
  EXPECT_EQ(root->child(0)->line(), 1u);
  EXPECT_EQ(root->child(1)->line(), 3u);
  EXPECT_EQ(root->child(2)->line(), 4u);
  // The string's newline is not counted, so the later items carry one line less.
  EXPECT_EQ(root->child(3)->line(), 5u);
  EXPECT_EQ(root->child(4)->line(), 6u);
  EXPECT_EQ(root->child(4)->file_name(), "N/A");
}

TEST(ScannerInput, EmptyTextParsesNothing) {
  ScriptItemPtr root = ScriptItem::Make(rootItem, "root", "N/A", 0);
  LexicalAnalyser lexer(root, std::make_shared<const std::string>("N/A"));
  EXPECT_TRUE(lexer.ParseText(""));
  EXPECT_EQ(root->child_count(), 0u);
}

TEST(ScannerInput, UnopenableFileIsFalse) {
  ScriptItemPtr root = ScriptItem::Make(rootItem, "root", "N/A", 0);
  LexicalAnalyser lexer(root, std::make_shared<const std::string>("x"));
  EXPECT_FALSE(lexer.ParseFile(ORDALIS_TEST_DATA_DIR "/does_not_exist.odl", 1 << 20));
  EXPECT_FALSE(lexer.ParseFile(ORDALIS_TEST_DATA_DIR, 1 << 20));  // a directory
  EXPECT_EQ(root->child_count(), 0u);
}

class ScannerFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("ordalis_scan_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& text) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  std::filesystem::path dir_;
};

// Files are read in text mode: CR LF is one line end, a lone CR stays a stray character.
TEST_F(ScannerFile, CarriageReturnLineFeedReadsAsLineFeed) {
  std::string path = Write("crlf.odl", "x = 1\r\ny = 2\r\nz = 3\r");
  ScriptItemPtr root = ScriptItem::Make(rootItem, path, path, 0);
  ScriptLoader loader;
  ASSERT_TRUE(loader.Load(path, root));
  EXPECT_EQ(testing::ChildrenNotation(*root),
            R"T(assignmentItem"="[idItem"x",integerItem"1"],assignmentItem"="[idItem"y",integerItem"2"],assignmentItem"="[idItem"z",integerItem"3"],errorItem")T"
            "\r\"");
  EXPECT_EQ(root->child(1)->line(), 2u);
  EXPECT_EQ(root->child(1)->file_name(), path);
}

TEST_F(ScannerFile, ScriptDirectoryIsTheFilesDirectory) {
  std::string path = Write("dir.odl", "a = scriptdir\nb = scriptdirstr\n");
  ScriptItemPtr root = ScriptItem::Make(rootItem, path, path, 0);
  ASSERT_TRUE(ScriptLoader().Load(path, root));
  std::string directory = dir_.string() + "/";
  EXPECT_EQ(root->child(0)->child(1)->text(), directory);
  EXPECT_EQ(root->child(1)->child(1)->text(), directory);
}

struct DirectoryCase {
  const char* path;
  const char* working_directory;
  const char* expected;
};

class DirectoryTextTest : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(DirectoryTextTest, Escapes) {
  EXPECT_EQ(LexicalAnalyser::DirectoryText(GetParam().path, GetParam().working_directory),
            GetParam().expected);
}

const DirectoryCase kDirectories[] = {
    {"sub/a.odl", "/home/t", "/home/t/sub/"},
    {"a.odl", "/home/t", "/home/t/"},
    {"a.odl", "/", "/"},
    {"/abs/dir/a.odl", "/home/t", "/abs/dir/"},
    {"sub\\a.txt", "C:\\tests", "C:\\\\tests/sub\\\\"},
    {"C:\\x\\s.txt", "/ignored", "C:\\\\x\\\\"},
    {"\\\\server\\s.txt", "/ignored", "\\\\server\\\\"},
    {"x\\\\y\\a", "/w", "/w/x\\\\y\\\\"},
    {"/", "/w", "/"},
};
INSTANTIATE_TEST_SUITE_P(Paths, DirectoryTextTest, ::testing::ValuesIn(kDirectories));

}  // namespace
}  // namespace ordalis
