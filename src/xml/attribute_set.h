// AttributeSet: the attributes of one XML element (or the pseudo-attributes
// of a declaration), in insertion order, with all names and values kept back
// to back in one buffer.
#ifndef SFX_XML_ATTRIBUTE_SET_H_
#define SFX_XML_ATTRIBUTE_SET_H_

#include <cstdint>

#include "text/data_buffer.h"
#include "text/marlith_object.h"
#include "text/string_buffer.h"

namespace sfx {

class AttributeSet : public MarlithObject {
 public:
  // Both flags are fixed for the life of the set.
  // replaceDuplicates: adding a name that is present first removes the old
  //   pair; otherwise duplicates are kept.
  // lowerCaseNames: names are lower-cased (ASCII letters, and bytes 0xC0-0xDF
  //   get 0x20 added) before they are stored.
  AttributeSet(bool replaceDuplicates, bool lowerCaseNames);
  ~AttributeSet() override;
  AttributeSet(const AttributeSet&) = delete;
  AttributeSet& operator=(const AttributeSet&) = delete;

  bool replacesDuplicates() const { return replaceDuplicates_; }
  bool lowerCasesNames() const { return lowerCaseNames_; }

  int getNumAttributes() const;

  // Appends the pair (`nameLen` bytes at `name`, `valueLen` bytes at
  // `value`); the value may be empty, a null pointer counts as empty. Returns
  // false, and changes nothing, for an empty name or when memory runs out.
  bool addAttribute(const char* name, uint32_t nameLen, const char* value,
                    uint32_t valueLen);
  // The same for zero-terminated texts.
  bool addAttribute(const char* name, const char* value);

  // Name and value of pair `index`: the bytes (not zero-terminated; a value
  // stops at its length) and their count in *len. Null, with *len 0, outside
  // 0 .. count - 1.
  const char* nameAt(int index, uint32_t* len) const;
  const char* valueAt(int index, uint32_t* len) const;
  // Replace `out` by the name / value of pair `index`; false (and `out`
  // emptied) outside the range.
  bool getNameAt(int index, StringBuffer& out) const;
  bool getValueAt(int index, StringBuffer& out) const;

  // Index of the first pair whose name equals `name` byte for byte, or -1.
  int indexOf(const char* name) const;
  bool hasAttribute(const char* name) const { return indexOf(name) >= 0; }
  // Replaces `out` by the value of the first pair named `name`; false (and
  // `out` emptied) when there is none.
  bool getValue(const char* name, StringBuffer& out) const;

  // Remove pair `index` / every pair named `name`. Return whether anything
  // was removed.
  bool removeAt(int index);
  bool removeByName(const char* name);
  void removeAll();
  // Moves every pair named `name` behind the others; each group keeps its
  // order. Returns false, and changes nothing, when memory runs out. Both
  // this and removeByName take time linear in the size of the set.
  bool moveToEnd(const char* name);

 private:
  // One pair: where its name starts in store_, and the two lengths; the
  // value follows the name directly.
  struct Entry {
    uint32_t offset;
    uint32_t nameLen;
    uint32_t valueLen;
  };
  const Entry* entryAt(int index) const;
  // Drops the pairs named by the `nameLen` bytes at `name`, moving the rest
  // down in place, and returns how many are kept; the bytes and entries at
  // the end are left for the caller to drop or reuse. With `moved`, first
  // appends the dropped pairs' bytes to `moved` and their entries to
  // `movedEntries`, and returns -1, changing nothing, when that fails.
  int compactWithout(const char* name, uint32_t nameLen, StringBuffer* moved,
                     DataBuffer* movedEntries);

  bool replaceDuplicates_;
  bool lowerCaseNames_;
  DataBuffer entries_;  // Entry records
  StringBuffer store_;  // names and values back to back
};

}  // namespace sfx

#endif  // SFX_XML_ATTRIBUTE_SET_H_
