// The branding flags of "sfxpack create", the resources they write (icon
// group, version information, manifest, string table) and "sfxpack info".
#include "branding.h"

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
#include "payload_writer.h"
#include "stream/data_source.h"
#include "text/little_endian.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfxpack {

namespace {

constexpr size_t kMaxIcoBytes = 16u << 20;
constexpr size_t kMaxIconImages = 64;
constexpr size_t kMaxManifestBytes = 1u << 20;
constexpr size_t kMaxVersionValue = 1024;  // UTF-16 units of one value
constexpr size_t kMaxStubTitle = 99;       // loaded into 100 characters
constexpr size_t kMaxStringEntry = 4096;
constexpr uint16_t kManifestId = 1;  // the process's own manifest
constexpr uint16_t kVersionId = 1;
constexpr uint16_t kStubTitleId = 103;
constexpr uint16_t kStubClassId = 109;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr uint64_t kMaxInfoImage = 256u << 20;  // info reads no larger image

const char* const kVersionKeys[] = {
    "FileVersion",     "ProductVersion", "ProductName",     "CompanyName",
    "FileDescription", "LegalCopyright", "OriginalFilename"};

using sfx::loadLe16;
using sfx::loadLe32;

// Append a little-endian field to a resource being built.
void put16(std::vector<uint8_t>& b, uint32_t v) {
  b.resize(b.size() + 2);
  sfx::storeLe16(b.data() + b.size() - 2, static_cast<uint16_t>(v));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
  b.resize(b.size() + 4);
  sfx::storeLe32(b.data() + b.size() - 4, v);
}
void pad4(std::vector<uint8_t>& b) {
  while (b.size() % 4) b.push_back(0);
}
void putText(std::vector<uint8_t>& b, const std::u16string& s) {
  for (char16_t c : s) put16(b, c);
  put16(b, 0);
}

bool readWholeFile(const std::string& path, size_t limit,
                   std::vector<uint8_t>* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0 || static_cast<uint64_t>(size) > limit) {
    *error =
        "'" + path + "' is larger than " + std::to_string(limit >> 20) + " MB";
    return false;
  }
  out->assign(std::istreambuf_iterator<char>(in),
              std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "error reading '" + path + "'";
    return false;
  }
  return true;
}

// The language new resources get: that of the stub's first resource.
uint16_t stubLanguage(const PeImage& image) {
  return image.resources().empty() ? kLangEnUs : image.resources()[0].lang;
}

bool containsMarker(const std::vector<uint8_t>& b) {
  uint8_t marker[sfx::kMarkerBytes];
  sfx::storeLe32(marker, sfx::payloadMarkerConstant(0));
  sfx::storeLe32(marker + 4, sfx::payloadMarkerConstant(1));
  return std::search(b.begin(), b.end(), marker, marker + sfx::kMarkerBytes) !=
         b.end();
}

// ---- Icons ----------------------------------------------------------------

struct IcoImage {
  uint8_t width, height, colors;
  uint16_t planes, bitCount;
  std::vector<uint8_t> data;
};

bool parseIco(const std::vector<uint8_t>& f, std::vector<IcoImage>* out,
              std::string* error) {
  out->clear();
  if (f.size() < 6) {
    *error = "truncated icon file: no header";
    return false;
  }
  if (loadLe16(&f[0]) != 0 || loadLe16(&f[2]) != 1) {
    *error = "not an icon file (.ico)";
    return false;
  }
  size_t count = loadLe16(&f[4]);
  if (count == 0) {
    *error = "the icon file holds no images";
    return false;
  }
  if (count > kMaxIconImages) {
    *error = "the icon file claims " + std::to_string(count) +
             " images; at most " + std::to_string(kMaxIconImages) +
             " are taken";
    return false;
  }
  if ((f.size() - 6) / 16 < count) {
    *error = "the icon file claims " + std::to_string(count) +
             " images but is too short for their directory (truncated?)";
    return false;
  }
  for (size_t k = 0; k < count; ++k) {
    const uint8_t* e = &f[6 + 16 * k];
    uint32_t size = loadLe32(e + 8), offset = loadLe32(e + 12);
    std::string which = "icon image " + std::to_string(k + 1);
    if (offset < 6 + 16 * count) {
      *error = which +
               " starts inside the icon directory (the image count "
               "does not match the file)";
      return false;
    }
    if (offset > f.size() || f.size() - offset < size) {
      *error = which + " lies beyond the end of the icon file (truncated?)";
      return false;
    }
    static const uint8_t kPng[8] = {0x89, 'P',  'N',  'G',
                                    '\r', '\n', 0x1a, '\n'};
    bool png = size >= 8 && memcmp(&f[offset], kPng, 8) == 0;
    bool dib = size >= 40 && loadLe32(&f[offset]) == 40;
    if (!png && !dib) {
      *error = which + " is neither a bitmap nor a PNG image";
      return false;
    }
    IcoImage img;
    img.width = e[0];
    img.height = e[1];
    img.colors = e[2];
    img.planes = loadLe16(e + 4) ? loadLe16(e + 4) : 1;
    img.bitCount = loadLe16(e + 6);
    if (img.bitCount == 0) img.bitCount = png ? 32 : loadLe16(&f[offset + 14]);
    img.data.assign(f.begin() + offset, f.begin() + offset + size);
    out->push_back(std::move(img));
  }
  return true;
}

