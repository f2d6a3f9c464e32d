// Files written at a path a user named: what is at the path decides how it is written. A
// regular file or a link to one is replaced whole (a link stays a link), a device or a FIFO is
// written through and stays what it was, and a write the device refuses is an error.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/output_file.h"
#include "support/temporary_folder.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

constexpr char kBytes[] = "<testsuites/>\n";

// What a row's path holds before the write, and what the write must leave.
struct OutputCase {
  const char* name;
  std::function<void(const fs::path& dir)> make;  // makes dir/"out" (and anything it needs)
  bool written;                                    // the write succeeds
  mode_t kind_after;                               // S_IFREG, S_IFCHR, S_IFIFO of dir/"out"
  const char* reason = "";                         // the error of a write that fails
};

void MakeDevice(const fs::path& path, unsigned minor) {
  // The node of /dev/null (1, 3) or /dev/full (1, 7), made here so nothing in /dev is at stake.
  ASSERT_EQ(::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)), 0) << std::strerror(errno);
}

const OutputCase kCases[] = {
    {"NewFile", [](const fs::path&) {}, true, S_IFREG},
    {"RegularFileReplaced", [](const fs::path& d) { std::ofstream(d / "out") << "old"; }, true, S_IFREG},
    {"LinkToFileKeptAndTargetReplaced",
     [](const fs::path& d) {
       fs::create_directory(d / "sub");
       std::ofstream(d / "sub" / "target") << "old";
       fs::create_symlink("sub/target", d / "out");
     },
     true, S_IFLNK},
    {"DanglingLinkCreatesItsTarget", [](const fs::path& d) { fs::create_symlink("made", d / "out"); }, true,
     S_IFLNK},
    {"NullDeviceWrittenThrough", [](const fs::path& d) { MakeDevice(d / "out", 3); }, true, S_IFCHR},
    {"FullDeviceIsAnError", [](const fs::path& d) { MakeDevice(d / "out", 7); }, false, S_IFCHR,
     "No space left on device"},
    {"FifoWrittenThrough", [](const fs::path& d) { ASSERT_EQ(::mkfifo((d / "out").c_str(), 0600), 0); }, true,
     S_IFIFO},
    {"DirectoryRefused", [](const fs::path& d) { fs::create_directory(d / "out"); }, false, S_IFDIR,
     "Is a directory"},
};

class OutputFileTest : public testing::TestWithParam<OutputCase> {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ordalis_output_file_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_P(OutputFileTest, WritesAsThePathsKindAsks) {
  const OutputCase& row = GetParam();
  ASSERT_NO_FATAL_FAILURE(row.make(dir_));
  const fs::path out = dir_ / "out";
  // A FIFO has its reader open before the write, as a pipeline's reader would.
  int reader = row.kind_after == S_IFIFO ? ::open(out.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
  std::string error;
  bool written = WriteOutputFile(out.string(), kBytes, 0644, &error);
  std::string through_fifo(sizeof kBytes, '\0');
  if (reader >= 0) {
    ssize_t got = ::read(reader, through_fifo.data(), through_fifo.size());
    through_fifo.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    ::close(reader);
  }

  EXPECT_EQ(written, row.written) << error;
  EXPECT_EQ(error, row.reason);
  struct stat info {};
  ASSERT_EQ(::lstat(out.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & S_IFMT, row.kind_after);
  if (row.kind_after == S_IFREG || row.kind_after == S_IFLNK) {
    EXPECT_EQ(Contents(out), kBytes);  // through the link, for a link
  }
  if (row.kind_after == S_IFIFO) {
    EXPECT_EQ(through_fifo, kBytes);
  }
  // Nothing but what the row made is left beside it: no temporary file.
  for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, OutputFileTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<OutputCase>& info) { return info.param.name; });

// A private file (a proxy settings file holds a key) stays private when it replaces a file that
// others could read; by default a replacement keeps the replaced file's permissions.
TEST(OutputFileModeTest, ReplacedFileKeepsItsModeUnlessToldExactly) {
  testing_support::TemporaryFolder folder("ordalis_output_mode_");
  ASSERT_FALSE(folder.path().empty());
  const fs::path dir = folder.path();
  for (ReplacedMode replaced : {ReplacedMode::kKeep, ReplacedMode::kExactly}) {
    std::ofstream(dir / "settings") << "old";
    fs::permissions(dir / "settings", fs::perms(0664));
    std::string error;
    EXPECT_TRUE(WriteOutputFile((dir / "settings").string(), "new", 0600, &error, replaced)) << error;
    struct stat info {};
    ASSERT_EQ(::stat((dir / "settings").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, replaced == ReplacedMode::kKeep ? 0664u : 0600u);
  }
}

}  // namespace
}  // namespace ordalis
