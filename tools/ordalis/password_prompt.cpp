#include "password_prompt.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace ordalis::cli {

std::string ReadPassword() {
  termios saved{};
  const bool quiet = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (quiet) {
    termios no_echo = saved;
    no_echo.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    std::fputs("Password: ", stderr);
    std::fflush(stderr);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &no_echo);
  }
  std::string password;
  std::getline(std::cin, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (quiet) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  return password;
}

}  // namespace ordalis::cli