// ---- Version information --------------------------------------------------

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

// ---- Manifest -------------------------------------------------------------

// Where the requestedExecutionLevel start tag is: its '<', the end of its
// name, and its closing '>'; the level attribute's value, if present.
struct LevelTag {
  size_t open = std::string::npos, nameEnd = 0, close = 0;
  size_t valueBegin = std::string::npos, valueEnd = 0;
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string localName(const std::string& qname) {
  size_t colon = qname.find(':');
  return colon == std::string::npos ? qname : qname.substr(colon + 1);
}

// Scans the start tags outside comments, CDATA and processing instructions.
// Calls visit(open, nameEnd, close, name) for each; stops when it returns true.
template <typename Visit>
bool scanTags(const std::string& m, Visit visit) {
  size_t p = 0;
  while ((p = m.find('<', p)) != std::string::npos) {
    if (m.compare(p, 4, "<!--") == 0) {
      size_t e = m.find("-->", p + 4);
      if (e == std::string::npos) return false;
      p = e + 3;
      continue;
    }
    if (m.compare(p, 2, "<?") == 0 || m.compare(p, 2, "<!") == 0) {
      size_t e = m.find('>', p);
      if (e == std::string::npos) return false;
      p = e + 1;
      continue;
    }
    size_t q = p + 1;
    while (q < m.size() && !isSpace(m[q]) && m[q] != '>' && m[q] != '/') ++q;
    std::string name = m.substr(p + 1, q - p - 1);
    // The tag ends at the first '>' outside a quoted attribute value.
    size_t e = q;
    char quote = 0;
    for (; e < m.size(); ++e) {
      if (quote) {
        if (m[e] == quote) quote = 0;
      } else if (m[e] == '"' || m[e] == '\'') {
        quote = m[e];
      } else if (m[e] == '>') {
        break;
      }
    }
    if (e >= m.size()) return false;
    if (visit(p, q, e, name)) return true;
    p = e + 1;
  }
  return false;
}

LevelTag findLevelTag(const std::string& m) {
  LevelTag t;
  scanTags(m, [&](size_t open, size_t nameEnd, size_t close,
                  const std::string& name) {
    if (localName(name) != "requestedExecutionLevel") return false;
    t.open = open;
    t.nameEnd = nameEnd;
    t.close = close;
    size_t p = nameEnd;
    while (p < close) {
      while (p < close && (isSpace(m[p]) || m[p] == '/')) ++p;
      size_t a = p;
      while (p < close && !isSpace(m[p]) && m[p] != '=') ++p;
      std::string attr = m.substr(a, p - a);
      while (p < close && isSpace(m[p])) ++p;
      if (p >= close || m[p] != '=') break;
      ++p;
      while (p < close && isSpace(m[p])) ++p;
      if (p >= close || (m[p] != '"' && m[p] != '\'')) break;
      char quote = m[p++];
      size_t v = p;
      while (p < close && m[p] != quote) ++p;
      if (attr == "level") {
        t.valueBegin = v;
        t.valueEnd = p;
      }
      ++p;
    }
    return true;
  });
  return t;
}

constexpr const char kTrustInfo[] =
    "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security>"
    "<requestedPrivileges><requestedExecutionLevel "
    "level=\"requireAdministrator\" uiAccess=\"false\"/>"
    "</requestedPrivileges></security></trustInfo>";

constexpr const char kMinimalManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" "
    "manifestVersion=\"1.0\">\r\n"
    "</assembly>\r\n";

// ---- String tables ----------------------------------------------------------

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

std::vector<uint8_t> buildStringBlock(const std::vector<std::u16string>& s) {
  std::vector<uint8_t> b;
  for (const std::u16string& e : s) {
    put16(b, uint32_t(e.size()));
    for (char16_t c : e) put16(b, c);
  }
  return b;
}

bool parseStringOption(const std::string& kv, uint16_t* id, std::string* text,
                       std::string* error) {
  size_t eq = kv.find('=');
  char* end = nullptr;
  unsigned long n = eq == std::string::npos ? 0 : strtoul(kv.c_str(), &end, 10);
  if (eq == std::string::npos || eq == 0 || end != kv.c_str() + eq || n == 0 ||
      n > 0xffff) {
    *error = "--string needs ID=TEXT with ID 1 to 65535, got '" + kv + "'";
    return false;
  }
  *id = static_cast<uint16_t>(n);
  *text = kv.substr(eq + 1);
  return true;
}

}  // namespace

