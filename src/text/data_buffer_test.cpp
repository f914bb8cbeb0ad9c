#include "text/data_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "text/string_buffer.h"

namespace sfx {

class DataBufferTestPeer {
 public:
  static void corrupt(DataBuffer& db) { db.valid_ = 0x11; }
};

namespace {

std::string str(const DataBuffer& db) {
  return db.getSize() ? std::string(reinterpret_cast<const char*>(db.getData()),
                                    db.getSize())
                      : std::string();
}

// A buffer whose size and capacity are both `size` (>= 20000, so the first
// append allocates exactly that).
void fillTo(DataBuffer& db, uint32_t size) {
  std::vector<uint8_t> bytes(size, 0x5A);
  ASSERT_TRUE(db.append(bytes.data(), size));
  ASSERT_EQ(size, db.getCapacity());
}

TEST(DataBufferTest, GrowthIncrementDependsOnSizeAndAppendLength) {
  struct Case {
    uint32_t size;    // size = capacity before the append
    uint32_t n;       // bytes appended
    uint32_t newCap;  // capacity after it
  } cases[] = {
      {0, 10, 20000},               // small append
      {0, 30000, 30000},            // exactly what is needed
      {20000, 19999, 40000},        // below 20000: +20000
      {50000, 1, 100000},           // size >= 50000: +50000
      {50000, 50000, 100000},       // n not below 50000: +n
      {100000, 10, 200000},         // +100000
      {100000, 60000, 200000},      // n < 100000 still gives +100000
      {1000000, 5, 2000000},        // +1000000
      {3000000, 2500000, 6000000},  // +3000000
      {12000000, 1, 24000000},      // +12000000
  };
  for (const Case& c : cases) {
    DataBuffer db;
    if (c.size) fillTo(db, c.size);
    std::vector<uint8_t> more(c.n, 0xA5);
    ASSERT_TRUE(db.append(more.data(), c.n));
    EXPECT_EQ(c.newCap, db.getCapacity()) << c.size << " + " << c.n;
    EXPECT_EQ(c.size + c.n, db.getSize());
    EXPECT_EQ(0xA5, *db.getDataAt(db.getSize() - 1));
    if (c.size) {
      EXPECT_EQ(0x5A, *db.getDataAt(c.size - 1));
    }
  }
}

TEST(DataBufferTest, AppendByteGrowsBy10000) {
  DataBuffer db;
  ASSERT_TRUE(db.appendByte(1));
  EXPECT_EQ(10000u, db.getCapacity());
  DataBuffer full;
  fillTo(full, 20000);
  ASSERT_TRUE(full.appendByte(2));
  EXPECT_EQ(30000u, full.getCapacity());
  EXPECT_EQ(2, *full.getDataAt(20000));
}

TEST(DataBufferTest, NullOrEmptyAppendIsANoOp) {
  DataBuffer db;
  EXPECT_TRUE(db.append(nullptr, 5));
  EXPECT_TRUE(db.append("x", 0));
  EXPECT_EQ(0u, db.getSize());
  EXPECT_EQ(nullptr, db.getData());
}

TEST(DataBufferTest, AnAppendBeyond32BitsFailsAndChangesNothing) {
  DataBuffer db;
  db.append("abc", 3);
  const uint8_t* before = db.getData();
  EXPECT_FALSE(db.append("x", UINT32_MAX - 1));
  EXPECT_EQ("abc", str(db));
  EXPECT_EQ(before, db.getData());
}

TEST(DataBufferTest, AppendsStringBuffersAndOtherBuffers) {
  DataBuffer db;
  StringBuffer sb("abc");
  ASSERT_TRUE(db.appendSb(sb));
  DataBuffer other;
  other.append("de", 2);
  ASSERT_TRUE(db.appendDb(other));
  EXPECT_EQ("abcde", str(db));
  ASSERT_TRUE(db.append(db.getData() + 1, 3));  // from its own bytes
  EXPECT_EQ("abcdebcd", str(db));
}

TEST(DataBufferTest, EditsAtBothEnds) {
  DataBuffer db;
  db.append("0123456789", 10);
  db.removeFront(3);
  EXPECT_EQ("3456789", str(db));
  db.shorten(2);
  EXPECT_EQ("34567", str(db));
  EXPECT_EQ(nullptr, db.getDataAt(5));
  EXPECT_EQ('7', *db.getDataAt(4));
  db.shorten(99);
  EXPECT_EQ(0u, db.getSize());
  db.append("ab", 2);
  db.removeFront(2);
  EXPECT_EQ(0u, db.getSize());
  EXPECT_GT(db.getCapacity(), 0u);  // the allocation is kept
}

TEST(DataBufferTest, ClearKeepsTheAllocationSecureClearZeroes) {
  DataBuffer db;
  db.append("secret", 6);
  const uint8_t* p = db.getData();
  db.secureClear();
  EXPECT_EQ(0u, db.getSize());
  EXPECT_EQ(p, db.getData());
  EXPECT_EQ(0, memcmp(p, "\0\0\0\0\0\0", 6));
  db.append("x", 1);
  db.clear();
  EXPECT_EQ(p, db.getData());
  db.clearAndFree();
  EXPECT_EQ(nullptr, db.getData());
  EXPECT_EQ(0u, db.getCapacity());
}

TEST(DataBufferTest, EnsureCapacity) {
  DataBuffer db;
  db.append("abc", 3);
  ASSERT_TRUE(db.ensureCapacity(50000));
  EXPECT_EQ(50000u, db.getCapacity());
  ASSERT_TRUE(db.ensureCapacity(10));  // never shrinks
  EXPECT_EQ(50000u, db.getCapacity());
  EXPECT_EQ("abc", str(db));
}

TEST(DataBufferTest, BorrowedBytesAreNeverWrittenOrReleased) {
  char owner[] = "borrowed";
  DataBuffer db;
  db.borrowData(owner, 8);
  EXPECT_TRUE(db.isBorrowed());
  EXPECT_EQ(reinterpret_cast<uint8_t*>(owner), db.getData());

  // Dropping from the front looks past the bytes instead of moving them.
  db.removeFront(2);
  EXPECT_EQ("rrowed", str(db));
  EXPECT_STREQ("borrowed", owner);

  // The next growth copies into an allocation of the buffer's own.
  ASSERT_TRUE(db.append("!", 1));
  EXPECT_FALSE(db.isBorrowed());
  EXPECT_NE(reinterpret_cast<uint8_t*>(owner + 2), db.getData());
  EXPECT_EQ("rrowed!", str(db));
  EXPECT_STREQ("borrowed", owner);

  // Wide edits copy first; secure clearing forgets instead of zeroing.
  char16_t wide[] = u"a-b";
  DataBuffer w;
  w.borrowData(wide, 6);
  EXPECT_EQ(1u, w.replaceWideChar(u'-', u'+'));
  EXPECT_EQ(u'-', wide[1]);
  DataBuffer s;
  s.borrowData(owner, 8);
  s.secureClear();
  EXPECT_STREQ("borrowed", owner);
  EXPECT_EQ(nullptr, s.getData());
  EXPECT_FALSE(s.isBorrowed());

  DataBuffer c;
  c.borrowData(owner, 8);
  c.clear();
  EXPECT_EQ(nullptr, c.getData());
  EXPECT_FALSE(c.isBorrowed());
}

TEST(DataBufferTest, WideCharEditsWorkOnLittleEndianUnits) {
  // "a", U+2013, "a", "b" and an odd trailing byte.
  const uint8_t bytes[] = {'a', 0, 0x13, 0x20, 'a', 0, 'b', 0, 0x7F};
  DataBuffer db;
  db.append(bytes, sizeof bytes);
  EXPECT_EQ(2u, db.replaceWideChar('a', 'z'));
  EXPECT_EQ(1u, db.removeWideChar(0x2013));
  const uint8_t expected[] = {'z', 0, 'z', 0, 'b', 0, 0x7F};
  ASSERT_EQ(sizeof expected, db.getSize());
  EXPECT_EQ(0, memcmp(expected, db.getData(), sizeof expected));
  // A unit is never matched across a unit boundary.
  EXPECT_EQ(0u, db.removeWideChar(0x7A00));
}

#if !defined(_WIN32)
TEST(DataBufferDeathTest, DamagedValidityByteStopsTheProcess) {
  EXPECT_DEATH(
      {
        DataBuffer db;
        DataBufferTestPeer::corrupt(db);
        db.append("x", 1);
      },
      "DataBuffer is not valid");
}
#endif

}  // namespace
}  // namespace sfx
