// The attribute store of an XML element: a table of (offset, name length,
// value length) records over one buffer of names and values.
#include "xml/attribute_set.h"

#include <cstring>

namespace sfx {

namespace {

// The growth increment of the name-and-value buffer.
constexpr uint32_t kStoreGrowBy = 50;

void lowerCaseBytes(char* p, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDF)) {
      p[i] = static_cast<char>(c + 0x20);
    }
  }
}

}  // namespace

AttributeSet::AttributeSet(bool replaceDuplicates, bool lowerCaseNames)
    : replaceDuplicates_(replaceDuplicates),
      lowerCaseNames_(lowerCaseNames),
      store_(StringBuffer::withGrowBy(kStoreGrowBy)) {}

AttributeSet::~AttributeSet() = default;

int AttributeSet::getNumAttributes() const {
  return static_cast<int>(entries_.getSize() / sizeof(Entry));
}

const AttributeSet::Entry* AttributeSet::entryAt(int index) const {
  if (index < 0 || index >= getNumAttributes()) return nullptr;
  return reinterpret_cast<const Entry*>(entries_.getData()) + index;
}

bool AttributeSet::addAttribute(const char* name, uint32_t nameLen,
                                const char* value, uint32_t valueLen) {
  if (name == nullptr || nameLen == 0) return false;
  if (value == nullptr) valueLen = 0;
  if (nameLen > 0xFFFFFFFFu - valueLen ||
      nameLen + valueLen > 0xFFFFFFFFu - store_.getSize() - 1) {
    return false;
  }

  // The name as it will be stored (lower-cased when the set says so).
  StringBuffer storedName;
  if (!storedName.appendN(name, nameLen)) return false;
  if (lowerCaseNames_) {
    lowerCaseBytes(const_cast<char*>(storedName.getString()), nameLen);
  }
  if (replaceDuplicates_) removeByName(storedName.getString());

  Entry e;
  e.offset = store_.getSize();
  e.nameLen = nameLen;
  e.valueLen = valueLen;
  if (!store_.expectNumBytes(nameLen + valueLen)) return false;
  if (!entries_.append(&e, sizeof(e))) return false;
  store_.appendN(storedName.getString(), nameLen);
  if (valueLen != 0) store_.appendN(value, valueLen);
  return true;
}

bool AttributeSet::addAttribute(const char* name, const char* value) {
  if (name == nullptr) return false;
  return addAttribute(name, static_cast<uint32_t>(std::strlen(name)), value,
                      value ? static_cast<uint32_t>(std::strlen(value)) : 0);
}

const char* AttributeSet::nameAt(int index, uint32_t* len) const {
  const Entry* e = entryAt(index);
  if (e == nullptr) {
    *len = 0;
    return nullptr;
  }
  *len = e->nameLen;
  return store_.getString() + e->offset;
}

const char* AttributeSet::valueAt(int index, uint32_t* len) const {
  const Entry* e = entryAt(index);
  if (e == nullptr) {
    *len = 0;
    return nullptr;
  }
  *len = e->valueLen;
  return store_.getString() + e->offset + e->nameLen;
}

bool AttributeSet::getNameAt(int index, StringBuffer& out) const {
  out.clear();
  uint32_t len = 0;
  const char* p = nameAt(index, &len);
  return p != nullptr && out.appendN(p, len);
}

bool AttributeSet::getValueAt(int index, StringBuffer& out) const {
  out.clear();
  uint32_t len = 0;
  const char* p = valueAt(index, &len);
  return p != nullptr && out.appendN(p, len);
}

int AttributeSet::indexOf(const char* name) const {
  if (name == nullptr) return -1;
  uint32_t want = static_cast<uint32_t>(std::strlen(name));
  int n = getNumAttributes();
  const Entry* entries = reinterpret_cast<const Entry*>(entries_.getData());
  for (int i = 0; i < n; ++i) {
    if (entries[i].nameLen == want &&
        std::memcmp(store_.getString() + entries[i].offset, name, want) == 0) {
      return i;
    }
  }
  return -1;
}

bool AttributeSet::getValue(const char* name, StringBuffer& out) const {
  int i = indexOf(name);
  if (i < 0) {
    out.clear();
    return false;
  }
  return getValueAt(i, out);
}