// ---- Options ----------------------------------------------------------------

bool parseBrandingOption(int argc, char** argv, int* i, BrandingOptions* o,
                         std::string* error) {
  error->clear();
  std::string a = argv[*i];
  if (a == "--elevate") {
    o->elevate = true;
    return true;
  }
  if (a != "--icon" && a != "--version-info" && a != "--manifest" &&
      a != "--string") {
    return false;
  }
  if (*i + 1 >= argc) {
    *error = "option " + a + " needs a value";
    return true;
  }
  std::string v = argv[++*i];
  if (a == "--icon") {
    o->icon = v;
    if (v.empty()) *error = "--icon is empty";
  } else if (a == "--manifest") {
    o->manifest = v;
    if (v.empty()) *error = "--manifest is empty";
  } else if (a == "--version-info") {
    size_t eq = v.find('=');
    std::string key = eq == std::string::npos ? v : v.substr(0, eq);
    if (eq == std::string::npos ||
        std::find(std::begin(kVersionKeys), std::end(kVersionKeys), key) ==
            std::end(kVersionKeys)) {
      std::string keys;
      for (const char* k : kVersionKeys)
        keys += std::string(keys.empty() ? "" : ", ") + k;
      *error = "--version-info needs KEY=VALUE with KEY one of " + keys +
               ", got '" + v + "'";
      return true;
    }
    o->versionInfo.emplace_back(key, v.substr(eq + 1));
  } else {
    uint16_t id = 0;
    std::string text;
    if (parseStringOption(v, &id, &text, error))
      o->strings.emplace_back(id, text);
  }
  return true;
}

// ---- Icons ----------------------------------------------------------------

bool setIcon(PeImage* image, const std::vector<uint8_t>& ico,
             std::string* error) {
  std::vector<IcoImage> images;
  if (!parseIco(ico, &images, error)) return false;
  std::vector<Resource>& res = image->resources();

  // The group the shell shows is the first in directory order.
  const Resource* main = nullptr;
  for (const Resource& r : res) {
    if (r.type == ResId::number(kRtGroupIcon) &&
        (!main || resIdLess(r.name, main->name))) {
      main = &r;
    }
  }
  ResId groupName = main ? main->name : ResId::number(1);
  uint16_t lang = main ? main->lang : stubLanguage(*image);

  // The icons of the old group go, unless another group also lists them.
  std::set<uint16_t> oldIcons, keptIcons;
  for (const Resource& r : res) {
    if (r.type != ResId::number(kRtGroupIcon)) continue;
    bool isMain = r.name == groupName;
    for (size_t k = 0; r.data.size() >= 6 && k < loadLe16(&r.data[4]) &&
                       6 + 14 * (k + 1) <= r.data.size();
         ++k) {
      uint16_t id = loadLe16(&r.data[6 + 14 * k + 12]);
      (isMain ? oldIcons : keptIcons).insert(id);
    }
  }
  std::vector<Resource> kept;
  std::set<uint16_t> usedIds;
  for (Resource& r : res) {
    bool isIcon = r.type == ResId::number(kRtIcon) && r.name.isNumber();
    if (isIcon && oldIcons.count(r.name.id) && !keptIcons.count(r.name.id))
      continue;
    if (r.type == ResId::number(kRtGroupIcon) && r.name == groupName) continue;
    if (isIcon) usedIds.insert(r.name.id);
    kept.push_back(std::move(r));
  }

  std::vector<uint8_t> group;
  put16(group, 0);
  put16(group, 1);
  put16(group, uint32_t(images.size()));
  uint16_t nextId = 1;
  for (IcoImage& img : images) {
    while (usedIds.count(nextId)) ++nextId;
    uint16_t id = nextId++;
    group.push_back(img.width);
    group.push_back(img.height);
    group.push_back(img.colors);
    group.push_back(0);
    put16(group, img.planes);
    put16(group, img.bitCount);
    put32(group, uint32_t(img.data.size()));
    put16(group, id);
    Resource icon;
    icon.type = ResId::number(kRtIcon);
    icon.name = ResId::number(id);
    icon.lang = lang;
    icon.data = std::move(img.data);
    kept.push_back(std::move(icon));
  }
  Resource g;
  g.type = ResId::number(kRtGroupIcon);
  g.name = groupName;
  g.lang = lang;
  g.data = std::move(group);
  kept.push_back(std::move(g));
  res = std::move(kept);
  return true;
}

