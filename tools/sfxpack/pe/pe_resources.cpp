// PE headers, the resource tree and the rebuilt image. All reads are
// bounded by the file; nothing here trusts a count or an offset it was given.
#include "pe/pe_resources.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "text/little_endian.h"

namespace sfxpack {
namespace {

constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint16_t kMagicPe32 = 0x10b;
constexpr uint16_t kMagicPe32Plus = 0x20b;
constexpr uint16_t kMachineI386 = 0x14c;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint32_t kDirResource = 2;
constexpr uint32_t kDirSecurity = 4;
constexpr uint32_t kDirBaseReloc = 5;
constexpr size_t kSectionHeaderSize = 40;
constexpr uint32_t kScnInitializedData = 0x00000040;
constexpr uint32_t kScnMemRead = 0x40000000;
// A directory table: 16 bytes of header, then 8 bytes per entry.
constexpr uint32_t kDirHeaderSize = 16;
constexpr uint32_t kDirEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;

using sfx::loadLe16;
using sfx::loadLe32;
using sfx::storeLe16;
using sfx::storeLe32;

uint64_t alignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }
bool isPowerOfTwo(uint32_t v) { return v && !(v & (v - 1)); }

std::string hex(uint32_t v) {
  char t[16];
  snprintf(t, sizeof t, "0x%x", v);
  return t;
}

}  // namespace

bool resIdLess(const ResId& a, const ResId& b) {
  if (a.isNumber() != b.isNumber()) return !a.isNumber();
  if (a.isNumber()) return a.id < b.id;
  auto upper = [](std::u16string s) {
    for (auto& c : s) {
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    }
    return s;
  };
  std::u16string ua = upper(a.name), ub = upper(b.name);
  return ua != ub ? ua < ub : a.name < b.name;
}

std::string ResId::text() const {
  if (isNumber()) return std::to_string(id);
  std::string s = "\"";
  for (char16_t c : name)
    s += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
  return s + "\"";
}

std::string PeImage::architecture() const {
  std::string name = machine_ == kMachineI386    ? std::string("x86")
                     : machine_ == kMachineAmd64 ? std::string("x64")
                                                 : "machine " + hex(machine_);
  name += is64_ ? " (PE32+)" : " (PE32)";
  return name;
}

