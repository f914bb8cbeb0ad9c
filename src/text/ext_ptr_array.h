// ExtPtrArray: the growable array of object pointers behind every list of
// the system (log contexts, XML children, command-line words, undo lists).
#ifndef SFX_TEXT_EXT_PTR_ARRAY_H_
#define SFX_TEXT_EXT_PTR_ARRAY_H_

#include <cstdint>

#include "text/marlith_object.h"

namespace sfx {

class ExtPtrArray : public MarlithObject {
 public:
  // Growth step at construction; also the size of the first allocation.
  static constexpr uint32_t kInitialGrowBy = 5;
  // The growth step follows the capacity up to this bound.
  static constexpr uint32_t kMaxGrowBy = 100000;

  ExtPtrArray() = default;
  // Destroys the elements it still holds when it owns them.
  ~ExtPtrArray() override;
  ExtPtrArray(const ExtPtrArray&) = delete;
  ExtPtrArray& operator=(const ExtPtrArray&) = delete;

  // When set, destroying the array (or removeAllObjects) destroys every
  // element it holds. False at construction.
  void setOwnsObjects(bool owns) { ownsObjects_ = owns; }
  bool ownsObjects() const { return ownsObjects_; }

  int getSize() const { return static_cast<int>(count_); }
  uint32_t getCapacity() const { return capacity_; }
  uint32_t getGrowBy() const { return growBy_; }

  // Appends `obj` (null is allowed). Returns false, and changes nothing, when
  // the array cannot grow; the caller keeps `obj` then.
  bool append(MarlithObject* obj);
  // Inserts at `index`, clamped to 0 .. size. False when growth fails.
  bool insertAt(int index, MarlithObject* obj);

  // The element at `index`, or null outside 0 .. size - 1.
  MarlithObject* elementAt(int index) const;
  // The same, cast to the element type the caller stored.
  template <typename T>
  T* elementAtAs(int index) const {
    return static_cast<T*>(elementAt(index));
  }
  // The last element, or null when empty.
  MarlithObject* lastElement() const;

  // Remove and return the element at `index` (closing the gap) / the last
  // element; null when there is none. The caller owns the returned element.
  MarlithObject* removeAt(int index);
  MarlithObject* pop();
  // Count 0; the elements are not destroyed.
  void removeAll();
  // Destroys every element, then count 0.
  void removeAllObjects();

 private:
  bool growFor(uint32_t needed);

  MarlithObject** items_ = nullptr;
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;
  uint32_t growBy_ = kInitialGrowBy;
  bool ownsObjects_ = false;
};

}  // namespace sfx

#endif  // SFX_TEXT_EXT_PTR_ARRAY_H_