bool readIconGroup(const PeImage& image, const Resource& group,
                   std::vector<IconImage>* out, std::string* error) {
  out->clear();
  const std::vector<uint8_t>& d = group.data;
  if (d.size() < 6 || loadLe16(&d[2]) != 1 ||
      (d.size() - 6) / 14 < loadLe16(&d[4])) {
    *error = "icon group " + group.name.text() + " is damaged";
    return false;
  }
  for (size_t k = 0; k < loadLe16(&d[4]); ++k) {
    const uint8_t* e = &d[6 + 14 * k];
    IconImage img;
    img.width = e[0] ? e[0] : 256;
    img.height = e[1] ? e[1] : 256;
    img.bitCount = loadLe16(e + 6);
    img.id = loadLe16(e + 12);
    const Resource* icon =
        image.find(ResId::number(kRtIcon), ResId::number(img.id));
    if (!icon) {
      *error = "icon group " + group.name.text() + " lists icon " +
               std::to_string(img.id) + ", which is missing";
      return false;
    }
    img.bytes = icon->data.size();
    img.png = img.bytes >= 4 && icon->data[0] == 0x89 && icon->data[1] == 'P';
    out->push_back(img);
  }
  return true;
}

// ---- Version information --------------------------------------------------

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

// ---- Manifest -------------------------------------------------------------

std::string manifestLevel(const std::string& manifest) {
  LevelTag t = findLevelTag(manifest);
  if (t.open == std::string::npos || t.valueBegin == std::string::npos)
    return "";
  return manifest.substr(t.valueBegin, t.valueEnd - t.valueBegin);
}

bool elevateManifest(std::string* m, std::string* error) {
  const std::string level = "requireAdministrator";
  LevelTag t = findLevelTag(*m);
  if (t.open != std::string::npos) {
    if (t.valueBegin != std::string::npos) {
      m->replace(t.valueBegin, t.valueEnd - t.valueBegin, level);
    } else {
      m->insert(t.nameEnd, " level=\"" + level + "\"");
    }
    return true;
  }
  // No such element: a trustInfo block goes before the closing root tag.
  size_t close = std::string::npos;
  size_t p = 0;
  while ((p = m->find("</", p)) != std::string::npos) {
    size_t e = m->find('>', p);
    if (e == std::string::npos) break;
    std::string name = m->substr(p + 2, e - p - 2);
    while (!name.empty() && isSpace(name.back())) name.pop_back();
    if (localName(name) == "assembly") close = p;
    p = e;
  }
  if (close != std::string::npos) {
    m->insert(close, std::string("  ") + kTrustInfo + "\r\n");
    return true;
  }
  // An empty root, <assembly .../>, gets a body and an end tag.
  bool done = false;
  scanTags(*m, [&](size_t, size_t, size_t tagEnd, const std::string& name) {
    if (localName(name) != "assembly" || (*m)[tagEnd - 1] != '/') return false;
    m->replace(tagEnd - 1, 2,
               ">" + std::string(kTrustInfo) + "</" + name + ">");
    done = true;
    return true;
  });
  if (!done) *error = "the manifest has no closing assembly element";
  return done;
}

