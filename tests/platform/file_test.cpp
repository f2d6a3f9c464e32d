#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/atomic_file.h"
#include "platform/file_descriptor.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() / ("ordalis_platform_file_" + std::to_string(::getpid()));
    fs::create_directories(directory_);
  }
  void TearDown() override { fs::remove_all(directory_); }

  std::string Path(const char* name) const { return (directory_ / name).string(); }
  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The names in the directory: a failed or finished write leaves no temporary file behind.
  std::size_t Entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(directory_), {}));
  }

  fs::path directory_;
};

TEST_F(FileTest, DescriptorClosesOnceAndMovesOwnership) {
  FileDescriptor first = OpenFile(Path("a"), O_WRONLY | O_CREAT, 0600);
  ASSERT_TRUE(first);
  int fd = first.get();
  FileDescriptor second = std::move(first);
  EXPECT_FALSE(first);
  EXPECT_EQ(second.get(), fd);
  EXPECT_GE(::fcntl(fd, F_GETFD), 0);
  EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
  second.Reset();
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST_F(FileTest, WholeFilesAreReadAndFullDevicesReported) {
  std::ofstream(Path("text"), std::ios::binary) << std::string(100000, 'x') << "end";
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(Path("text"), &contents));
  EXPECT_EQ(contents.size(), 100003u);
  EXPECT_FALSE(ReadWholeFile(directory_.string(), &contents));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_FALSE(ReadWholeFile(Path("missing"), &contents));
  EXPECT_EQ(errno, ENOENT);

  FileDescriptor full = OpenFile("/dev/full", O_WRONLY);
  ASSERT_TRUE(full);
  EXPECT_FALSE(WriteAll(full.get(), "data"));
  EXPECT_EQ(errno, ENOSPC);
}

TEST_F(FileTest, AtomicWriteReplacesAndKeepsThePermissions) {
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(Path("settings"), "first", 0600, &error)) << error;
  EXPECT_EQ(Contents(Path("settings")), "first");
  EXPECT_EQ(fs::status(Path("settings")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  ::chmod(Path("settings").c_str(), 0640);
  ASSERT_TRUE(WriteFileAtomically(Path("settings"), "second", 0600, &error)) << error;
  EXPECT_EQ(Contents(Path("settings")), "second");
  EXPECT_EQ(fs::status(Path("settings")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Entries(), 1u);
}

// A write that fails half-way (here: past the file-size limit, as a full disk would) reports
// the failure and leaves the old file whole.
TEST_F(FileTest, FailedAtomicWriteKeepsTheOldFile) {
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(Path("results"), "good", 0644, &error)) << error;
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &previous);
  rlimit limit{}, saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  limit = saved;
  limit.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  bool written = WriteFileAtomically(Path("results"), std::string(4096, 'n'), 0644, &error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_FALSE(written);
  EXPECT_EQ(error, "cannot write " + Path("results") + ": File too large");
  EXPECT_EQ(Contents(Path("results")), "good");
  EXPECT_EQ(Entries(), 1u);
  EXPECT_FALSE(WriteFileAtomically(Path("missing/results"), "x", 0644, &error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

}  // namespace
}  // namespace ordalis
