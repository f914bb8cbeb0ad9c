// HashMap: a string-keyed map of 8-bit string values with a fixed number of
// buckets; the payload's argument map is one (400 buckets).
#ifndef SFX_TEXT_HASH_MAP_H_
#define SFX_TEXT_HASH_MAP_H_

#include <cstdint>

#include "text/marlith_object.h"
#include "text/string_buffer.h"

namespace sfx {

class HashMap : public MarlithObject {
 public:
  // The bucket count of the payload's argument map.
  static constexpr uint32_t kDefaultBuckets = 400;

  // An empty map with `numBuckets` buckets (0 is taken as 1). When the bucket
  // array cannot be allocated every insert fails.
  explicit HashMap(uint32_t numBuckets = kDefaultBuckets);
  ~HashMap() override;
  HashMap(const HashMap&) = delete;
  HashMap& operator=(const HashMap&) = delete;

  // The bucket of `key` (its bytes up to the terminator; null is ""): the
  // CRC-32 of the MD5 digest of those bytes, modulo `numBuckets`.
  static uint32_t bucketIndex(const char* key, uint32_t numBuckets);

  // Stores a copy of `value` under an exact copy of `key` (null is ""),
  // replacing the value of an equal key. Returns false, leaving the map as it
  // was, when memory runs out.
  bool insert(const char* key, const StringBuffer& value);
  bool insert(const char* key, const char* value);

  // The value stored under exactly `key` (bytes compared, case matters), or
  // null. The pointer stays valid until that key is replaced or removed.
  const StringBuffer* lookup(const char* key) const;
  // Copies the value of `key` into `out` (emptied first). False, with `out`
  // empty, when the key is absent or the copy cannot be allocated.
  bool lookupInto(const char* key, StringBuffer& out) const;
  bool contains(const char* key) const { return lookup(key) != nullptr; }

  // Removes `key`; false when it was absent.
  bool remove(const char* key);
  // Removes every entry; the bucket count stays.
  void clear();

  uint32_t size() const { return count_; }
  uint32_t numBuckets() const { return numBuckets_; }

 private:
  struct Node;

  Node* find(const char* key) const;

  Node** buckets_ = nullptr;
  uint32_t numBuckets_ = 0;
  uint32_t count_ = 0;
};

}  // namespace sfx

#endif  // SFX_TEXT_HASH_MAP_H_
