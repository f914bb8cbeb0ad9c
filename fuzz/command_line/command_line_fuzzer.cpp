// Fuzz target for the stub's command line: the splitter and the option
// parser applied to a configuration. Every token must be a piece of the
// input, so the tokens together are never longer than the command line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "archive/sfx_config.h"
#include "text/string_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.c_str();
  size_t total = 0;
  for (const std::string& token : sfx::splitCommandLine(line.c_str())) {
    if (line.find(token) == std::string::npos) {
      fprintf(stderr, "token \"%s\" is not part of the line\n", token.c_str());
      abort();
    }
    total += token.size();
  }
  if (total > line.size()) {
    fprintf(stderr, "tokens longer than the line\n");
    abort();
  }
  sfx::SfxConfig config;
  sfx::StringBuffer password, logPath;
  sfx::CommandLineTarget target;
  target.config = &config;
  target.password = &password;
  target.logPath = &logPath;
  sfx::parseCommandLine(line.c_str(), target);
  return 0;
}