bool setManifest(PeImage* image, const std::string* replacement, bool elevate,
                 std::string* error) {
  const Resource* old = nullptr;
  for (const Resource& r : image->resources()) {
    if (r.type == ResId::number(kRtManifest) &&
        r.name == ResId::number(kManifestId)) {
      old = &r;
      break;
    }
  }
  std::string text;
  if (replacement) {
    text = *replacement;
    if (text.find("<assembly") == std::string::npos &&
        text.find(":assembly") == std::string::npos) {
      *error = "the manifest file holds no assembly element";
      return false;
    }
    std::u16string check;
    if (!utf8ToUtf16(text, &check)) {
      *error = "the manifest file is not UTF-8";
      return false;
    }
  } else if (old) {
    text.assign(old->data.begin(), old->data.end());
  } else {
    text = kMinimalManifest;
  }
  if (elevate && !elevateManifest(&text, error)) return false;
  Resource r;
  r.type = ResId::number(kRtManifest);
  r.name = ResId::number(kManifestId);
  r.lang = old ? old->lang : stubLanguage(*image);
  r.data.assign(text.begin(), text.end());
  image->put(std::move(r));
  return true;
}

// ---- String table -----------------------------------------------------------

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

// ---- Applying -------------------------------------------------------------

namespace {

constexpr uint16_t kSubsystemWindowsGui = 2;

// The checks of checkStub that hold for a finished self-extractor too.
bool checkStubImage(const PeImage& image, std::string* error) {
  if (image.subsystem() != kSubsystemWindowsGui) {
    *error = "not a Windows GUI executable (subsystem " +
             std::to_string(image.subsystem()) + ")";
    return false;
  }
  return image.checkLayout(error);
}

}  // namespace

bool checkStub(const std::vector<uint8_t>& stub, std::string* error) {
  PeImage image;
  if (!image.parse(stub, error) || !checkStubImage(image, error)) return false;
  if (containsMarker(stub)) {
    *error =
        "it carries a payload already (it is a self-extractor); give the "
        "bare stub";
    return false;
  }
  return true;
}

bool applyBranding(const BrandingOptions& o, std::vector<uint8_t>* stub,
                   std::string* error) {
  if (!o.any()) return true;
  PeImage image;
  std::string why;
  if (!image.parse(*stub, &why)) {
    *error = "cannot brand the stub: " + why;
    return false;
  }
  if (!image.checkRewritable(&why)) {
    *error = "cannot brand the stub: " + why;
    return false;
  }
  if (!o.icon.empty()) {
    std::vector<uint8_t> ico;
    if (!readWholeFile(o.icon, kMaxIcoBytes, &ico, error)) return false;
    if (!setIcon(&image, ico, &why)) {
      *error = "--icon " + o.icon + ": " + why;
      return false;
    }
  }
  if (!o.versionInfo.empty() && !setVersionInfo(&image, o.versionInfo, error)) {
    return false;
  }
  if (!o.manifest.empty() || o.elevate) {
    std::string text;
    if (!o.manifest.empty()) {
      std::vector<uint8_t> bytes;
      if (!readWholeFile(o.manifest, kMaxManifestBytes, &bytes, error))
        return false;
      text.assign(bytes.begin(), bytes.end());
    }
    if (!setManifest(&image, o.manifest.empty() ? nullptr : &text, o.elevate,
                     &why)) {
      *error = (o.manifest.empty() ? "--elevate: "
                                   : "--manifest " + o.manifest + ": ") +
               why;
      return false;
    }
  }
  for (const auto& s : o.strings) {
    if (!setString(&image, s.first, s.second, error)) return false;
  }
  std::vector<uint8_t> out;
  if (!image.write(&out, &why)) {
    *error = "cannot brand the stub: " + why;
    return false;
  }
  if (containsMarker(out)) {
    *error =
        "the branded stub would contain the payload marker (in the icon, "
        "version or manifest data), and the stub would find a false payload";
    return false;
  }
  *stub = std::move(out);
  return true;
}

