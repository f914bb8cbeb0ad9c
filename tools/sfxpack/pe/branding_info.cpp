// "sfxpack info": the architecture, the resources the branding flags write,
// the payload's place and the stored configuration.
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

constexpr uint64_t kMaxInfoImage = 256u << 20;  // info reads no larger image

}  // namespace

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
      printf(
          "encryption: AES-%d, key from the password by unsalted MD5 "
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
