#pragma once
// A pseudo-terminal standing in for a serial port in the link tests.

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "links/descriptor.h"
#include "support/temporary_folder.h"

namespace ordalis::testing {

// A pseudo-terminal standing in for a serial port: the link opens a stable path (a symbolic
// link to the terminal's device), and the test plays the far end on the master side. Closing
// the master makes the port vanish; a fresh terminal behind the same path brings it back.
class FakePort {
 public:
  FakePort() {
    directory_ = folder_.path();
    path_ = directory_ + "/ttyTEST";
    Plug();
  }
  const std::string& path() const { return path_; }
  int master() const { return master_.get(); }

  void Plug() {
    master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ::grantpt(master_.get());
    ::unlockpt(master_.get());
    std::filesystem::remove(path_);
    std::filesystem::create_symlink(::ptsname(master_.get()), path_);
  }
  void Unplug() {
    std::filesystem::remove(path_);
    master_.Reset();
  }
  // The line settings the link gave the port (terminal settings read on the master side are
  // those of the slave side the link holds).
  termios Settings() const {
    termios line{};
    ::tcgetattr(master_.get(), &line);
    return line;
  }

 private:
  testing_support::TemporaryFolder folder_{"ordalis-rs232-"};  // removed after the port inside it
  std::string directory_;
  std::string path_;
  FileDescriptor master_;
};

}  // namespace ordalis::testing
