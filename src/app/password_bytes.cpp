#include "app/password_bytes.h"

#include "text/xstring.h"

namespace sfx {

std::vector<std::string> passwordCandidates(const char* utf8) {
  std::vector<std::string> candidates;
  candidates.emplace_back(utf8 ? utf8 : "");
  XString text;
  text.setSecure(true);
  text.setFromUtf8(utf8);
  std::string ansi(text.getAnsi());
  if (ansi != candidates.front()) candidates.push_back(ansi);
  return candidates;
}

}  // namespace sfx
