// Fuzz target for the charset-name lookup. Besides returning for any text,
// the lookup must not depend on the case of ASCII letters nor on "_" versus
// "-".
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "charset/charset_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::string name(reinterpret_cast<const char*>(data), size);
  name = name.c_str();  // the lookup sees the text up to the first NUL
  const uint32_t codePage = sfx::charsetToCodePage(name.c_str());
  std::string variant = name;
  for (char& c : variant) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c == '-') {
      c = '_';
    }
  }
  const uint32_t variantPage = sfx::charsetToCodePage(variant.c_str());
  if (variantPage != codePage) {
    fprintf(stderr, "\"%s\" gives %u but \"%s\" gives %u\n", name.c_str(),
            codePage, variant.c_str(), variantPage);
    abort();
  }
  return 0;
}
