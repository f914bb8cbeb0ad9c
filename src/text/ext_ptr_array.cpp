// ExtPtrArray: growth in steps that follow the capacity, and ownership.
#include "text/ext_ptr_array.h"

#include <cstdlib>
#include <cstring>

namespace sfx {

ExtPtrArray::~ExtPtrArray() {
  if (ownsObjects_) removeAllObjects();
  free(items_);
}

bool ExtPtrArray::growFor(uint32_t needed) {
  if (needed <= capacity_) return true;
  uint64_t grown = static_cast<uint64_t>(capacity_) + growBy_;
  if (grown < static_cast<uint64_t>(count_) + 2) grown = count_ + 2;
  if (grown < needed) grown = needed;
  if (grown * sizeof(MarlithObject*) > SIZE_MAX) return false;
  void* fresh =
      realloc(items_, static_cast<size_t>(grown) * sizeof(MarlithObject*));
  if (!fresh) return false;
  items_ = static_cast<MarlithObject**>(fresh);
  capacity_ = static_cast<uint32_t>(grown);
  if (growBy_ < kMaxGrowBy)
    growBy_ = capacity_ < kMaxGrowBy ? capacity_ : kMaxGrowBy;
  return true;
}

bool ExtPtrArray::append(MarlithObject* obj) {
  if (!growFor(count_ + 1)) return false;
  items_[count_++] = obj;
  return true;
}

bool ExtPtrArray::insertAt(int index, MarlithObject* obj) {
  if (!growFor(count_ + 1)) return false;
  uint32_t at = index < 0 ? 0 : static_cast<uint32_t>(index);
  if (at > count_) at = count_;
  memmove(items_ + at + 1, items_ + at, (count_ - at) * sizeof(MarlithObject*));
  items_[at] = obj;
  ++count_;
  return true;
}

MarlithObject* ExtPtrArray::elementAt(int index) const {
  if (index < 0 || static_cast<uint32_t>(index) >= count_) return nullptr;
  return items_[index];
}

MarlithObject* ExtPtrArray::lastElement() const {
  return count_ ? items_[count_ - 1] : nullptr;
}

MarlithObject* ExtPtrArray::removeAt(int index) {
  if (index < 0 || static_cast<uint32_t>(index) >= count_) return nullptr;
  MarlithObject* obj = items_[index];
  uint32_t at = static_cast<uint32_t>(index);
  memmove(items_ + at, items_ + at + 1,
          (count_ - at - 1) * sizeof(MarlithObject*));
  --count_;
  return obj;
}

MarlithObject* ExtPtrArray::pop() {
  return count_ ? items_[--count_] : nullptr;
}

void ExtPtrArray::removeAll() { count_ = 0; }

void ExtPtrArray::removeAllObjects() {
  // Detach each element before destroying it, so that a destructor that
  // looks at this array never sees a dangling pointer.
  while (count_ > 0) delete items_[--count_];
}

}  // namespace sfx
