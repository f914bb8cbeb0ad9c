// The resources of a PE image (PE32 and PE32+), read and written without
// Windows tools: the packer brands a copy of the stub with its own icon,
// version information and manifest before the payload is appended.
#ifndef SFX_TOOLS_SFXPACK_PE_PE_RESOURCES_H_
#define SFX_TOOLS_SFXPACK_PE_PE_RESOURCES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sfxpack {

// Resource types the packer reads or writes.
constexpr uint16_t kRtIcon = 3;
constexpr uint16_t kRtString = 6;
constexpr uint16_t kRtGroupIcon = 14;
constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kRtManifest = 24;

// The language the stub's resources are written in (English, United States).
constexpr uint16_t kLangEnUs = 0x0409;

// A resource type or name: a 16-bit number, or a string when `name` is not
// empty (then `id` is unused).
struct ResId {
  uint16_t id = 0;
  std::u16string name;

  static ResId number(uint16_t n) {
    ResId r;
    r.id = n;
    return r;
  }
  bool isNumber() const { return name.empty(); }
  bool operator==(const ResId& o) const {
    return isNumber() ? o.isNumber() && id == o.id : name == o.name;
  }
  bool operator!=(const ResId& o) const { return !(*this == o); }
  // "3" or "\"NAME\"" (non-ASCII characters as '?').
  std::string text() const;
};

// The order of a resource directory's entries: named ones first, by the
// upper-cased name as the loader's lookup expects, then numbered ones in
// ascending order.
bool resIdLess(const ResId& a, const ResId& b);

struct Resource {
  ResId type;
  ResId name;
  uint16_t lang = 0;
  uint32_t codePage = 0;
  std::vector<uint8_t> data;
};

// Upper bounds of what the reader accepts; beyond them an image is refused
// as damaged rather than parsed for long.
constexpr size_t kMaxSections = 96;
constexpr size_t kMaxResources = 4096;
constexpr size_t kMaxResourceBytes = 64u << 20;

// A PE image held in memory with its resources taken apart. The image may be
// followed by other data (a payload, a signature); only rewriting refuses it.
class PeImage {
 public:
  // Takes `file` apart: headers, section table, resource tree (types, names,
  // languages). Every offset and count is checked against the file; a
  // resource tree deeper than three levels or one that loops is refused. On
  // failure returns false with *error set to a one-line reason.
  bool parse(std::vector<uint8_t> file, std::string* error);

  bool is64() const { return is64_; }
  uint16_t machine() const { return machine_; }
  // "x86 (PE32)", "x64 (PE32+)" or "machine 0x... (PE32)".
  std::string architecture() const;
  // Offset of the first byte after the last section's raw data.
  uint64_t imageEnd() const { return imageEnd_; }
  // The certificate table of a signed file: its file offset and size, or 0.
  uint64_t certificateOffset() const { return certOffset_; }
  uint64_t certificateSize() const { return certSize_; }
  const std::vector<uint8_t>& file() const { return file_; }

  // In directory order after parse; callers add, replace and remove freely.
  std::vector<Resource>& resources() { return resources_; }
  const std::vector<Resource>& resources() const { return resources_; }
  // The resource of this type and name in the given language (or in any
  // language when lang is negative), or null.
  const Resource* find(const ResId& type, const ResId& name,
                       int lang = -1) const;
  // Replaces the resource of the same type, name and language, or adds it.
  void put(Resource r);

  // The optional header's Subsystem (2: Windows GUI, 3: console).
  uint16_t subsystem() const;

  // Whether the layout is sound: the headers lie within the file, every
  // section's raw data starts at or after SizeOfHeaders and ends within the
  // file, and no two sections' raw data overlap. write() refuses an image
  // that is not. On refusal returns false with *error set.
  bool checkLayout(std::string* error) const;

  // Whether write() can rebuild this image: not signed, nothing after its
  // last section, no symbol table. On refusal returns false with *error set.
  bool checkRewritable(std::string* error) const;

  // The image with the current resources: the resource section rebuilt in
  // place when only relocations follow it (they move up), else a new last
  // section ".rsrc" that the resource directory points to. Section table,
  // SizeOfImage, SizeOfInitializedData and the checksum are updated; the
  // alignments are kept. The image is never cut below its headers, and a
  // new section header goes only into bytes of the headers that are zero
  // and lie before the first section's data. On failure returns false with
  // *error set.
  bool write(std::vector<uint8_t>* out, std::string* error) const;

  // Offset of the optional header's CheckSum field in the file.
  size_t checksumOffset() const { return optOffset_ + 64; }

 private:
  struct Section {
    char name[8];
    uint32_t virtualSize;
    uint32_t virtualAddress;
    uint32_t rawSize;
    uint32_t rawOffset;
    uint32_t characteristics;
    size_t headerOffset;  // of its entry in the section table
  };

  int sectionOfRva(uint32_t rva) const;
  bool parseResources(std::string* error);
  std::vector<uint8_t> buildResourceSection(uint32_t rva) const;

  std::vector<uint8_t> file_;
  bool is64_ = false;
  uint16_t machine_ = 0;
  size_t coffOffset_ = 0;
  size_t optOffset_ = 0;
  size_t dataDirOffset_ = 0;
  uint32_t dataDirCount_ = 0;
  uint32_t sectionAlignment_ = 0;
  uint32_t fileAlignment_ = 0;
  uint32_t sizeOfHeaders_ = 0;
  uint64_t imageEnd_ = 0;
  uint64_t certOffset_ = 0;
  uint64_t certSize_ = 0;
  std::vector<Section> sections_;
  std::vector<Resource> resources_;
};

// From the first bytes of a file (its headers): where the image's last
// section ends, so that a reader knows how much of a large file to load.
// False when the headers are not those of a PE image or not all there.
bool peImageEndFromHeaders(const std::vector<uint8_t>& head, uint64_t* end);

// The PE checksum, fed in pieces: the sum of the file's 16-bit little-endian
// words with carries folded back in, the CheckSum field itself counted as
// zero, plus the file's length.
class PeChecksum {
 public:
  explicit PeChecksum(uint64_t checksumOffset) : skip_(checksumOffset) {}
  void add(const uint8_t* data, size_t size);
  uint32_t finish() const;

 private:
  uint64_t skip_;
  uint64_t pos_ = 0;
  uint64_t sum_ = 0;
};

// Reads the UTF-8 text as UTF-16; false when it is not valid UTF-8.
bool utf8ToUtf16(const std::string& in, std::u16string* out);
// The UTF-16 text as UTF-8 (unpaired surrogates as U+FFFD).
std::string utf16ToUtf8(const std::u16string& in);

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_PE_PE_RESOURCES_H_
