// Test fixture: small PE images laid out the way linkers lay them out, built
// byte by byte (not by the writer under test), and an independent check of
// an image's header invariants.
#ifndef SFX_TOOLS_SFXPACK_PE_PE_TEST_IMAGE_H_
#define SFX_TOOLS_SFXPACK_PE_PE_TEST_IMAGE_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace sfxpack {
namespace testing {

enum class Layout {
  kRsrcThenReloc,  // .text .rsrc .reloc: the usual linker output
  kRsrcLast,       // .text .reloc .rsrc
  kRsrcInMiddle,   // .text .rsrc .data: nothing may move
  kNoResources,    // .text .reloc, no resource directory
};

struct Section {
  std::string name;
  uint32_t va, rawOffset, rawSize, virtualSize;
};

inline void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
inline void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
inline uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 |
         uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
inline uint16_t get16(const std::vector<uint8_t>& b, size_t at) {
  return uint16_t(b[at] | b[at + 1] << 8);
}

constexpr size_t kPeOffset = 0x80;
constexpr size_t kOpt = kPeOffset + 24;
inline size_t dataDirs(bool is64) { return kOpt + (is64 ? 112 : 96); }
inline size_t sectionTable(bool is64) { return kOpt + (is64 ? 0xf0 : 0xe0); }

// A resource tree with one manifest (type 24, name 1, language 0x409) whose
// text is `manifest`, placed at `rva`: root, name and language tables, the
// data entry, then the data.
inline std::vector<uint8_t> tinyResourceTree(uint32_t rva,
                                             const std::string& manifest) {
  std::vector<uint8_t> t(0x58 + manifest.size(), 0);
  put16(t, 0x0e, 1);  // root: one numbered entry
  put32(t, 0x10, 24);
  put32(t, 0x14, 0x80000018);
  put16(t, 0x18 + 0x0e, 1);  // names
  put32(t, 0x28, 1);
  put32(t, 0x2c, 0x80000030);
  put16(t, 0x30 + 0x0e, 1);  // languages
  put32(t, 0x40, 0x409);
  put32(t, 0x44, 0x48);
  put32(t, 0x48, rva + 0x58);  // data entry
  put32(t, 0x4c, uint32_t(manifest.size()));
  memcpy(&t[0x58], manifest.data(), manifest.size());
  return t;
}

// The image and where its sections are. .text holds 0x200 bytes of a
// pattern; .reloc one block for the page at 0x1000; .data 0x200 bytes and
// the TLS directory points into it.
inline std::vector<uint8_t> makeImage(
    bool is64, Layout layout, std::vector<Section>* where = nullptr,
    const std::string& manifest = "<assembly/>") {
  std::vector<std::string> names = {".text"};
  switch (layout) {
    case Layout::kRsrcThenReloc:
      names.insert(names.end(), {".rsrc", ".reloc"});
      break;
    case Layout::kRsrcLast:
      names.insert(names.end(), {".reloc", ".rsrc"});
      break;
    case Layout::kRsrcInMiddle:
      names.insert(names.end(), {".rsrc", ".data"});
      break;
    case Layout::kNoResources:
      names.insert(names.end(), {".reloc"});
      break;
  }
  std::vector<uint8_t> f(0x400, 0);
  f[0] = 'M';
  f[1] = 'Z';
  put32(f, 0x3c, kPeOffset);
  put32(f, kPeOffset, 0x4550);
  put16(f, kPeOffset + 4, is64 ? 0x8664 : 0x14c);
  put16(f, kPeOffset + 6, uint32_t(names.size()));
  put16(f, kPeOffset + 20, is64 ? 0xf0 : 0xe0);
  put16(f, kPeOffset + 22, 0x22);
  put16(f, kOpt, is64 ? 0x20b : 0x10b);
  put32(f, kOpt + 32, 0x1000);
  put32(f, kOpt + 36, 0x200);
  put32(f, kOpt + 60, 0x400);
  put16(f, kOpt + 68, 2);  // GUI
  put32(f, dataDirs(is64) - 4, 16);

  std::vector<Section> secs;
  uint32_t va = 0x1000;
  uint32_t initialized = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& n = names[i];
    std::vector<uint8_t> body;
    uint32_t chars = 0x40000040;  // initialized data, readable
    if (n == ".text") {
      for (int k = 0; k < 0x200; ++k) body.push_back(uint8_t(k * 7 + 1));
      chars = 0x60000020;
    } else if (n == ".rsrc") {
      body = tinyResourceTree(va, manifest);
      put32(f, dataDirs(is64) + 2 * 8, va);
      put32(f, dataDirs(is64) + 2 * 8 + 4, uint32_t(body.size()));
    } else if (n == ".reloc") {
      body.assign(12, 0);
      put32(body, 0, 0x1000);
      put32(body, 4, 12);
      put16(body, 8, (is64 ? 0xa000 : 0x3000) | 0x10);
      put32(f, dataDirs(is64) + 5 * 8, va);
      put32(f, dataDirs(is64) + 5 * 8 + 4, 12);
      chars = 0x42000040;
    } else {  // .data
      body.assign(0x200, 0x5a);
      put32(f, dataDirs(is64) + 9 * 8, va + 0x10);
      put32(f, dataDirs(is64) + 9 * 8 + 4, is64 ? 40 : 24);
    }
    uint32_t raw = uint32_t((body.size() + 0x1ff) / 0x200 * 0x200);
    Section s{n, va, uint32_t(f.size()), raw, uint32_t(body.size())};
    size_t h = sectionTable(is64) + 40 * i;
    memcpy(&f[h], n.data(), n.size());
    put32(f, h + 8, s.virtualSize);
    put32(f, h + 12, va);
    put32(f, h + 16, raw);
    put32(f, h + 20, s.rawOffset);
    put32(f, h + 36, chars);
    if (chars & 0x40) initialized += raw;
    f.insert(f.end(), body.begin(), body.end());
    f.resize(s.rawOffset + raw, 0);
    secs.push_back(s);
    va += (s.virtualSize + 0xfff) / 0x1000 * 0x1000;
  }
  put32(f, kOpt + 8, initialized);
  put32(f, kOpt + 56, va);
  if (where) *where = secs;
  return f;
}