int PeImage::sectionOfRva(uint32_t rva) const {
  for (size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    uint32_t span = std::max(s.virtualSize, s.rawSize);
    if (rva >= s.virtualAddress && rva - s.virtualAddress < span) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool PeImage::parse(std::vector<uint8_t> file, std::string* error) {
  file_ = std::move(file);
  sections_.clear();
  resources_.clear();
  const std::vector<uint8_t>& f = file_;
  if (f.size() < 64 || f[0] != 'M' || f[1] != 'Z') {
    *error = "not a Windows executable (no MZ header)";
    return false;
  }
  uint32_t peOffset = loadLe32(f.data() + 0x3c);
  if (peOffset > f.size() || f.size() - peOffset < 24 ||
      loadLe32(f.data() + peOffset) != kPeSignature) {
    *error = "not a PE image (no PE header)";
    return false;
  }
  coffOffset_ = peOffset + 4;
  machine_ = loadLe16(f.data() + coffOffset_);
  size_t sectionCount = loadLe16(f.data() + coffOffset_ + 2);
  size_t optSize = loadLe16(f.data() + coffOffset_ + 16);
  optOffset_ = coffOffset_ + 20;
  if (f.size() - optOffset_ < optSize || optSize < 2) {
    *error = "truncated PE optional header";
    return false;
  }
  uint16_t magic = loadLe16(f.data() + optOffset_);
  if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
    *error = "unknown PE optional header magic " + hex(magic);
    return false;
  }
  is64_ = magic == kMagicPe32Plus;
  size_t dirsAt = is64_ ? 112 : 96;
  if (optSize < dirsAt) {
    *error = "truncated PE optional header";
    return false;
  }
  sectionAlignment_ = loadLe32(f.data() + optOffset_ + 32);
  fileAlignment_ = loadLe32(f.data() + optOffset_ + 36);
  sizeOfHeaders_ = loadLe32(f.data() + optOffset_ + 60);
  dataDirCount_ = loadLe32(f.data() + optOffset_ + dirsAt - 4);
  dataDirOffset_ = optOffset_ + dirsAt;
  if (dataDirCount_ > 16 || dirsAt + dataDirCount_ * 8ull > optSize) {
    *error = "bad data directory count " + std::to_string(dataDirCount_);
    return false;
  }
  if (!isPowerOfTwo(fileAlignment_) || fileAlignment_ < 512 ||
      fileAlignment_ > 65536 || !isPowerOfTwo(sectionAlignment_) ||
      sectionAlignment_ < fileAlignment_) {
    *error = "unsupported alignments (file " + hex(fileAlignment_) +
             ", section " + hex(sectionAlignment_) + ")";
    return false;
  }
  if (sectionCount == 0 || sectionCount > kMaxSections) {
    *error = "bad section count " + std::to_string(sectionCount);
    return false;
  }
  size_t table = optOffset_ + optSize;
  if (table + sectionCount * kSectionHeaderSize > f.size() ||
      table + sectionCount * kSectionHeaderSize > sizeOfHeaders_) {
    *error = "truncated section table";
    return false;
  }
  imageEnd_ = sizeOfHeaders_;
  for (size_t i = 0; i < sectionCount; ++i) {
    size_t at = table + i * kSectionHeaderSize;
    Section s;
    memcpy(s.name, &f[at], 8);
    s.virtualSize = loadLe32(f.data() + at + 8);
    s.virtualAddress = loadLe32(f.data() + at + 12);
    s.rawSize = loadLe32(f.data() + at + 16);
    s.rawOffset = loadLe32(f.data() + at + 20);
    s.characteristics = loadLe32(f.data() + at + 36);
    s.headerOffset = at;
    if (s.rawSize &&
        (s.rawOffset > f.size() || f.size() - s.rawOffset < s.rawSize)) {
      *error = "section " + std::to_string(i + 1) +
               " lies beyond the end of the file";
      return false;
    }
    if (!sections_.empty() &&
        s.virtualAddress < sections_.back().virtualAddress +
                               std::max(sections_.back().virtualSize,
                                        sections_.back().rawSize)) {
      *error = "sections overlap or are out of order";
      return false;
    }
    if (s.rawSize)
      imageEnd_ = std::max<uint64_t>(imageEnd_, s.rawOffset + s.rawSize);
    sections_.push_back(s);
  }
  certOffset_ = certSize_ = 0;
  if (dataDirCount_ > kDirSecurity) {
    certOffset_ = loadLe32(f.data() + dataDirOffset_ + kDirSecurity * 8);
    certSize_ = loadLe32(f.data() + dataDirOffset_ + kDirSecurity * 8 + 4);
  }
  if (!parseResources(error)) return false;
  // One resource listed twice (the same type, name and language) would be
  // one in a rewritten tree: such a tree is refused as damaged.
  std::set<std::u16string> keys;
  for (const Resource& r : resources_) {
    std::u16string key;
    for (const ResId* id : {&r.type, &r.name}) {
      key += char16_t(id->isNumber() ? 0 : id->name.size() + 1);
      key += id->isNumber() ? std::u16string(1, char16_t(id->id)) : id->name;
    }
    key += char16_t(r.lang);
    if (!keys.insert(key).second) {
      *error = "the resource directory lists type " + r.type.text() +
               ", name " + r.name.text() + ", language " +
               std::to_string(r.lang) + " twice";
      resources_.clear();
      return false;
    }
  }
  return true;
}

bool PeImage::parseResources(std::string* error) {
  if (dataDirCount_ <= kDirResource) return true;
  uint32_t rva = loadLe32(file_.data() + dataDirOffset_ + kDirResource * 8);
  if (rva == 0) return true;
  int si = sectionOfRva(rva);
  if (si < 0 || rva - sections_[si].virtualAddress >= sections_[si].rawSize) {
    *error = "the resource directory lies outside the image's sections";
    return false;
  }
  const Section& sec = sections_[si];
  // Offsets inside the tree count from its root; all of it must lie in the
  // section's raw data.
  const size_t base = sec.rawOffset + (rva - sec.virtualAddress);
  const size_t limit = sec.rawSize - (rva - sec.virtualAddress);
  const std::vector<uint8_t>& f = file_;
  std::set<uint32_t> seen;
  size_t totalBytes = 0;

  struct Entry {
    ResId id;
    uint32_t target;
  };
  auto readName = [&](uint32_t off, ResId* out) {
    if (off > limit || limit - off < 2) return false;
    size_t len = loadLe16(f.data() + base + off);
    if ((limit - off - 2) / 2 < len) return false;
    out->name.clear();
    for (size_t k = 0; k < len; ++k) {
      out->name.push_back(
          static_cast<char16_t>(loadLe16(f.data() + base + off + 2 + 2 * k)));
    }
    if (out->name.empty()) out->name.push_back(u'?');  // still a name
    return true;
  };
  auto readDir = [&](uint32_t off, std::vector<Entry>* out) {
    if (!seen.insert(off).second) {
      *error = "the resource directory loops (table at " + hex(off) +
               " reached twice)";
      return false;
    }
    if (off > limit || limit - off < kDirHeaderSize) {
      *error = "resource directory table at " + hex(off) + " is truncated";
      return false;
    }
    size_t n = size_t(loadLe16(f.data() + base + off + 12)) +
               loadLe16(f.data() + base + off + 14);
    if ((limit - off - kDirHeaderSize) / kDirEntrySize < n) {
      *error = "resource directory table at " + hex(off) +
               " claims more entries than fit";
      return false;
    }
    for (size_t k = 0; k < n; ++k) {
      size_t at = base + off + kDirHeaderSize + k * kDirEntrySize;
      uint32_t nameField = loadLe32(f.data() + at);
      Entry e;
      e.target = loadLe32(f.data() + at + 4);
      if (nameField & kHighBit) {
        if (!readName(nameField & ~kHighBit, &e.id)) {
          *error = "resource name at " + hex(nameField & ~kHighBit) +
                   " is truncated";
          return false;
        }
      } else {
        if (nameField > 0xffff) {
          *error = "resource id " + hex(nameField) + " is out of range";
          return false;
        }
        e.id = ResId::number(static_cast<uint16_t>(nameField));
      }
      out->push_back(std::move(e));
    }
    return true;
  };

  std::vector<Entry> types;
  if (!readDir(0, &types)) return false;
  for (const Entry& t : types) {
    if (!(t.target & kHighBit)) {
      *error = "resource type " + t.id.text() + " is not a directory";
      return false;
    }
    std::vector<Entry> names;
    if (!readDir(t.target & ~kHighBit, &names)) return false;
    for (const Entry& n : names) {
      if (!(n.target & kHighBit)) {
        *error = "resource " + t.id.text() + "/" + n.id.text() +
                 " is not a directory";
        return false;
      }
      std::vector<Entry> langs;
      if (!readDir(n.target & ~kHighBit, &langs)) return false;
      for (const Entry& l : langs) {
        if ((l.target & kHighBit) || !l.id.isNumber()) {
          *error = "resource tree nests deeper than type, name and language";
          return false;
        }
        if (l.target > limit || limit - l.target < kDataEntrySize) {
          *error = "resource data entry at " + hex(l.target) + " is truncated";
          return false;
        }
        if (resources_.size() >= kMaxResources) {
          *error = "more than " + std::to_string(kMaxResources) + " resources";
          return false;
        }
        size_t at = base + l.target;
        uint32_t dataRva = loadLe32(f.data() + at);
        uint32_t size = loadLe32(f.data() + at + 4);
        int ds = sectionOfRva(dataRva);
        if (ds < 0 || size > sections_[ds].rawSize ||
            dataRva - sections_[ds].virtualAddress >
                sections_[ds].rawSize - size) {
          *error = "data of resource " + t.id.text() + "/" + n.id.text() +
                   " lies outside the file";
          return false;
        }
        totalBytes += size;
        if (totalBytes > kMaxResourceBytes) {
          *error = "resources larger than " +
                   std::to_string(kMaxResourceBytes >> 20) + " MB";
          return false;
        }
        size_t from =
            sections_[ds].rawOffset + (dataRva - sections_[ds].virtualAddress);
        Resource r;
        r.type = t.id;
        r.name = n.id;
        r.lang = l.id.id;
        r.codePage = loadLe32(f.data() + at + 8);
        r.data.assign(f.begin() + from, f.begin() + from + size);
        resources_.push_back(std::move(r));
      }
    }
  }
  return true;
}

const Resource* PeImage::find(const ResId& type, const ResId& name,
                              int lang) const {
  for (const Resource& r : resources_) {
    if (r.type == type && r.name == name && (lang < 0 || r.lang == lang)) {
      return &r;
    }
  }
  return nullptr;
}

void PeImage::put(Resource r) {
  for (Resource& old : resources_) {
    if (old.type == r.type && old.name == r.name && old.lang == r.lang) {
      old = std::move(r);
      return;
    }
  }
  resources_.push_back(std::move(r));
}

uint16_t PeImage::subsystem() const {
  return loadLe16(file_.data() + optOffset_ + 68);
}

bool PeImage::checkLayout(std::string* error) const {
  if (sizeOfHeaders_ > file_.size()) {
    *error = "the headers claim " + std::to_string(sizeOfHeaders_) +
             " bytes, more than the file's " + std::to_string(file_.size());
    return false;
  }
  std::vector<std::pair<uint64_t, uint64_t>> raw;  // [start, end)
  for (size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    if (!s.rawSize) continue;
    if (s.rawOffset < sizeOfHeaders_) {
      *error = "section " + std::to_string(i + 1) + "'s data at offset " +
               std::to_string(s.rawOffset) + " lies inside the headers (" +
               std::to_string(sizeOfHeaders_) + " bytes)";
      return false;
    }
    raw.emplace_back(s.rawOffset, uint64_t(s.rawOffset) + s.rawSize);
  }
  std::sort(raw.begin(), raw.end());
  for (size_t i = 1; i < raw.size(); ++i) {
    if (raw[i].first < raw[i - 1].second) {
      *error = "two sections' data overlap at offset " +
               std::to_string(raw[i].first);
      return false;
    }
  }
  return true;
}

bool PeImage::checkRewritable(std::string* error) const {
  if (certSize_ != 0) {
    *error =
        "the stub is signed; brand an unsigned stub and sign the "
        "self-extractor after packing";
    return false;
  }
  if (loadLe32(file_.data() + coffOffset_ + 8) != 0) {
    *error = "the stub carries a symbol table; strip it before branding";
    return false;
  }
  if (file_.size() > imageEnd_) {
    *error = "the stub has " + std::to_string(file_.size() - imageEnd_) +
             " bytes after its last section (a payload or other appended "
             "data); brand the bare stub";
    return false;
  }
  return true;
}

// The tree as the loader reads it: the directory tables breadth first (root,
// types, names), then the data entries, the names' strings, and the data,
// each piece of data on an 8-byte boundary.
std::vector<uint8_t> PeImage::buildResourceSection(uint32_t rva) const {
  using Langs = std::map<uint16_t, const Resource*>;
  auto less = [](const ResId& a, const ResId& b) { return resIdLess(a, b); };
  using Names = std::map<ResId, Langs, decltype(less)>;
  std::map<ResId, Names, decltype(less)> tree(less);
  for (const Resource& r : resources_) {
    auto it = tree.emplace(r.type, Names(less)).first;
    it->second[r.name][r.lang] = &r;  // a later duplicate wins
  }

  uint32_t typeTables = kDirHeaderSize + kDirEntrySize * uint32_t(tree.size());
  uint32_t nameTables = 0, dataEntries = 0;
  for (auto& t : tree) {
    nameTables += kDirHeaderSize + kDirEntrySize * uint32_t(t.second.size());
    for (auto& n : t.second) {
      dataEntries += uint32_t(n.second.size());
    }
  }
  uint32_t langTablesAt = typeTables + nameTables;
  uint32_t langTables = 0;
  for (auto& t : tree) {
    for (auto& n : t.second) {
      langTables += kDirHeaderSize + kDirEntrySize * uint32_t(n.second.size());
    }
  }
  uint32_t entriesAt = langTablesAt + langTables;
  uint32_t stringsAt = entriesAt + dataEntries * kDataEntrySize;
  uint32_t stringBytes = 0;
  auto countString = [&](const ResId& id) {
    if (!id.isNumber()) stringBytes += 2 + 2 * uint32_t(id.name.size());
  };
  for (auto& t : tree) {
    countString(t.first);
    for (auto& n : t.second) countString(n.first);
  }
  uint32_t dataAt = uint32_t(alignUp(stringsAt + stringBytes, 8));
  uint32_t total = dataAt;
  for (const Resource& r : resources_)
    total += uint32_t(alignUp(r.data.size(), 8));

  std::vector<uint8_t> out(total, 0);
  uint32_t nextTable = kDirHeaderSize + kDirEntrySize * uint32_t(tree.size());
  uint32_t nextLangTable = langTablesAt;
  uint32_t nextEntry = entriesAt, nextString = stringsAt, nextData = dataAt;

  auto writeHeader = [&](uint32_t at, const auto& children) {
    uint32_t named = 0, numbered = 0;
    for (auto& c : children) (c.first.isNumber() ? numbered : named)++;
    storeLe16(out.data() + at + 12, named);
    storeLe16(out.data() + at + 14, numbered);
  };
  auto writeName = [&](uint32_t at, const ResId& id) {
    if (id.isNumber()) {
      storeLe32(out.data() + at, id.id);
      return;
    }
    storeLe32(out.data() + at, nextString | kHighBit);
    storeLe16(out.data() + nextString, uint32_t(id.name.size()));
    for (size_t k = 0; k < id.name.size(); ++k) {
      storeLe16(out.data() + nextString + 2 + 2 * uint32_t(k), id.name[k]);
    }
    nextString += 2 + 2 * uint32_t(id.name.size());
  };

  writeHeader(0, tree);
  uint32_t slot = kDirHeaderSize;
  for (auto& t : tree) {
    uint32_t typeTable = nextTable;
    nextTable += kDirHeaderSize + kDirEntrySize * uint32_t(t.second.size());
    writeName(slot, t.first);
    storeLe32(out.data() + slot + 4, typeTable | kHighBit);
    slot += kDirEntrySize;
    writeHeader(typeTable, t.second);
    uint32_t nameSlot = typeTable + kDirHeaderSize;
    for (auto& n : t.second) {
      uint32_t langTable = nextLangTable;
      nextLangTable +=
          kDirHeaderSize + kDirEntrySize * uint32_t(n.second.size());
      writeName(nameSlot, n.first);
      storeLe32(out.data() + nameSlot + 4, langTable | kHighBit);
      nameSlot += kDirEntrySize;
      storeLe16(out.data() + langTable + 14, uint32_t(n.second.size()));
      uint32_t langSlot = langTable + kDirHeaderSize;
      for (auto& l : n.second) {
        storeLe32(out.data() + langSlot, l.first);
        storeLe32(out.data() + langSlot + 4, nextEntry);
        langSlot += kDirEntrySize;
        const Resource& r = *l.second;
        nextData = uint32_t(alignUp(nextData, 8));
        storeLe32(out.data() + nextEntry, rva + nextData);
        storeLe32(out.data() + nextEntry + 4, uint32_t(r.data.size()));
        storeLe32(out.data() + nextEntry + 8, r.codePage);
        nextEntry += kDataEntrySize;
        if (!r.data.empty())
          memcpy(&out[nextData], r.data.data(), r.data.size());
        nextData += uint32_t(r.data.size());
      }
    }
  }
  out.resize(nextData);
  return out;
}

bool PeImage::write(std::vector<uint8_t>* out, std::string* error) const {
  if (!checkLayout(error) || !checkRewritable(error)) return false;
  uint64_t rawBytes = 0;
  for (const Resource& r : resources_) rawBytes += r.data.size() + 8;
  if (rawBytes > kMaxResourceBytes) {
    *error = "resources larger than " +
             std::to_string(kMaxResourceBytes >> 20) + " MB";
    return false;
  }
  std::vector<uint8_t> img = file_;
  const Section& last = sections_.back();
  auto dirRva = [&](uint32_t d) {
    return d < dataDirCount_ ? loadLe32(file_.data() + dataDirOffset_ + d * 8)
                             : 0;
  };
  auto dirSize = [&](uint32_t d) {
    return d < dataDirCount_
               ? loadLe32(file_.data() + dataDirOffset_ + d * 8 + 4)
               : 0;
  };
  uint32_t resRva = dirRva(kDirResource);
  int rs = resRva ? sectionOfRva(resRva) : -1;

  // In place: the resource section starts with the tree and is the last
  // section, or only the relocation section follows it. Nothing else may
  // point into the sections that change, and no relocation may patch them.
  bool inPlace = rs >= 0 && sections_[rs].virtualAddress == resRva &&
                 sections_[rs].rawSize != 0 &&
                 sections_[rs].rawOffset >= sizeOfHeaders_;
  int relocIndex = -1;
  if (inPlace && rs + 1 < int(sections_.size())) {
    uint32_t relRva = dirRva(kDirBaseReloc);
    relocIndex = relRva ? sectionOfRva(relRva) : -1;
    inPlace = relocIndex == rs + 1 && relocIndex + 1 == int(sections_.size()) &&
              sections_[relocIndex].virtualAddress == relRva &&
              sections_[relocIndex].rawOffset >= sections_[rs].rawOffset;
  }
  if (inPlace) {
    // ... and they are the last in the file too.
    for (size_t i = 0; i < sections_.size(); ++i) {
      const Section& s = sections_[i];
      if (int(i) != rs && int(i) != relocIndex && s.rawSize &&
          s.rawOffset + uint64_t(s.rawSize) > sections_[rs].rawOffset) {
        inPlace = false;
      }
    }
    for (uint32_t d = 0; d < dataDirCount_; ++d) {
      if (d == kDirResource || d == kDirBaseReloc || d == kDirSecurity)
        continue;
      int s = dirRva(d) ? sectionOfRva(dirRva(d)) : -1;
      if (s >= 0 && (s == rs || s == relocIndex)) inPlace = false;
    }
  }
  if (inPlace && relocIndex >= 0) {
    const Section& rel = sections_[relocIndex];
    uint32_t size = std::min(dirSize(kDirBaseReloc), rel.rawSize);
    size_t at = 0;
    while (inPlace && size - at >= 8) {
      uint32_t page = loadLe32(file_.data() + rel.rawOffset + at);
      uint32_t blockSize = loadLe32(file_.data() + rel.rawOffset + at + 4);
      if (blockSize < 8 || blockSize > size - at) break;
      int s = sectionOfRva(page);
      if (s == rs || s == relocIndex) inPlace = false;
      at += blockSize;
    }
  }

  const uint32_t fa = fileAlignment_, sa = sectionAlignment_;
  int64_t initializedDelta = 0;
  if (inPlace) {
    const Section& res = sections_[rs];
    std::vector<uint8_t> blob = buildResourceSection(res.virtualAddress);
    uint32_t raw = uint32_t(alignUp(blob.size(), fa));
    std::vector<uint8_t> relocBytes;
    if (relocIndex >= 0) {
      const Section& rel = sections_[relocIndex];
      relocBytes.assign(file_.begin() + rel.rawOffset,
                        file_.begin() + rel.rawOffset + rel.rawSize);
    }
    img.resize(res.rawOffset);
    img.insert(img.end(), blob.begin(), blob.end());
    img.resize(res.rawOffset + size_t(raw), 0);
    storeLe32(img.data() + res.headerOffset + 8, uint32_t(blob.size()));
    storeLe32(img.data() + res.headerOffset + 16, raw);
    if (res.characteristics & kScnInitializedData) {
      initializedDelta += int64_t(raw) - res.rawSize;
    }
    storeLe32(img.data() + dataDirOffset_ + kDirResource * 8 + 4,
              uint32_t(blob.size()));
    if (relocIndex >= 0) {
      const Section& rel = sections_[relocIndex];
      uint32_t newVa =
          uint32_t(alignUp(uint64_t(res.virtualAddress) + blob.size(), sa));
      uint32_t newRaw = uint32_t(img.size());
      img.insert(img.end(), relocBytes.begin(), relocBytes.end());
      storeLe32(img.data() + rel.headerOffset + 12, newVa);
      storeLe32(img.data() + rel.headerOffset + 20,
                relocBytes.empty() ? 0 : newRaw);
      storeLe32(img.data() + dataDirOffset_ + kDirBaseReloc * 8,
                dirRva(kDirBaseReloc) - rel.virtualAddress + newVa);
    }
  } else {
    if (dataDirCount_ <= kDirResource) {
      *error = "the stub has no resource directory entry in its header";
      return false;
    }
    size_t table = sections_.front().headerOffset;
    size_t end = table + (sections_.size() + 1) * kSectionHeaderSize;
    uint64_t firstRaw = sizeOfHeaders_;
    for (const Section& s : sections_) {
      if (s.rawSize) firstRaw = std::min<uint64_t>(firstRaw, s.rawOffset);
    }
    bool free = end <= sizeOfHeaders_ && end <= firstRaw && end <= file_.size();
    for (size_t k = end - kSectionHeaderSize; free && k < end; ++k)
      free = file_[k] == 0;
    if (!free) {
      *error = "no room in the stub's section table for a new resource section";
      return false;
    }
    if (sections_.size() + 1 > kMaxSections) {
      *error = "too many sections for a new resource section";
      return false;
    }
    uint32_t va = uint32_t(alignUp(uint64_t(last.virtualAddress) +
                                       std::max(last.virtualSize, last.rawSize),
                                   sa));
    std::vector<uint8_t> blob = buildResourceSection(va);
    uint32_t raw = uint32_t(alignUp(blob.size(), fa));
    size_t rawOffset = size_t(alignUp(img.size(), fa));
    img.resize(rawOffset, 0);
    img.insert(img.end(), blob.begin(), blob.end());
    img.resize(rawOffset + raw, 0);
    size_t h = end - kSectionHeaderSize;
    memset(&img[h], 0, kSectionHeaderSize);
    memcpy(&img[h], ".rsrc", 5);
    storeLe32(img.data() + h + 8, uint32_t(blob.size()));
    storeLe32(img.data() + h + 12, va);
    storeLe32(img.data() + h + 16, raw);
    storeLe32(img.data() + h + 20, uint32_t(rawOffset));
    storeLe32(img.data() + h + 36, kScnInitializedData | kScnMemRead);
    storeLe16(img.data() + coffOffset_ + 2, uint32_t(sections_.size() + 1));
    initializedDelta += raw;
    if (rs >= 0 && memcmp(sections_[rs].name, ".rsrc\0\0\0", 8) == 0) {
      memcpy(&img[sections_[rs].headerOffset], ".oldrsrc", 8);
    }
    storeLe32(img.data() + dataDirOffset_ + kDirResource * 8, va);
    storeLe32(img.data() + dataDirOffset_ + kDirResource * 8 + 4,
              uint32_t(blob.size()));
  }

  // SizeOfImage: the end of the last section in memory, section-aligned.
  size_t sectionCount = loadLe16(img.data() + coffOffset_ + 2);
  uint64_t imageSize = 0;
  for (size_t i = 0; i < sectionCount; ++i) {
    size_t h = sections_.front().headerOffset + i * kSectionHeaderSize;
    imageSize = std::max<uint64_t>(imageSize,
                                   uint64_t(loadLe32(img.data() + h + 12)) +
                                       std::max(loadLe32(img.data() + h + 8),
                                                loadLe32(img.data() + h + 16)));
  }
  if (imageSize > 0xffffffffull - sa) {
    *error = "the branded image would exceed 4 GB";
    return false;
  }
  storeLe32(img.data() + optOffset_ + 56, uint32_t(alignUp(imageSize, sa)));
  uint32_t initialized = loadLe32(img.data() + optOffset_ + 8);
  storeLe32(img.data() + optOffset_ + 8,
            uint32_t(int64_t(initialized) + initializedDelta));
  PeChecksum sum(checksumOffset());
  sum.add(img.data(), img.size());
  storeLe32(img.data() + checksumOffset(), sum.finish());
  *out = std::move(img);
  return true;
}

bool peImageEndFromHeaders(const std::vector<uint8_t>& f, uint64_t* end) {
  if (f.size() < 64 || f[0] != 'M' || f[1] != 'Z') return false;
  uint64_t pe = loadLe32(f.data() + 0x3c);
  if (pe + 24 > f.size() || loadLe32(f.data() + size_t(pe)) != kPeSignature)
    return false;
  size_t count = loadLe16(f.data() + size_t(pe) + 6);
  uint64_t table = pe + 24 + loadLe16(f.data() + size_t(pe) + 20);
  if (pe + 24 + 64 > f.size() ||
      table + count * kSectionHeaderSize > f.size()) {
    return false;
  }
  *end = loadLe32(f.data() + size_t(pe) + 24 + 60);  // SizeOfHeaders
  for (size_t i = 0; i < count; ++i) {
    size_t h = size_t(table) + i * kSectionHeaderSize;
    if (loadLe32(f.data() + h + 16)) {
      *end = std::max<uint64_t>(*end, uint64_t(loadLe32(f.data() + h + 20)) +
                                          loadLe32(f.data() + h + 16));
    }
  }
  return true;
}

void PeChecksum::add(const uint8_t* data, size_t size) {
  // The sum is kept unfolded in 64 bits: 2^48 words fit before it could
  // overflow, and folding at the end gives the same value.
  size_t i = 0;
  while (i < size) {
    bool before = pos_ + 2 <= skip_, after = pos_ >= skip_ + 4;
    if (!(pos_ & 1) && size - i >= 2 && (before || after)) {
      size_t words = (size - i) / 2;
      if (before) words = std::min<uint64_t>(words, (skip_ - pos_) / 2);
      uint64_t s = 0;
      for (size_t k = 0; k < words; ++k, i += 2)
        s += data[i] | data[i + 1] << 8;
      sum_ += s;
      pos_ += 2 * words;
      continue;
    }
    if (pos_ < skip_ || pos_ >= skip_ + 4) {
      sum_ += (pos_ & 1) ? uint64_t(data[i]) << 8 : data[i];
    }
    ++i;
    ++pos_;
  }
}

uint32_t PeChecksum::finish() const {
  uint64_t s = sum_;
  while (s >> 16) s = (s & 0xffff) + (s >> 16);
  return uint32_t(s + pos_);
}

bool utf8ToUtf16(const std::string& in, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < in.size();) {
    uint8_t c = static_cast<uint8_t>(in[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c & 0xe0) == 0xc0) {
      cp = c & 0x1f;
      n = 2;
    } else if ((c & 0xf0) == 0xe0) {
      cp = c & 0x0f;
      n = 3;
    } else if ((c & 0xf8) == 0xf0) {
      cp = c & 0x07;
      n = 4;
    } else {
      return false;
    }
    if (in.size() - i < n) return false;
    for (size_t k = 1; k < n; ++k) {
      uint8_t d = static_cast<uint8_t>(in[i + k]);
      if ((d & 0xc0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3f);
    }
    static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10ffff || (cp >= 0xd800 && cp < 0xe000)) {
      return false;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out->push_back(static_cast<char16_t>(0xd800 + (cp >> 10)));
      out->push_back(static_cast<char16_t>(0xdc00 + (cp & 0x3ff)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return true;
}

std::string utf16ToUtf8(const std::u16string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    uint32_t cp = in[i];
    if (cp >= 0xd800 && cp < 0xdc00 && i + 1 < in.size() &&
        in[i + 1] >= 0xdc00 && in[i + 1] < 0xe000) {
      cp = 0x10000 + ((cp - 0xd800) << 10) + (in[++i] - 0xdc00);
    } else if (cp >= 0xd800 && cp < 0xe000) {
      cp = 0xfffd;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xc0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xe0 | cp >> 12);
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (cp & 0x3f));
    } else {
      out += static_cast<char>(0xf0 | cp >> 18);
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (cp & 0x3f));
    }
  }
  return out;
}

}  // namespace sfxpack
