// The branding flags of "sfxpack create" and how they are applied to the
// stub; each resource kind has its own file (branding_icons.cpp,
// branding_version.cpp, branding_manifest.cpp, branding_strings.cpp), and
// "sfxpack info" reads them back (branding_info.cpp).
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

constexpr size_t kMaxIcoBytes = 16u << 20;
constexpr size_t kMaxManifestBytes = 1u << 20;

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

bool containsMarker(const std::vector<uint8_t>& b) {
  uint8_t marker[sfx::kMarkerBytes];
  sfx::storeLe32(marker, sfx::payloadMarkerConstant(0));
  sfx::storeLe32(marker + 4, sfx::payloadMarkerConstant(1));
  return std::search(b.begin(), b.end(), marker, marker + sfx::kMarkerBytes) !=
         b.end();
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

namespace branding_parts {

const char* const kVersionKeys[7] = {
    "FileVersion",     "ProductVersion", "ProductName",     "CompanyName",
    "FileDescription", "LegalCopyright", "OriginalFilename"};

// Append a little-endian field to a resource being built.
void put16(std::vector<uint8_t>& b, uint32_t v) {
  b.resize(b.size() + 2);
  sfx::storeLe16(b.data() + b.size() - 2, static_cast<uint16_t>(v));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
  b.resize(b.size() + 4);
  sfx::storeLe32(b.data() + b.size() - 4, v);
}

// The language new resources get: that of the stub's first resource.
uint16_t stubLanguage(const PeImage& image) {
  return image.resources().empty() ? kLangEnUs : image.resources()[0].lang;
}

}  // namespace branding_parts

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

// ---- Applying -------------------------------------------------------------

namespace {

constexpr uint16_t kSubsystemWindowsGui = 2;

}  // namespace

namespace branding_parts {

// The checks of checkStub that hold for a finished self-extractor too.
bool checkStubImage(const PeImage& image, std::string* error) {
  if (image.subsystem() != kSubsystemWindowsGui) {
    *error = "not a Windows GUI executable (subsystem " +
             std::to_string(image.subsystem()) + ")";
    return false;
  }
  return image.checkLayout(error);
}

}  // namespace branding_parts

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
    *error = "cannot update the checksum of '" + path +
             "': " + (errno ? strerror(errno) : "unexpected end of file");
  return ok;
}

}  // namespace sfxpack
