// --string: entries of the stub's string table, 16 to a block.
#include "pe/branding.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include "archive/payload_format.h"
#include "archive/simple_archive.h"
#include "log/logger.h"
#include "pe/branding_parts.h"
#include "stream/data_source.h"
#include "text/little_endian.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfxpack {

using namespace branding_parts;
using sfx::loadLe16;
using sfx::loadLe32;

namespace {

constexpr size_t kMaxStubTitle = 99;  // loaded into 100 characters
constexpr size_t kMaxStringEntry = 4096;
constexpr uint16_t kStubTitleId = 103;
constexpr uint16_t kStubClassId = 109;

std::vector<uint8_t> buildStringBlock(const std::vector<std::u16string>& s) {
  std::vector<uint8_t> b;
  for (const std::u16string& e : s) {
    put16(b, uint32_t(e.size()));
    for (char16_t c : e) put16(b, c);
  }
  return b;
}

}  // namespace

namespace branding_parts {

bool parseStringBlock(const std::vector<uint8_t>& b,
                      std::vector<std::u16string>* out) {
  out->assign(16, std::u16string());
  size_t p = 0;
  for (unsigned k = 0; k < 16; ++k) {
    if (b.size() - p < 2) return false;
    size_t len = loadLe16(&b[p]);
    p += 2;
    if ((b.size() - p) / 2 < len) return false;
    for (size_t c = 0; c < len; ++c)
      (*out)[k].push_back(loadLe16(&b[p + 2 * c]));
    p += 2 * len;
  }
  return true;
}

}  // namespace branding_parts

bool readStringTableEntry(const std::vector<uint8_t>& block, unsigned index,
                          std::u16string* out) {
  std::vector<std::u16string> s;
  if (index >= 16 || !parseStringBlock(block, &s)) return false;
  *out = s[index];
  return true;
}

bool setString(PeImage* image, uint16_t id, const std::string& text,
               std::string* error) {
  std::u16string v;
  if (!utf8ToUtf16(text, &v)) {
    *error = "--string " + std::to_string(id) + ": the text is not UTF-8";
    return false;
  }
  size_t limit = (id == kStubTitleId || id == kStubClassId) ? kMaxStubTitle
                                                            : kMaxStringEntry;
  if (v.empty() || v.size() > limit) {
    *error = "--string " + std::to_string(id) + ": the text must have 1 to " +
             std::to_string(limit) + " characters";
    if (limit == kMaxStubTitle) error->append(" (the stub reads it into 100)");
    return false;
  }
  ResId block = ResId::number(static_cast<uint16_t>(id / 16 + 1));
  bool found = false;
  for (Resource& r : image->resources()) {
    if (r.type != ResId::number(kRtString) || r.name != block) continue;
    std::vector<std::u16string> s;
    if (!parseStringBlock(r.data, &s)) {
      *error = "the stub's string table block " + block.text() + " is damaged";
      return false;
    }
    if (s[id % 16].empty()) continue;
    found = true;
  }
  if (!found) {
    *error = "the stub has no string " + std::to_string(id);
    return false;
  }
  for (Resource& r : image->resources()) {
    if (r.type != ResId::number(kRtString) || r.name != block) continue;
    std::vector<std::u16string> s;
    parseStringBlock(r.data, &s);
    if (s[id % 16].empty()) continue;
    s[id % 16] = v;
    r.data = buildStringBlock(s);
  }
  return true;
}

}  // namespace sfxpack