bool AttributeSet::removeAt(int index) {
  const Entry* e = entryAt(index);
  if (e == nullptr) return false;
  uint32_t start = e->offset;
  uint32_t gap = e->nameLen + e->valueLen;

  // The buffer without the pair's bytes; on allocation failure the pair is
  // left in place.
  StringBuffer rest = StringBuffer::withGrowBy(kStoreGrowBy);
  if (!rest.expectNumBytes(store_.getSize() - gap)) return false;
  rest.appendN(store_.getString(), start);
  rest.appendN(store_.getString() + start + gap,
               store_.getSize() - start - gap);
  store_.takeSb(rest);

  int n = getNumAttributes();
  Entry* entries = reinterpret_cast<Entry*>(entries_.getData());
  for (int i = index + 1; i < n; ++i) {
    entries[i].offset -= gap;
    entries[i - 1] = entries[i];
  }
  entries_.shorten(sizeof(Entry));
  return true;
}

int AttributeSet::compactWithout(const char* name, uint32_t nameLen,
                                 StringBuffer* moved, DataBuffer* movedEntries) {
  const int n = getNumAttributes();
  Entry* entries = reinterpret_cast<Entry*>(entries_.getData());
  char* bytes = const_cast<char*>(store_.getString());
  if (moved != nullptr) {
    // Copy the matching pairs out first; on failure nothing has moved.
    for (int i = 0; i < n; ++i) {
      const Entry& e = entries[i];
      if (e.nameLen != nameLen ||
          std::memcmp(bytes + e.offset, name, nameLen) != 0) {
        continue;
      }
      if (!moved->appendN(bytes + e.offset, e.nameLen + e.valueLen) ||
          !movedEntries->append(&e, sizeof e)) {
        return -1;
      }
    }
  }
  // Pairs keep their order in the buffer, so each kept one moves down.
  uint32_t write = 0;
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    Entry e = entries[i];
    const uint32_t size = e.nameLen + e.valueLen;
    if (e.nameLen == nameLen &&
        std::memcmp(bytes + e.offset, name, nameLen) == 0) {
      continue;
    }
    if (e.offset != write) std::memmove(bytes + write, bytes + e.offset, size);
    e.offset = write;
    entries[kept++] = e;
    write += size;
  }
  return kept;
}

bool AttributeSet::removeByName(const char* name) {
  if (name == nullptr) return false;
  const int n = getNumAttributes();
  const int kept = compactWithout(
      name, static_cast<uint32_t>(std::strlen(name)), nullptr, nullptr);
  if (kept == n) return false;
  const Entry* entries = reinterpret_cast<const Entry*>(entries_.getData());
  const uint32_t end =
      kept == 0 ? 0
                : entries[kept - 1].offset + entries[kept - 1].nameLen +
                      entries[kept - 1].valueLen;
  store_.shorten(store_.getSize() - end);
  entries_.shorten(static_cast<uint32_t>(n - kept) * sizeof(Entry));
  return true;
}

bool AttributeSet::moveToEnd(const char* name) {
  if (indexOf(name) < 0) return true;
  StringBuffer moved;
  DataBuffer movedEntries;
  const int kept = compactWithout(
      name, static_cast<uint32_t>(std::strlen(name)), &moved, &movedEntries);
  if (kept < 0) return false;
  // The moved pairs take the room the compaction freed at the end.
  Entry* entries = reinterpret_cast<Entry*>(entries_.getData());
  const Entry* from = reinterpret_cast<const Entry*>(movedEntries.getData());
  const int count = static_cast<int>(movedEntries.getSize() / sizeof(Entry));
  char* bytes = const_cast<char*>(store_.getString());
  uint32_t write = store_.getSize() - moved.getSize();
  std::memcpy(bytes + write, moved.getString(), moved.getSize());
  for (int i = 0; i < count; ++i) {
    Entry e = from[i];
    e.offset = write;
    write += e.nameLen + e.valueLen;
    entries[kept + i] = e;
  }
  return true;
}

void AttributeSet::removeAll() {
  entries_.clear();
  store_.clear();
}

}  // namespace sfx