bool finishBranding(const BrandingOptions& o, FILE* f, const std::string& path,
                    std::string* error) {
  if (!o.any()) return true;
  std::vector<uint8_t> head(4096);
  bool ok = fflush(f) == 0 && fseek(f, 0, SEEK_SET) == 0;
  size_t got = ok ? fread(head.data(), 1, head.size(), f) : 0;
  head.resize(got);
  // Only the headers are needed for the checksum's place (applyBranding
  // checked them).
  size_t peOffset = got >= 64 ? loadLe32(&head[0x3c]) : 0;
  size_t at = peOffset + 24 + 64;
  ok = ok && got >= 64 && at + 4 <= got;
  if (ok) {
    PeChecksum sum(at);
    std::vector<uint8_t> buf(1 << 20);
    rewind(f);
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), f)) > 0)
      sum.add(buf.data(), n);
    ok = !ferror(f);
    uint32_t v = sum.finish();
    uint8_t le[4];
    sfx::storeLe32(le, v);
    ok = ok && fseek(f, long(at), SEEK_SET) == 0 && fwrite(le, 1, 4, f) == 4 &&
         fflush(f) == 0;
  }
  if (!ok)
    *error = "cannot update the checksum of '" + path + "': " +
             (errno ? strerror(errno) : "unexpected end of file");
  return ok;
}

// ---- info -----------------------------------------------------------------

namespace {

std::string langText(uint16_t lang) {
  char t[16];
  snprintf(t, sizeof t, "0x%04x", lang);
  return t;
}

std::string versionText(uint32_t ms, uint32_t ls) {
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xffff) + "." +
         std::to_string(ls >> 16) + "." + std::to_string(ls & 0xffff);
}

const char* typeName(const ResId& t) {
  if (!t.isNumber()) return nullptr;
  switch (t.id) {
    case 1:
      return "cursor";
    case 2:
      return "bitmap";
    case kRtIcon:
      return "icon";
    case 4:
      return "menu";
    case 5:
      return "dialog";
    case kRtString:
      return "string table";
    case 9:
      return "accelerators";
    case 10:
      return "data";
    case 12:
      return "cursor group";
    case kRtGroupIcon:
      return "icon group";
    case kRtVersion:
      return "version";
    case kRtManifest:
      return "manifest";
    default:
      return nullptr;
  }
}

void printResources(const PeImage& image) {
  printf("resources: %zu\n", image.resources().size());
  for (const Resource& r : image.resources()) {
    const char* tn = typeName(r.type);
    std::string type = tn ? tn : "type " + r.type.text();
    printf("  %s %s, language %s, %zu bytes", type.c_str(),
           r.name.text().c_str(), langText(r.lang).c_str(), r.data.size());
    std::string why;
    if (r.type == ResId::number(kRtGroupIcon)) {
      std::vector<IconImage> imgs;
      if (!readIconGroup(image, r, &imgs, &why)) {
        printf(": %s\n", why.c_str());
        continue;
      }
      printf(":");
      for (size_t k = 0; k < imgs.size(); ++k) {
        printf("%s %ux%u %u-bit%s", k ? "," : "", imgs[k].width, imgs[k].height,
               imgs[k].bitCount, imgs[k].png ? " PNG" : "");
      }
      printf("\n");
    } else if (r.type == ResId::number(kRtVersion)) {
      VersionInfo v;
      if (!readVersionInfo(r.data, &v, &why)) {
        printf(": %s\n", why.c_str());
        continue;
      }
      printf(": file %s, product %s\n", versionText(v.fileMs, v.fileLs).c_str(),
             versionText(v.productMs, v.productLs).c_str());
      for (const auto& s : v.strings) {
        printf("    %s: %s\n", s.first.c_str(), s.second.c_str());
      }
    } else if (r.type == ResId::number(kRtManifest)) {
      std::string level =
          manifestLevel(std::string(r.data.begin(), r.data.end()));
      printf(": execution level %s\n",
             level.empty() ? "(none: asInvoker)" : level.c_str());
    } else if (r.type == ResId::number(kRtString) && r.name.isNumber()) {
      printf("\n");
      std::vector<std::u16string> s;
      if (!parseStringBlock(r.data, &s)) {
        printf("    (damaged)\n");
        continue;
      }
      for (unsigned k = 0; k < 16; ++k) {
        if (s[k].empty()) continue;
        printf("    %u: %s\n", (r.name.id - 1) * 16 + k,
               utf16ToUtf8(s[k]).c_str());
      }
    } else {
      printf("\n");
    }
  }
}

}  // namespace

