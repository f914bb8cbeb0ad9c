// --version-info: the version resource's tree read, merged and written
// again, with its fixed numeric versions.
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

constexpr size_t kMaxVersionValue = 1024;  // UTF-16 units of one value
constexpr uint16_t kVersionId = 1;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;

void pad4(std::vector<uint8_t>& b) {
  while (b.size() % 4) b.push_back(0);
}
void putText(std::vector<uint8_t>& b, const std::u16string& s) {
  for (char16_t c : s) put16(b, c);
  put16(b, 0);
}

// A node of the version tree: header (length, value length, type), key,
// value, children, each started on a 4-byte boundary.
struct VNode {
  std::u16string key;
  std::vector<uint8_t> value;
  uint16_t valueLength = 0;  // bytes for binary values, characters for text
  uint16_t type = 0;         // 1: text
  std::vector<VNode> children;
};

bool serialize(const VNode& n, std::vector<uint8_t>& out) {
  size_t start = out.size();
  put16(out, 0);
  put16(out, n.valueLength);
  put16(out, n.type);
  putText(out, n.key);
  pad4(out);
  out.insert(out.end(), n.value.begin(), n.value.end());
  for (const VNode& c : n.children) {
    pad4(out);
    if (!serialize(c, out)) return false;
  }
  size_t length = out.size() - start;
  if (length > 0xffff) return false;
  out[start] = static_cast<uint8_t>(length);
  out[start + 1] = static_cast<uint8_t>(length >> 8);
  return true;
}

size_t align4(size_t v) { return (v + 3) & ~size_t(3); }

// Reads the node at `at` (relative to `d`), which must end by `end`; depth
// bounds the recursion.
bool parseNode(const std::vector<uint8_t>& d, size_t at, size_t end, int depth,
               VNode* n, size_t* next) {
  if (depth > 4 || at > end || end - at < 6) return false;
  size_t length = loadLe16(&d[at]);
  if (length < 6 || length > end - at) return false;
  size_t stop = at + length;
  n->valueLength = loadLe16(&d[at + 2]);
  n->type = loadLe16(&d[at + 4]);
  size_t p = at + 6;
  n->key.clear();
  for (;;) {
    if (stop - p < 2) return false;
    char16_t c = loadLe16(&d[p]);
    p += 2;
    if (c == 0) break;
    n->key.push_back(c);
  }
  p = std::min(align4(p), stop);
  size_t valueBytes =
      n->type == 1 ? size_t(n->valueLength) * 2 : n->valueLength;
  valueBytes = std::min(valueBytes, stop - p);
  n->value.assign(d.begin() + p, d.begin() + p + valueBytes);
  p = align4(p + valueBytes);
  n->children.clear();
  while (p < stop && stop - p >= 6) {
    VNode c;
    size_t after = 0;
    if (!parseNode(d, p, stop, depth + 1, &c, &after)) return false;
    n->children.push_back(std::move(c));
    p = align4(after);
  }
  *next = stop;
  return true;
}

std::u16string textValue(const VNode& n) {
  std::u16string s;
  for (size_t k = 0; k + 1 < n.value.size(); k += 2) {
    char16_t c = loadLe16(&n.value[k]);
    if (c == 0) break;
    s.push_back(c);
  }
  return s;
}

}  // namespace

bool parseDottedVersion(const std::string& text, uint32_t* ms, uint32_t* ls) {
  uint32_t part[4] = {0, 0, 0, 0};
  size_t p = 0;
  for (int k = 0; k < 4; ++k) {
    if (p >= text.size() || text[p] < '0' || text[p] > '9') {
      if (k == 0) return false;
      break;
    }
    uint32_t v = 0;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
      v = v * 10 + uint32_t(text[p++] - '0');
      if (v > 0xffff) return false;
    }
    part[k] = v;
    if (p < text.size() && (text[p] == '.' || text[p] == ',') && k < 3 &&
        p + 1 < text.size() && text[p + 1] >= '0' && text[p + 1] <= '9') {
      ++p;
    } else {
      break;
    }
  }
  *ms = part[0] << 16 | part[1];
  *ls = part[2] << 16 | part[3];
  return true;
}

bool readVersionInfo(const std::vector<uint8_t>& data, VersionInfo* out,
                     std::string* error) {
  *out = VersionInfo();
  VNode root;
  size_t next = 0;
  if (data.size() > 0xffff + 3 ||
      !parseNode(data, 0, data.size(), 0, &root, &next) ||
      root.key != u"VS_VERSION_INFO") {
    *error = "the version information is damaged";
    return false;
  }
  if (root.value.size() >= 52 && loadLe32(&root.value[0]) == kFixedSignature) {
    out->fileMs = loadLe32(&root.value[8]);
    out->fileLs = loadLe32(&root.value[12]);
    out->productMs = loadLe32(&root.value[16]);
    out->productLs = loadLe32(&root.value[20]);
  }
  for (const VNode& c : root.children) {
    if (c.key != u"StringFileInfo" || c.children.empty()) continue;
    const VNode& table = c.children[0];
    std::string key = utf16ToUtf8(table.key);
    if (key.size() == 8) {
      unsigned long v = strtoul(key.c_str(), nullptr, 16);
      out->lang = static_cast<uint16_t>(v >> 16);
      out->codePage = static_cast<uint16_t>(v);
    }
    for (const VNode& s : table.children) {
      out->strings.emplace_back(utf16ToUtf8(s.key), utf16ToUtf8(textValue(s)));
    }
    break;
  }
  return true;
}

