#include "batch/batch_paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "batch_test_support.h"
#include "support/temporary_folder.h"

namespace ordalis::batch {
namespace {

struct RelativeCase {
  const char* base;
  const char* target;
  const char* relative;
};

class MakeRelativePathTest : public ::testing::TestWithParam<RelativeCase> {};

TEST_P(MakeRelativePathTest, GivesTheTargetRelativeToTheBase) {
  const RelativeCase& c = GetParam();
  EXPECT_EQ(MakeRelativePath(c.base, c.target), c.relative) << c.base << " " << c.target;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MakeRelativePathTest,
    ::testing::ValuesIn(std::vector<RelativeCase>{
        {"/tests/", "/tests/a.odl", "a.odl"},
        {"/tests/", "/tests/sub/b.bat", "sub/b.bat"},
        {"/tests/", "/other/c.pl", "../other/c.pl"},
        {"/a/b/c/", "/a/x.odl", "../../x.odl"},
        {"/tests", "/tests/a.odl", "a.odl"},                // a base without its separator
        {"\\tests\\", "\\tests\\sub\\b.bat", "sub/b.bat"},  // backslashes separate too
        // Only whole directory names are shared: sub2 is not sub, sub is not sub2x.
        {"/t/sub2/", "/t/sub/a.odl", "../sub/a.odl"},
        {"/t/sub/", "/t/sub2/a.odl", "../sub2/a.odl"},
        {"/t/sub2x/", "/t/sub2/a", "../sub2/a"},
        // Letter case counts: /Tests and /tests are two folders here.
        {"/tests/", "/Tests/a.odl", "../Tests/a.odl"},
        {"/Tests/", "/Tests/A.odl", "A.odl"},
    }));

struct ResolveCase {
  const char* directory;
  const char* stored;
  const char* resolved;
};

class ResolveStoredNameTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveStoredNameTest, ResolvesAgainstTheQueueFolder) {
  const ResolveCase& c = GetParam();
  EXPECT_EQ(ResolveStoredName(c.directory, c.stored), c.resolved);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResolveStoredNameTest,
    ::testing::ValuesIn(std::vector<ResolveCase>{
        {"/copy", "a.odl", "/copy/a.odl"},
        {"/copy", "sub/b.bat", "/copy/sub/b.bat"},
        {"/copy", "sub\\b.bat", "/copy/sub/b.bat"},
        {"/copy", "../other/c.pl", "/other/c.pl"},
        {"/a/b", "../../x/y.odl", "/x/y.odl"},
        // A step that would climb above the top stops climbing; the rest of the name stays.
        {"/a", "../../x.odl", "/../x.odl"},
        {".", "../x.odl", "./../x.odl"},
        {"/copy", "/abs/x.odl", "/abs/x.odl"},
    }));

TEST(BatchPaths, QueueLocationsAndFileTypes) {
  QueueLocation location = SplitQueuePath("results/q2.tbq");
  EXPECT_EQ(location.directory, "results");
  EXPECT_EQ(location.file_name, "q2.tbq");
  EXPECT_EQ(location.batch_name, "q2");
  location = SplitQueuePath("plain");
  EXPECT_EQ(location.directory, ".");
  EXPECT_EQ(location.batch_name, "plain");
  EXPECT_EQ(SplitQueuePath("c:\\q\\x.y.tbq").batch_name, "x.y");

  EXPECT_EQ(FileType("build.BAT"), "BAT");
  EXPECT_EQ(FileType("Makefile"), "");
  EXPECT_TRUE(HasExtension("Q.TBQ", ".tbq"));
  EXPECT_FALSE(HasExtension("q.tbqx", ".tbq"));
  EXPECT_FALSE(HasExtension("tbq", ".tbq"));
}

TEST(BatchPaths, UniqueFilesNeverReplaceOneAnother) {
  testing_support::TemporaryFolder folder("ordalis_unique_");
  const std::string& dir = folder.path();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(CreateUniqueFile(dir, "q_2024", ".xml"), dir + "/q_2024.xml");
  EXPECT_EQ(CreateUniqueFile(dir, "q_2024", ".xml"), dir + "/q_2024_2.xml");
  EXPECT_EQ(CreateUniqueFile(dir, "q_2024", ".xml"), dir + "/q_2024_3.xml");
  EXPECT_EQ(CreateUniqueFile(dir + "/missing", "q", ".xml"), "");
}

}  // namespace
}  // namespace ordalis::batch