int runInfo(int argc, char** argv) {
  std::string path;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      printf("Usage: sfxpack info FILE.exe\n");
      return 0;
    }
    if ((!a.empty() && a[0] == '-') || !path.empty()) {
      fprintf(stderr, "sfxpack: unexpected argument '%s'\n", a.c_str());
      return 2;
    }
    path = a;
  }
  if (path.empty()) {
    fprintf(stderr, "sfxpack: missing FILE.exe\n");
    return 2;
  }
  // The headers and resources sit in the image part, which is read whole;
  // the payload is read through the stub's own reader.
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    fprintf(stderr, "sfxpack: cannot read '%s': %s\n", path.c_str(),
            strerror(errno));
    return 1;
  }
  in.seekg(0, std::ios::end);
  uint64_t fileSize = uint64_t(in.tellg());
  in.seekg(0, std::ios::beg);
  std::vector<uint8_t> head(size_t(std::min<uint64_t>(fileSize, 64u << 10)));
  in.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
  uint64_t imageEnd = 0;
  if (in && peImageEndFromHeaders(head, &imageEnd) && imageEnd > head.size() &&
      imageEnd <= std::min<uint64_t>(fileSize, kMaxInfoImage)) {
    size_t have = head.size();
    head.resize(size_t(imageEnd));
    in.read(reinterpret_cast<char*>(head.data() + have),
            std::streamsize(imageEnd - have));
  }
  PeImage image;
  std::string why;
  if (!in || !image.parse(std::move(head), &why)) {
    fprintf(stderr, "sfxpack: %s: %s\n", path.c_str(),
            why.empty() ? "read error" : why.c_str());
    return 1;
  }
  printf("file: %s, %llu bytes\n", path.c_str(), (unsigned long long)fileSize);
  printf("architecture: %s\n", image.architecture().c_str());
  printf("image: %llu bytes\n", (unsigned long long)image.imageEnd());
  bool refused = !checkStubImage(image, &why);
  if (refused) printf("stub: refused as --stub: %s\n", why.c_str());
  if (image.certificateSize()) {
    printf("signature: %llu bytes at offset %llu\n",
           (unsigned long long)image.certificateSize(),
           (unsigned long long)image.certificateOffset());
  } else {
    printf("signature: none\n");
  }
  printResources(image);

  sfx::Logger log;
  sfx::XString xpath;
  xpath.setFromUtf8(path.c_str());
  sfx::FileDataSource file;
  sfx::SimpleArchive archive;
  if (!file.openDataSource(xpath, log)) {
    fprintf(stderr, "sfxpack: cannot read '%s'\n", path.c_str());
    return 1;
  }
  archive.setSource(&file);
  if (!archive.findMarker(log, nullptr)) {
    printf("payload: none\n");
    return refused ? 1 : 0;
  }
  uint64_t offset = uint64_t(file.getPosition()) - 8;
  uint64_t end = fileSize;
  if (image.certificateSize() && image.certificateOffset() > offset &&
      image.certificateOffset() < end) {
    end = image.certificateOffset();
  }
  printf("payload: offset %llu, %llu bytes\n", (unsigned long long)offset,
         (unsigned long long)(end - offset));
  sfx::StringBuffer headerError;
  if (!archive.readHeader(headerError, log, nullptr) ||
      !archive.readArgs(log, nullptr)) {
    printf("payload header: unreadable\n");
    return 1;
  }
  if (archive.isEncrypted()) {
    // The password scheme: the salted one with its count, or the earlier.
    if (archive.kdf()) {
      printf("encryption: AES-%d, key from the password by %s, %u iterations\n",
             archive.keyLengthBits(), sfx::kKdfAlgorithm,
             archive.kdf()->iterations);
    } else if (archive.kdfRefused()) {
      printf("encryption: AES-%d, key derivation refused: %s\n",
             archive.keyLengthBits(), archive.kdfError().getString());
    } else {
      printf("encryption: AES-%d, key from the password by unsalted MD5 "
             "(legacy)\n",
             archive.keyLengthBits());
    }
  } else {
    printf("encryption: none\n");
  }
  sfx::XString config;
  if (archive.getArg(sfx::kConfigArg, config) && config.getUtf8()[0]) {
    printf("configuration:\n%s", config.getUtf8());
    size_t n = strlen(config.getUtf8());
    if (n && config.getUtf8()[n - 1] != '\n') printf("\n");
  } else {
    printf("configuration: none\n");
  }
  return 0;
}

}  // namespace sfxpack
