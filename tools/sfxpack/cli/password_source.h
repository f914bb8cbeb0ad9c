// Where sfxpack takes a password from without it showing in the process
// list or the shell's history: the first line of a file, an environment
// variable, or the terminal (without echo).
#ifndef SFX_TOOLS_SFXPACK_CLI_PASSWORD_SOURCE_H_
#define SFX_TOOLS_SFXPACK_CLI_PASSWORD_SOURCE_H_

#include <string>

namespace sfxpack {

// The first line of `path` (without its "\n" or "\r\n"). False with *error
// set when the file cannot be read or the line is empty.
bool passwordFromFile(const std::string& path, std::string* password,
                      std::string* error);

// The value of the environment variable `name`. False with *error set when
// it is not set or empty.
bool passwordFromEnv(const std::string& name, std::string* password,
                     std::string* error);

// Asks on the controlling terminal (/dev/tty) with echo off; with `confirm`,
// asks a second time and fails when the two differ. False with *error set
// when there is no terminal, the answer is empty or the two differ.
bool passwordFromTerminal(bool confirm, std::string* password,
                          std::string* error);

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_CLI_PASSWORD_SOURCE_H_
