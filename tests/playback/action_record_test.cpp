// The record file when its disk is full or its writes fail: the failure is reported once, the
// writer never dies of a signal, and what was written before the failure still plays back.

#include "testers/action_record.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/temporary_folder.h"
#include "testers/script_playback.h"

namespace ordalis {
namespace {

// Writes actions to [path] until the record reports a failure; returns what it reported.
std::string FillRecord(const std::string& path, int max_actions, ActionRecord& record) {
  std::string reason;
  record.Start(path, {{"station", "\"A\""}}, [&reason](const std::string& text) { reason += text + "\n"; });
  auto parameters = std::make_shared<VariantArray>(VariantArray{Variant::String(std::string(200, 'p'))});
  for (int i = 0; i < max_actions && !record.failed(); ++i) {
    record.WriteIn(parameters);
    record.WriteOut(TestPassed, parameters);
  }
  record.Close();
  return reason;
}

TEST(ActionRecord, AWriteThatFailsIsReportedOnceAndLaterLinesAreDropped) {
  ActionRecord record;
  std::string reason = FillRecord("/dev/full", 3, record);
  EXPECT_EQ(reason, "Failed to write the record file '/dev/full': No space left on device\n");
}

// Makes [directory] a file system of [size] in a mount namespace of this process alone.
bool MountTinyFileSystem(const std::string& directory, const char* size) {
  if (::unshare(CLONE_NEWNS) != 0) {
    uid_t uid = ::getuid();
    gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
    std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  return ::mount("tmpfs", directory.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
}

// Whether this machine lets a process mount a file system of its own (a private mount
// namespace, as root or through a user namespace).
bool CanMountPrivately(const std::string& directory) {
  pid_t child = ::fork();
  if (child == 0) ::_exit(MountTinyFileSystem(directory, "64k") ? 0 : 1);
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// In a child process: a record on a file system of 1.5 MiB, one mapped chunk and a half, fills
// it. The child prints what the record reported and how many actions still play back.
void FillRecordOnAFullDisk(const std::string& directory) {
  if (!MountTinyFileSystem(directory, "1536k")) ::_exit(3);
  ActionRecord record;
  std::string path = directory + "/full.odlrec";
  std::string reason = FillRecord(path, 20000, record);
  ScriptPlayback playback;
  playback.Load(path);
  std::fprintf(stderr, "%s%zu actions play back\n", reason.c_str(), playback.records().size());
  ::_exit(reason.empty() ? 4 : 0);
}

// The folder the death test's child mounts its small file system on. The child runs this test
// again from the start and ends without returning, so it takes the parent's folder from the
// environment rather than making one that nobody would remove.
constexpr const char* kFullDiskFolder = "ORDALIS_TEST_FULL_DISK_FOLDER";

TEST(ActionRecordDeathTest, AFullDiskIsAReportedFailureNeverASignal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::optional<testing_support::TemporaryFolder> folder;
  std::string directory;
  if (const char* inherited = std::getenv(kFullDiskFolder)) {
    directory = inherited;
  } else {
    folder.emplace("ordalis_full_disk_");
    directory = folder->path();
    ASSERT_FALSE(directory.empty());
    ::setenv(kFullDiskFolder, directory.c_str(), 1);
  }
  if (!CanMountPrivately(directory)) {
    ::unsetenv(kFullDiskFolder);
    GTEST_SKIP() << "no private mount namespace for a small file system here";
  }
  EXPECT_EXIT(FillRecordOnAFullDisk(directory), testing::ExitedWithCode(0),
              "Failed to write the record file '.*full.odlrec': No space left on device\n[1-9][0-9]* "
              "actions play back");
  ::unsetenv(kFullDiskFolder);
}

}  // namespace
}  // namespace ordalis