std::vector<uint8_t> buildVersionInfo(const VersionInfo& info) {
  VNode root;
  root.key = u"VS_VERSION_INFO";
  std::vector<uint8_t>& f = root.value;
  put32(f, kFixedSignature);
  put32(f, 0x00010000);  // structure version 1.0
  put32(f, info.fileMs);
  put32(f, info.fileLs);
  put32(f, info.productMs);
  put32(f, info.productLs);
  put32(f, 0x3f);     // FileFlagsMask: all defined flags
  put32(f, 0);        // FileFlags
  put32(f, 0x40004);  // FileOS: VOS_NT_WINDOWS32
  put32(f, 1);        // FileType: VFT_APP
  put32(f, 0);        // FileSubtype
  put32(f, 0);        // FileDate, high and low
  put32(f, 0);
  root.valueLength = static_cast<uint16_t>(f.size());

  VNode strings;
  strings.key = u"StringFileInfo";
  strings.type = 1;
  VNode table;
  char key[9];
  snprintf(key, sizeof key, "%04X%04X", info.lang, info.codePage);
  utf8ToUtf16(key, &table.key);
  table.type = 1;
  for (const auto& kv : info.strings) {
    VNode s;
    s.type = 1;
    utf8ToUtf16(kv.first, &s.key);
    std::u16string v;
    utf8ToUtf16(kv.second, &v);
    putText(s.value, v);
    s.valueLength = static_cast<uint16_t>(v.size() + 1);
    table.children.push_back(std::move(s));
  }
  strings.children.push_back(std::move(table));
  root.children.push_back(std::move(strings));

  VNode vars;
  vars.key = u"VarFileInfo";
  vars.type = 1;
  VNode translation;
  translation.key = u"Translation";
  put16(translation.value, info.lang);
  put16(translation.value, info.codePage);
  translation.valueLength = 4;
  vars.children.push_back(std::move(translation));
  root.children.push_back(std::move(vars));

  std::vector<uint8_t> out;
  if (!serialize(root, out)) out.clear();
  return out;
}

bool setVersionInfo(PeImage* image,
                    const std::vector<std::pair<std::string, std::string>>& kv,
                    std::string* error) {
  const Resource* old = nullptr;
  for (const Resource& r : image->resources()) {
    if (r.type == ResId::number(kRtVersion)) {
      old = &r;
      break;
    }
  }
  VersionInfo info;
  if (old && !readVersionInfo(old->data, &info, error)) {
    *error = "the stub's version information is damaged";
    return false;
  }
  bool fileGiven = false, productGiven = false;
  for (const auto& p : kv) {
    if (std::find(std::begin(kVersionKeys), std::end(kVersionKeys), p.first) ==
        std::end(kVersionKeys)) {
      *error = "unknown version key '" + p.first + "'";
      return false;
    }
    std::u16string v;
    if (!utf8ToUtf16(p.second, &v)) {
      *error = "--version-info " + p.first + ": the value is not UTF-8";
      return false;
    }
    if (v.size() > kMaxVersionValue) {
      *error = "--version-info " + p.first + ": the value has " +
               std::to_string(v.size()) + " characters; at most " +
               std::to_string(kMaxVersionValue) + " are allowed";
      return false;
    }
    if (p.first == "FileVersion" || p.first == "ProductVersion") {
      uint32_t ms = 0, ls = 0;
      if (!parseDottedVersion(p.second, &ms, &ls)) {
        *error = "--version-info " + p.first + "=" + p.second +
                 ": expected a version such as 1.2.3.4 (numbers 0 to 65535)";
        return false;
      }
      if (p.first == "FileVersion") {
        info.fileMs = ms;
        info.fileLs = ls;
        fileGiven = true;
      } else {
        info.productMs = ms;
        info.productLs = ls;
        productGiven = true;
      }
    }
    auto same = [&](const auto& s) { return s.first == p.first; };
    auto it = std::find_if(info.strings.begin(), info.strings.end(), same);
    if (it != info.strings.end()) {
      it->second = p.second;
    } else {
      info.strings.push_back(p);
    }
  }
  // A version given once stands for both when the image had none.
  if (!old && fileGiven && !productGiven) {
    info.productMs = info.fileMs;
    info.productLs = info.fileLs;
  } else if (!old && productGiven && !fileGiven) {
    info.fileMs = info.productMs;
    info.fileLs = info.productLs;
  }
  Resource r;
  r.type = ResId::number(kRtVersion);
  r.name = old ? old->name : ResId::number(kVersionId);
  r.lang = old ? old->lang : stubLanguage(*image);
  r.data = buildVersionInfo(info);
  if (r.data.empty()) {
    *error = "the version information would exceed 64 KB";
    return false;
  }
  image->put(std::move(r));
  return true;
}

}  // namespace sfxpack
