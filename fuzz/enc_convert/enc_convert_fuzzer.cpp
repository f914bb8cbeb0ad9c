// Fuzz target for EncConvert between code pages picked by the input: every
// code page of the charset-name table and the special forms, with each
// error action. Header bytes: source index (2), target index (2), error
// action (1), alternate code-page index (1); the rest is converted. Any
// input must return; the output then goes through a second conversion
// from the target page back to UTF-8.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "charset/charset_names.h"
#include "charset/encoding_convert.h"
#include "log/log_base.h"
#include "text/data_buffer.h"

namespace {

std::vector<uint32_t> codePages() {
  std::vector<uint32_t> pages = {0,     65001, 1200,  1201,  65000, 65005,
                                 65006, 50220, 50221, 50222, 50225, 52936};
  for (uint32_t i = 0; i < sfx::kNumCharsetNames; ++i) {
    uint32_t cp = sfx::kCharsetNames[i].codePage;
    bool seen = false;
    for (uint32_t p : pages) seen = seen || p == cp;
    if (!seen) pages.push_back(cp);
  }
  return pages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint32_t> pages = codePages();
  if (size < 6 || size > (1u << 20)) return 0;
  const uint32_t from = pages[(data[0] | data[1] << 8) % pages.size()];
  const uint32_t to = pages[(data[2] | data[3] << 8) % pages.size()];
  static const int kActions[] = {0, 1, 2, 6, 7};
  const int action = kActions[data[4] % 5];
  const uint32_t alt = pages[data[5] % pages.size()];
  data += 6;
  size -= 6;
  sfx::LogNull log;
  sfx::EncodingConvert conv;
  conv.setErrorAction(action);
  conv.setAltCodePage(alt);
  static const uint8_t kReplacement[] = {'?'};
  conv.setReplacement(kReplacement, 1);
  sfx::DataBuffer out, back;
  conv.EncConvert(from, to, data, static_cast<uint32_t>(size), out, log);
  sfx::EncodingConvert conv2;
  conv2.EncConvert(to, 65001, out.getData(), out.getSize(), back, log);
  return 0;
}
