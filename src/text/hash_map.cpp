// HashMap: buckets of singly linked nodes, picked by CRC-32 over the MD5
// digest of the key.
#include "text/hash_map.h"

#include <cstring>
#include <new>

#include "codec/crc32.h"
#include "codec/md5.h"

namespace sfx {

struct HashMap::Node {
  StringBuffer key;
  StringBuffer value;
  Node* next = nullptr;
};

HashMap::HashMap(uint32_t numBuckets) {
  if (numBuckets == 0) numBuckets = 1;
  buckets_ = new (std::nothrow) Node*[numBuckets]();
  if (buckets_) numBuckets_ = numBuckets;
}

HashMap::~HashMap() {
  clear();
  delete[] buckets_;
}

uint32_t HashMap::bucketIndex(const char* key, uint32_t numBuckets) {
  if (!key) key = "";
  if (numBuckets == 0) return 0;
  unsigned char digest[kMd5DigestSize];
  Md5::digest(key, strlen(key), digest);
  return ZipCRC::oneShot(digest, sizeof digest) % numBuckets;
}

HashMap::Node* HashMap::find(const char* key) const {
  if (!buckets_) return nullptr;
  if (!key) key = "";
  for (Node* n = buckets_[bucketIndex(key, numBuckets_)]; n; n = n->next) {
    if (n->key.equals(key)) return n;
  }
  return nullptr;
}

bool HashMap::insert(const char* key, const StringBuffer& value) {
  if (!buckets_) return false;
  if (!key) key = "";
  if (Node* existing = find(key)) {
    StringBuffer copy;
    if (!copy.appendSb(value)) return false;
    existing->value.takeSb(copy);
    return true;
  }
  Node* node = new (std::nothrow) Node;
  if (!node) return false;
  if (!node->key.append(key) || !node->value.appendSb(value)) {
    delete node;
    return false;
  }
  Node*& head = buckets_[bucketIndex(key, numBuckets_)];
  node->next = head;
  head = node;
  ++count_;
  return true;
}

bool HashMap::insert(const char* key, const char* value) {
  StringBuffer sb;
  if (!sb.append(value)) return false;
  return insert(key, sb);
}

const StringBuffer* HashMap::lookup(const char* key) const {
  Node* n = find(key);
  return n ? &n->value : nullptr;
}

bool HashMap::lookupInto(const char* key, StringBuffer& out) const {
  out.clear();
  const StringBuffer* v = lookup(key);
  if (!v) return false;
  if (!out.appendSb(*v)) {
    out.clear();
    return false;
  }
  return true;
}

bool HashMap::remove(const char* key) {
  if (!buckets_) return false;
  if (!key) key = "";
  for (Node** link = &buckets_[bucketIndex(key, numBuckets_)]; *link;
       link = &(*link)->next) {
    if ((*link)->key.equals(key)) {
      Node* dead = *link;
      *link = dead->next;
      delete dead;
      --count_;
      return true;
    }
  }
  return false;
}

void HashMap::clear() {
  for (uint32_t b = 0; b < numBuckets_; ++b) {
    Node* n = buckets_[b];
    while (n) {
      Node* next = n->next;
      delete n;
      n = next;
    }
    buckets_[b] = nullptr;
  }
  count_ = 0;
}

}  // namespace sfx
