// HashMap: exact-name lookup, replacement of an equal key, and keys that
// share a bucket.
#include "text/hash_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sfx {
namespace {

std::string valueOf(const HashMap& map, const char* key) {
  const StringBuffer* v = map.lookup(key);
  return v ? v->getString() : "<absent>";
}

// Two distinct keys of the form "kN" that fall into the same of `buckets`
// buckets; 401 keys always hold such a pair for 400 buckets.
std::vector<std::string> collidingKeys(uint32_t buckets) {
  std::vector<int> firstKeyOfBucket(buckets, -1);
  for (int i = 0;; ++i) {
    std::string key = "k" + std::to_string(i);
    uint32_t b = HashMap::bucketIndex(key.c_str(), buckets);
    if (firstKeyOfBucket[b] >= 0) {
      return {"k" + std::to_string(firstKeyOfBucket[b]), key};
    }
    firstKeyOfBucket[b] = i;
  }
}

TEST(HashMapTest, LookupIsExact) {
  HashMap map;
  ASSERT_TRUE(map.insert("xmlConfig", "<SfxConfig/>"));
  ASSERT_TRUE(map.insert("x", "short"));
  ASSERT_TRUE(map.insert("", "empty key"));
  struct Case {
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"xmlConfig", "<SfxConfig/>"},
      {"x", "short"},
      {"", "empty key"},
      {nullptr, "empty key"},
      {"xmlconfig", "<absent>"},
      {"xmlConfig ", "<absent>"},
      {"xml", "<absent>"},
      {"xmlConfigX", "<absent>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(valueOf(map, c.key), c.value) << (c.key ? c.key : "(null)");
  }
  EXPECT_EQ(map.size(), 3u);
  EXPECT_EQ(map.numBuckets(), 400u);
}

TEST(HashMapTest, InsertReplacesTheValueOfAnEqualKey) {
  HashMap map;
  ASSERT_TRUE(map.insert("name", "first"));
  ASSERT_TRUE(map.insert("name", StringBuffer("second")));
  EXPECT_EQ(map.size(), 1u);
  EXPECT_EQ(valueOf(map, "name"), "second");
  StringBuffer out("stale");
  EXPECT_TRUE(map.lookupInto("name", out));
  EXPECT_EQ(std::string(out.getString()), "second");
  EXPECT_FALSE(map.lookupInto("other", out));
  EXPECT_TRUE(out.isEmpty());
}

TEST(HashMapTest, CollidingKeysStayApart) {
  // In the argument map's 400 buckets, and with a single bucket where every
  // key collides.
  for (uint32_t buckets : {400u, 1u}) {
    std::vector<std::string> keys = collidingKeys(buckets);
    ASSERT_NE(keys[0], keys[1]);
    ASSERT_EQ(HashMap::bucketIndex(keys[0].c_str(), buckets),
              HashMap::bucketIndex(keys[1].c_str(), buckets));
    HashMap map(buckets);
    ASSERT_TRUE(map.insert(keys[0].c_str(), "v0"));
    ASSERT_TRUE(map.insert(keys[1].c_str(), "v1"));
    ASSERT_TRUE(map.insert("third", "v2"));
    EXPECT_EQ(map.size(), 3u);
    EXPECT_EQ(valueOf(map, keys[0].c_str()), "v0");
    EXPECT_EQ(valueOf(map, keys[1].c_str()), "v1");

    // Replacing the value of the older key leaves its neighbour alone.
    ASSERT_TRUE(map.insert(keys[0].c_str(), "v0b"));
    EXPECT_EQ(map.size(), 3u);
    EXPECT_EQ(valueOf(map, keys[0].c_str()), "v0b");
    EXPECT_EQ(valueOf(map, keys[1].c_str()), "v1");

    // Removing one of them keeps the other reachable.
    EXPECT_TRUE(map.remove(keys[1].c_str()));
    EXPECT_FALSE(map.remove(keys[1].c_str()));
    EXPECT_EQ(valueOf(map, keys[1].c_str()), "<absent>");
    EXPECT_EQ(valueOf(map, keys[0].c_str()), "v0b");
    EXPECT_EQ(valueOf(map, "third"), "v2");
    EXPECT_EQ(map.size(), 2u);
  }
}

TEST(HashMapTest, BucketsSpreadAndStayInRange) {
  std::vector<int> used(HashMap::kDefaultBuckets, 0);
  for (int i = 0; i < 4000; ++i) {
    uint32_t b = HashMap::bucketIndex(("arg" + std::to_string(i)).c_str(),
                                      HashMap::kDefaultBuckets);
    ASSERT_LT(b, HashMap::kDefaultBuckets);
    ++used[b];
  }
  int empty = 0;
  for (int n : used) empty += n == 0;
  // 4000 keys in 400 buckets leave about 400 * e^-10 (under one) empty.
  EXPECT_LT(empty, 5);
}

TEST(HashMapTest, ManyKeysAndClear) {
  HashMap map;
  for (int i = 0; i < 2000; ++i) {
    std::string k = "key" + std::to_string(i);
    ASSERT_TRUE(map.insert(k.c_str(), ("value" + std::to_string(i)).c_str()));
  }
  EXPECT_EQ(map.size(), 2000u);
  for (int i = 0; i < 2000; i += 37) {
    std::string k = "key" + std::to_string(i);
    EXPECT_EQ(valueOf(map, k.c_str()), "value" + std::to_string(i));
  }
  map.clear();
  EXPECT_EQ(map.size(), 0u);
  EXPECT_FALSE(map.contains("key0"));
  EXPECT_TRUE(map.insert("key0", "again"));
  EXPECT_EQ(valueOf(map, "key0"), "again");
}

}  // namespace
}  // namespace sfx
