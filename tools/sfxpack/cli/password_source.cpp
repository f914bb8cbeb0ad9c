#include "cli/password_source.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace sfxpack {
namespace {

void dropLineEnd(std::string* s) {
  while (!s->empty() && (s->back() == '\n' || s->back() == '\r')) s->pop_back();
}

bool writeAll(int fd, const char* text) {
  size_t n = strlen(text);
  while (n) {
    ssize_t w = write(fd, text, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    text += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Reads one line from fd with echo off; false on end of input or an error.
// Echo goes off before the prompt shows, so nothing typed after it echoes.
bool readHidden(int fd, const char* prompt, std::string* line) {
  struct termios saved;
  bool restore = tcgetattr(fd, &saved) == 0;
  if (restore) {
    struct termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  if (!writeAll(fd, prompt)) {
    if (restore) tcsetattr(fd, TCSAFLUSH, &saved);
    return false;
  }
  line->clear();
  bool ok = false;
  char c;
  while (true) {
    ssize_t r = read(fd, &c, 1);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    if (c == '\n' || c == '\r') {
      ok = true;
      break;
    }
    line->push_back(c);
  }
  if (restore) tcsetattr(fd, TCSAFLUSH, &saved);
  return ok;
}

}  // namespace

bool passwordFromFile(const std::string& path, std::string* password,
                      std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "--password-file: cannot read '" + path + "': " + strerror(errno);
    return false;
  }
  std::string line;
  std::getline(in, line);
  if (in.bad()) {
    *error = "--password-file: error reading '" + path + "'";
    return false;
  }
  dropLineEnd(&line);
  if (line.empty()) {
    *error = "--password-file: the first line of '" + path + "' is empty";
    return false;
  }
  *password = line;
  return true;
}

bool passwordFromEnv(const std::string& name, std::string* password,
                     std::string* error) {
  const char* v = name.empty() ? nullptr : getenv(name.c_str());
  if (!v) {
    *error = "--password-env: the variable '" + name + "' is not set";
    return false;
  }
  if (!*v) {
    *error = "--password-env: the variable '" + name + "' is empty";
    return false;
  }
  *password = v;
  return true;
}

bool passwordFromTerminal(bool confirm, std::string* password,
                          std::string* error) {
  int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = "--password -: no terminal to ask for the password on (give "
             "--password-file or --password-env)";
    return false;
  }
  std::string first, second;
  bool ok = readHidden(fd, "Password: ", &first);
  if (ok && first.empty()) {
    *error = "--password -: the password is empty";
    ok = false;
  } else if (!ok) {
    *error = "--password -: no password was entered";
  }
  if (ok && confirm) {
    if (!readHidden(fd, "Repeat password: ", &second)) {
      *error = "--password -: no password was entered";
      ok = false;
    } else if (second != first) {
      *error = "--password -: the two passwords differ";
      ok = false;
    }
  }
  close(fd);
  // Overwrite the copies the prompt made.
  std::fill(second.begin(), second.end(), '\0');
  if (ok) *password = first;
  std::fill(first.begin(), first.end(), '\0');
  return ok;
}

}  // namespace sfxpack