// The checksum as the reference algorithm states it: 16-bit words, each
// added with its carry folded back at once, then the file's length.
inline uint32_t referenceChecksum(const std::vector<uint8_t>& f, size_t field) {
  uint32_t sum = 0;
  for (size_t i = 0; i < f.size(); i += 2) {
    if (i == field || i == field + 2) continue;
    uint32_t w = f[i] | (i + 1 < f.size() ? f[i + 1] << 8 : 0);
    sum += w;
    sum = (sum & 0xffff) + (sum >> 16);
  }
  sum = (sum & 0xffff) + (sum >> 16);
  return sum + uint32_t(f.size());
}

// Everything the loader checks about the section table and the sizes in the
// optional header, read without the code under test. Empty when all holds.
inline std::string headerProblems(const std::vector<uint8_t>& f, bool is64) {
  size_t n = get16(f, kPeOffset + 6);
  uint32_t end = 0, fileEnd = 0x400, initialized = 0;
  uint32_t prevVaEnd = 0x1000;
  for (size_t i = 0; i < n; ++i) {
    size_t h = sectionTable(is64) + 40 * i;
    uint32_t vs = get32(f, h + 8), va = get32(f, h + 12),
             raw = get32(f, h + 16), off = get32(f, h + 20),
             chars = get32(f, h + 36);
    std::string which = "section " + std::to_string(i) + ": ";
    if (va % 0x1000) return which + "virtual address not aligned";
    if (va != prevVaEnd) return which + "not contiguous in memory";
    if (raw % 0x200 || off % 0x200) return which + "raw data not aligned";
    if (raw && off != fileEnd) return which + "not contiguous in the file";
    if (uint64_t(off) + raw > f.size()) return which + "beyond the file";
    prevVaEnd = va + (std::max(vs, raw) + 0xfff) / 0x1000 * 0x1000;
    end = std::max(end, va + std::max(vs, raw));
    if (raw) fileEnd = off + raw;
    if (chars & 0x40) initialized += raw;
  }
  if (get32(f, kOpt + 56) != (end + 0xfff) / 0x1000 * 0x1000)
    return "SizeOfImage";
  if (get32(f, kOpt + 8) != initialized) return "SizeOfInitializedData";
  if (get32(f, kOpt + 64) != referenceChecksum(f, kOpt + 64)) return "CheckSum";
  return "";
}

}  // namespace testing
}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_PE_PE_TEST_IMAGE_H_
