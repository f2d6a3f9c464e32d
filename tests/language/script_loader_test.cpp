// ScriptLoader: includes spliced in place (nested, in branches, written with either separator),
// missing, empty, broken and circular include files, the loader's names, and scripts far
// longer or deeper than the parser stack.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "language/tree_builder.h"
#include "tree_notation.h"

namespace ordalis {
namespace {

using testing::ChildrenNotation;

const std::string kData = ORDALIS_TEST_DATA_DIR;

// Changes the working directory for one test and restores it.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& path)
      : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~WorkingDirectory() { std::filesystem::current_path(saved_); }

 private:
  std::filesystem::path saved_;
};

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// The height of the tree below [root], walked without recursion.
std::size_t TreeHeight(const ScriptItem& root) {
  std::size_t height = 0;
  std::vector<std::pair<const ScriptItem*, std::size_t>> pending = {{&root, 1}};
  while (!pending.empty()) {
    auto [item, depth] = pending.back();
    pending.pop_back();
    height = std::max(height, depth);
    for (const ScriptItemPtr& child : item->children()) pending.emplace_back(child.get(), depth + 1);
  }
  return height;
}

ScriptItemPtr NewRoot(const std::string& name) {
  return ScriptItem::Make(rootItem, name, name, 0);
}

std::string Assignment(const char* name, const char* value) {
  return std::string("assignmentItem\"=\"[idItem\"") + name + "\",integerItem\"" + value +
         "\"]";
}

struct IncludeCase {
  const char* file;
  std::string tree;
};

void PrintTo(const IncludeCase& c, std::ostream* os) { *os << c.file; }

class IncludeTest : public ::testing::TestWithParam<IncludeCase> {};

TEST_P(IncludeTest, Expands) {
  ScriptItemPtr root = NewRoot(GetParam().file);
  ASSERT_TRUE(ScriptLoader().Load(kData + "/" + GetParam().file, root));
  EXPECT_EQ(ChildrenNotation(*root), GetParam().tree);
}

const IncludeCase kIncludes[] = {
    {"main.odl", Assignment("x", "1") + "," + Assignment("z", "3") + "," +
                     Assignment("w", "4") + "," + Assignment("y", "2")},
    {"backslash.odl", Assignment("z", "3") + "," + Assignment("w", "4")},
    {"then_branch.odl", R"T(ifItem"if"[idItem"a",thenItem"then"[)T" + Assignment("w", "4") +
                            "," + Assignment("v", "5") + "]]"},
    {"missing_include.odl", Assignment("x", "1") + ",errorItem\"Failed to load '" + kData +
                                "/not_here.odl'\"," + Assignment("y", "2")},
    // An empty file leaves no trace, and the include after it is still expanded.
    {"empty_include.odl", Assignment("w", "4")},
    {"empty.odl", ""},
    // A file that includes itself, directly or through another, stops at the repeat.
    {"self.odl", Assignment("a", "1") + ",errorItem\"Recursive include '" + kData +
                     "/self.odl'\""},
    {"cycle_a.odl", Assignment("b", "1") + "," + Assignment("c", "1") +
                        ",errorItem\"Recursive include '" + kData + "/cycle_a.odl'\""},
    {"broken_include.odl", Assignment("x", "1") +
                               R"T(,assignmentItem"="[idItem"q",idItem"r"],errorItem"=",)T" +
                               R"T(errorItem"1",)T" + Assignment("y", "2")},
};
INSTANTIATE_TEST_SUITE_P(Files, IncludeTest, ::testing::ValuesIn(kIncludes));

TEST(ScriptLoaderTest, IncludedItemsCarryTheirOwnFileAndLine) {
  ScriptItemPtr root = NewRoot("main");
  ScriptLoader loader;
  ASSERT_TRUE(loader.Load(kData + "/main.odl", root));
  ASSERT_EQ(root->child_count(), 4u);
  EXPECT_EQ(root->child(0)->file_name(), kData + "/main.odl");
  EXPECT_EQ(root->child(1)->file_name(), kData + "/lib/b.odl");
  EXPECT_EQ(root->child(1)->line(), 1u);
  EXPECT_EQ(root->child(2)->file_name(), kData + "/lib/c.odl");
  EXPECT_EQ(root->child(1)->parent(), root.get());
  EXPECT_EQ(root->child(3)->line(), 3u);
  EXPECT_EQ(loader.FileName(), "main.odl");
  EXPECT_EQ(loader.Directory(), kData);
  EXPECT_EQ(loader.CurrentDirectory(), std::filesystem::current_path().string());
  EXPECT_EQ(loader.ErrorCount(), 0u);
}

TEST(ScriptLoaderTest, FailedIncludeKeepsTheIncludingLine) {
  ScriptItemPtr root = NewRoot("m");
  ScriptLoader loader;
  ASSERT_TRUE(loader.Load(kData + "/missing_include.odl", root));
  ScriptItem* error = root->child(1);
  EXPECT_EQ(error->type(), errorItem);
  EXPECT_EQ(error->file_name(), kData + "/missing_include.odl");
  EXPECT_EQ(error->line(), 2u);
  EXPECT_EQ(error->current_result(), TestError);
  EXPECT_EQ(loader.ErrorCount(), 1u);
}

TEST(ScriptLoaderTest, PathsWithBackslashesOpenTheSameFile) {
  ScriptItemPtr slashes = NewRoot("a");
  ScriptItemPtr backslashes = NewRoot("b");
  ASSERT_TRUE(ScriptLoader().Load(kData + "/main.odl", slashes));
  ScriptLoader loader;
  ASSERT_TRUE(loader.Load(kData + "\\\\lib\\..\\main.odl", backslashes));
  EXPECT_EQ(ChildrenNotation(*backslashes), ChildrenNotation(*slashes));
  EXPECT_EQ(loader.FileName(), "main.odl");
  EXPECT_EQ(loader.Directory(), kData + "//lib/..");
}

TEST(ScriptLoaderTest, NamesOfARelativePath) {
  WorkingDirectory in(kData);
  ScriptItemPtr root = NewRoot("main");
  ScriptLoader loader;
  ASSERT_TRUE(loader.Load("main.odl", root));
  EXPECT_EQ(loader.FileName(), "main.odl");
  EXPECT_EQ(loader.Directory(), "");
  EXPECT_EQ(root->child_count(), 4u);
  // The directory text makes the includes independent of the working directory.
  EXPECT_EQ(root->child(1)->file_name(), kData + "/lib/b.odl");
}

TEST(ScriptLoaderTest, MissingMainFileLeavesRootUnchanged) {
  ScriptItemPtr root = NewRoot("m");
  EXPECT_FALSE(ScriptLoader().Load(kData + "/no_such_script.odl", root));
  EXPECT_EQ(root->child_count(), 0u);
}

TEST(ScriptLoaderTest, LoadTextAppendsAndResolvesIncludesAgainstTheWorkingDirectory) {
  WorkingDirectory in(kData);
  ScriptItemPtr root = NewRoot("root");
  ScriptLoader loader;
  ASSERT_TRUE(loader.LoadText("a = 1", root));
  ASSERT_TRUE(loader.LoadText("include \"lib/c.odl\" b = 2", root));
  EXPECT_EQ(ChildrenNotation(*root),
            Assignment("a", "1") + "," + Assignment("w", "4") + "," + Assignment("b", "2"));
  EXPECT_EQ(root->child(1)->file_name(), "lib/c.odl");
  EXPECT_EQ(root->child(0)->file_name(), "N/A");
}

// Loads may be requested from any thread; each tree is complete when its call returns.
TEST(ScriptLoaderTest, LoadsFromSeveralThreads) {
  std::vector<std::thread> threads;
  std::vector<std::string> trees(4);
  for (std::size_t t = 0; t < trees.size(); ++t) {
    threads.emplace_back([t, &trees] {
      for (int i = 0; i < 20; ++i) {
        ScriptItemPtr root = NewRoot("r");
        if (t % 2 == 0) {
          ScriptLoader().Load(kData + "/main.odl", root);
        } else {
          ScriptLoader().LoadText("a = f(1, [2]) if a then b = 2 endif", root);
        }
        trees[t] = ChildrenNotation(*root);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(trees[0], trees[2]);
  EXPECT_EQ(trees[0], Assignment("x", "1") + "," + Assignment("z", "3") + "," +
                          Assignment("w", "4") + "," + Assignment("y", "2"));
  EXPECT_EQ(trees[1], trees[3]);
}

TEST(ScriptLoaderTest, ExpandIncludesReplacesIncludeItems) {
  ScriptItemPtr root = NewRoot("root");
  root->AddChild(ScriptItem::Make(idItem, "before", "f", 1));
  root->AddChild(ScriptItem::Make(includeItem, kData + "/lib/c.odl#lib/c.odl", "f", 2));
  EXPECT_TRUE(ScriptLoader().ExpandIncludes(root));
  EXPECT_EQ(ChildrenNotation(*root), "idItem\"before\"," + Assignment("w", "4"));
}

TEST(ScriptLoaderTest, IncludePath) {
  EXPECT_EQ(ScriptLoader::IncludePath("/d/lib\\b.odl#lib\\b.odl"), "/d/lib/b.odl");
  EXPECT_EQ(ScriptLoader::IncludePath("C:\\\\s\\\\lib\\b.txt#lib\\b.txt"), "C:/s/lib/b.txt");
  // A "#" in the directory or in the name does not cut the path short.
  EXPECT_EQ(ScriptLoader::IncludePath("/a#b/x.odl#x.odl"), "/a#b/x.odl");
  EXPECT_EQ(ScriptLoader::IncludePath("/d/x#y.odl#x#y.odl"), "/d/x#y.odl");
  EXPECT_EQ(ScriptLoader::IncludePath("/d/plain"), "/d/plain");
  // A name written as an absolute path is not put below the including script's directory.
  EXPECT_EQ(ScriptLoader::IncludePath("/d//abs/x.odl#/abs/x.odl"), "/abs/x.odl");
  EXPECT_EQ(ScriptLoader::IncludePath("/d/\\\\srv\\x.odl#\\\\srv\\x.odl"), "/srv/x.odl");
}

class GeneratedScripts : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("ordalis_loader_" + std::to_string(::getpid()));
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

TEST_F(GeneratedScripts, IncludesNestedTooDeeplyStop) {
  constexpr int kFiles = 40;
  for (int i = 0; i < kFiles; ++i) {
    Write("f" + std::to_string(i) + ".odl", "v" + std::to_string(i) + " = " + std::to_string(i) +
                                                "\ninclude \"f" + std::to_string(i + 1) +
                                                ".odl\"\n");
  }
  ScriptItemPtr root = NewRoot("f0");
  ASSERT_TRUE(ScriptLoader().Load((dir_ / "f0.odl").string(), root));
  const std::size_t kLevels = ScriptLoader::kMaxIncludeDepth + 1;
  ASSERT_EQ(root->child_count(), kLevels + 1);
  EXPECT_EQ(root->child(kLevels - 1)->child(0)->text(), "v" + std::to_string(kLevels - 1));
  ScriptItem* error = root->child(kLevels);
  EXPECT_EQ(error->type(), errorItem);
  EXPECT_EQ(error->text(), "Include nesting too deep '" + (dir_ / "f33.odl").string() + "'");
  EXPECT_EQ(error->file_name(), (dir_ / "f32.odl").string());
}

TEST_F(GeneratedScripts, IncludeByAbsolutePath) {
  std::string path = Write("abs.odl", "include \"" + kData + "/lib/c.odl\"\n");
  ScriptItemPtr root = NewRoot("abs");
  ASSERT_TRUE(ScriptLoader().Load(path, root));
  EXPECT_EQ(ChildrenNotation(*root), Assignment("w", "4"));
}

// Statement lists do not deepen the parser stack: a long script loads completely.
TEST_F(GeneratedScripts, LongScriptsLoadCompletely) {
  constexpr int kStatements = 30000;
  std::string text;
  for (int i = 0; i < kStatements; ++i) text += "x = " + std::to_string(i) + "\n";
  std::string nested = "if a then\n" + text + "endif\nlast = 1\n";
  ScriptItemPtr root = NewRoot("long");
  ScriptLoader loader;
  ASSERT_TRUE(loader.Load(Write("long.odl", text + nested), root));
  EXPECT_EQ(loader.ErrorCount(), 0u);
  ASSERT_EQ(root->child_count(), kStatements + 2u);
  EXPECT_EQ(root->child(kStatements - 1)->child(1)->text(), std::to_string(kStatements - 1));
  EXPECT_EQ(root->child(kStatements - 1)->line(), std::uint32_t{kStatements});
  EXPECT_EQ(root->child(kStatements)->child(1)->child_count(), std::size_t{kStatements});
  EXPECT_EQ(root->child(kStatements + 1)->child(0)->text(), "last");
}

// Nesting that exhausts the parser stack ends the parse with an error the caller sees.
TEST_F(GeneratedScripts, NestingTooDeepIsAnError) {
  struct Case {
    std::string text;
  };
  const Case cases[] = {
      {"y = 0\nx = " + std::string(12000, '(') + "1" + std::string(12000, ')') + "\nz = 1\n"},
      {[] {
        std::string text;
        for (int i = 0; i < 6000; ++i) text += "if a then\n";
        return text;
      }()},
      // Operator and action chains do not deepen the parser stack but would make the tree as
      // deep as they are long.
      {[] {
        std::string text = "x = 1";
        for (int i = 0; i < 5000; ++i) text += " + 1";
        return text;
      }()},
      {[] {
        std::string text = "t";
        for (int i = 0; i < 5000; ++i) text += ".a()";
        return text;
      }()},
      // Chains and nesting that fit the parser stack but would still make a tree too deep to
      // walk (ScriptText, evaluation, release) with a small stack.
      {"x = " + Repeat("not ", 3000) + "x\n"},
      {"x = " + Repeat("f(", 3000) + "1" + Repeat(")", 3000) + "\n"},
      {"x = " + Repeat("[", 3000) + "1" + Repeat("]", 3000) + "\n"},
      {"x = " + Repeat("a[", 3000) + "1" + Repeat("]", 3000) + "\n"},
      {Repeat("while a do\n", 2000) + Repeat("endwhile\n", 2000)},
  };
  for (const Case& c : cases) {
    ScriptItemPtr root = NewRoot("deep");
    ScriptLoader loader;
    ASSERT_TRUE(loader.LoadText(c.text, root));
    // A block construct is two levels (the statement and its body).
    EXPECT_LE(TreeHeight(*root), 2 * TreeBuilder::kMaxOpenConstructs + 10) << c.text.substr(0, 40);
    ASSERT_GT(root->child_count(), 0u);
    ScriptItem* last = root->child(root->child_count() - 1);
    EXPECT_EQ(last->type(), errorItem);
    EXPECT_EQ(last->text(), "Script nesting too deep");
    EXPECT_EQ(last->current_result(), TestError);
    EXPECT_GE(loader.ErrorCount(), 1u);
  }
}

// Includes read regular files only, within a bounded size and number of expansions; each
// refusal is an error item naming the file, and the rest of the script stays.
TEST_F(GeneratedScripts, IncludesOfHostileFilesAreRefused) {
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(dir_ / "folder");
  {
    std::ofstream(dir_ / "huge.odl");  // sparse: its size alone is over the limit
  }
  std::filesystem::resize_file(dir_ / "huge.odl", ScriptLoader::kMaxScriptBytes + 1);
  // Each file includes the next one twice, 30 levels deep: 2^30 expansions unless bounded.
  for (int i = 0; i < 30; ++i) {
    std::string next = "include \"fan" + std::to_string(i + 1) + ".odl\"\n";
    Write("fan" + std::to_string(i) + ".odl", next + next);
  }
  Write("fan30.odl", "leaf = 1\n");
  struct Case {
    std::string include;
    std::string error;
  };
  const Case cases[] = {
      {"/dev/zero", "Include is not a regular file '/dev/zero'"},
      {(dir_ / "fifo").string(), "Include is not a regular file '" + (dir_ / "fifo").string() + "'"},
      {(dir_ / "folder").string(), "Include is not a regular file '" + (dir_ / "folder").string() + "'"},
      {(dir_ / "huge.odl").string(), "Script too large with include '" + (dir_ / "huge.odl").string() + "'"},
      {(dir_ / "fan0.odl").string(), "Too many includes '"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.include);
    ScriptItemPtr root = NewRoot("hostile");
    ScriptLoader loader;
    ASSERT_TRUE(loader.Load(Write("hostile.odl", "a = 1\ninclude \"" + c.include + "\"\nb = 2\n"), root));
    std::vector<const ScriptItem*> errors;
    std::vector<const ScriptItem*> pending = {root.get()};
    while (!pending.empty()) {
      const ScriptItem* item = pending.back();
      pending.pop_back();
      if (item->type() == errorItem) errors.push_back(item);
      for (const ScriptItemPtr& child : item->children()) pending.push_back(child.get());
    }
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.front()->text().substr(0, c.error.size()), c.error);
    EXPECT_EQ(root->child(0)->child(0)->text(), "a");
    EXPECT_EQ(root->child(root->child_count() - 1)->child(0)->text(), "b");
  }
  // The script itself is held to the same rules.
  for (const std::string& path : {std::string("/dev/zero"), (dir_ / "fifo").string(),
                                  (dir_ / "folder").string(), (dir_ / "huge.odl").string()}) {
    ScriptItemPtr root = NewRoot("hostile");
    EXPECT_FALSE(ScriptLoader().Load(path, root)) << path;
    EXPECT_EQ(root->child_count(), 0u);
  }
}

// Includes that would together pass the size limit are refused before any of them is read:
// each is an error item, and nothing of the files they name is in the tree. The included file
// is one long comment, so even where it is read it makes a single item.
TEST_F(GeneratedScripts, IncludesTogetherTooLargeAreRefusedUnread) {
  const std::string half = (dir_ / "half.odl").string();
  {
    std::ofstream out(half, std::ios::binary);
    const std::string block(1 << 20, 'c');
    out << '#';
    for (std::size_t written = 1; written <= ScriptLoader::kMaxScriptBytes / 2; written += block.size()) {
      out << block;
    }
  }
  const std::string twice = "include \"half.odl\"\ninclude \"half.odl\"\n";
  Write("lib.odl", "in_lib = 1\nif in_lib == 1 then\n" + twice + "endif\n");
  struct Case {
    const char* name;
    std::string script;
    const char* first_statement;  // the variable the first statement assigns, or ""
  };
  const std::string refused = "Script too large with include '" + half + "'";
  const Case cases[] = {
      {"side_by_side", twice, ""},
      {"nested_in_a_block", "include \"lib.odl\"\n", "in_lib"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptItemPtr root = NewRoot(c.name);
    ScriptLoader loader;
    ASSERT_TRUE(loader.Load(Write(std::string(c.name) + ".odl", c.script), root));
    std::vector<std::string> seen;
    std::vector<const ScriptItem*> pending = {root.get()};
    while (!pending.empty()) {
      const ScriptItem* item = pending.back();
      pending.pop_back();
      if (item->type() == commentItem) seen.push_back("comment");
      if (item->type() == errorItem) seen.push_back(item->text());
      for (const ScriptItemPtr& child : item->children()) pending.push_back(child.get());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{refused, refused}));
    EXPECT_EQ(loader.ErrorCount(), 2u);
    if (*c.first_statement != '\0') {
      EXPECT_EQ(root->child(0)->child(0)->text(), c.first_statement);
    }
  }
}

// The scanner takes tokens of any length in one piece (its time is measured in bench/parse.cpp).
TEST_F(GeneratedScripts, LongTokensScanWhole) {
  const std::string comment = "#" + std::string(3 << 20, 'c');
  const std::string text = std::string(3 << 20, 's');
  ScriptItemPtr root = NewRoot("long_tokens");
  ScriptLoader loader;
  ASSERT_TRUE(loader.Load(Write("tokens.odl", comment + "\nx = \"" + text + "\"\ny = 1\n"), root));
  EXPECT_EQ(loader.ErrorCount(), 0u);
  ASSERT_EQ(root->child_count(), 3u);
  EXPECT_EQ(root->child(0)->text(), comment);
  EXPECT_EQ(root->child(1)->child(1)->text(), text);
  EXPECT_EQ(root->child(2)->line(), 3u);
}

}  // namespace
}  // namespace ordalis
