#include "stream/data_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log/log_base.h"
#include "stream/progress_monitor.h"
#include "text/xstring.h"

namespace sfx {
namespace {

constexpr uint32_t kValue = 0xBF6CD207u;
const unsigned char kValueBytes[4] = {0x07, 0xD2, 0x6C, 0xBF};

// A file in the temporary directory, removed when the fixture ends.
class TempFile {
 public:
  explicit TempFile(const std::vector<unsigned char>& bytes) {
    static int serial = 0;
    path_ = (std::filesystem::temp_directory_path() /
             ("sfx_ds_" + std::to_string(++serial) + ".bin"))
                .string();
    write(bytes);
  }
  ~TempFile() { std::remove(path_.c_str()); }
  // Puts a new file with `bytes` under the same name (POSIX: an open
  // handle keeps reading the old one).
  void replace(const std::vector<unsigned char>& bytes) {
    std::remove(path_.c_str());
    write(bytes);
  }
  XString xpath() const {
    XString x;
    x.setFromUtf8(path_.c_str());
    return x;
  }

 private:
  void write(const std::vector<unsigned char>& bytes) {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  std::string path_;
};

std::vector<unsigned char> filler(size_t n) {
  std::vector<unsigned char> v(n);
  for (size_t i = 0; i < n; ++i)
    v[i] = static_cast<unsigned char>('a' + i % 23);
  return v;
}

void putValueAt(std::vector<unsigned char>& v, size_t at) {
  for (int i = 0; i < 4; ++i) v[at + i] = kValueBytes[i];
}

TEST(FileDataSourceTest, ScanFindsValueWherever) {
  // Offsets relative to the scan start: at the start, straddling the end of
  // the first 20,000-byte window, at several carries, across and just before
  // the end of the first read-ahead block, and in the last bytes.
  const size_t kSize = 70001;
  const size_t kBlock = FileDataSource::kReadAheadSize;
  for (size_t at : {size_t{0}, size_t{19997}, size_t{19998}, size_t{19999},
                    size_t{20000}, size_t{39998}, kBlock - 5, kBlock - 4,
                    kBlock - 3, kBlock - 1, kBlock, kSize - 4}) {
    std::vector<unsigned char> bytes = filler(kSize);
    putValueAt(bytes, at);
    TempFile f(bytes);
    FileDataSource src;
    LogNull log;
    ASSERT_TRUE(src.openDataSource(f.xpath(), log));
    ASSERT_TRUE(src.scanForUint32(kValue, log)) << "at " << at;
    EXPECT_EQ(static_cast<int64_t>(at + 4), src.getPosition()) << "at " << at;
    // The next read continues right after the match.
    unsigned char next = 0;
    uint32_t got = 0;
    ASSERT_TRUE(src.readSourcePM(&next, 1, &got, nullptr, log));
    if (at + 4 < kSize) {
      EXPECT_EQ(1u, got);
      EXPECT_EQ(bytes[at + 4], next);
    } else {
      EXPECT_EQ(0u, got);
    }
  }
}

// The scan's seek back to a match stays inside the bytes read ahead: the
// file is not opened again, so the bytes after the match come from the file
// that was opened even when another file has taken its name meanwhile. Matches
// whose window reaches into the next read-ahead block, or to the end of the
// file (a small payload), are the cases a re-open would meet.
TEST(FileDataSourceTest, ScanDoesNotReopenTheFile) {
#ifdef _WIN32
  GTEST_SKIP() << "an open file cannot be replaced under its name here";
#else
  const size_t kBlock = FileDataSource::kReadAheadSize;
  const size_t kSize = 3 * kBlock + 5000;
  for (size_t at : {size_t{0}, size_t{19998}, kBlock - 40, kBlock - 10,
                    kBlock - 6, kBlock - 2, 2 * kBlock + 100, kSize - 300,
                    kSize - 4}) {
    SCOPED_TRACE(at);
    std::vector<unsigned char> bytes = filler(kSize);
    putValueAt(bytes, at);
    TempFile f(bytes);
    FileDataSource src;
    LogNull log;
    ASSERT_TRUE(src.openDataSource(f.xpath(), log));
    // Longer, so that a re-opened source would read on past the old end.
    f.replace(std::vector<unsigned char>(kSize + 1000, 0x5A));
    ASSERT_TRUE(src.scanForUint32(kValue, log));
    EXPECT_EQ(static_cast<int64_t>(at + 4), src.getPosition());
    const uint32_t left =
        static_cast<uint32_t>(std::min<size_t>(201, kSize - at - 4));
    std::vector<unsigned char> next(201);
    uint32_t got = 0;
    ASSERT_TRUE(src.readSourcePM(next.data(), 201, &got, nullptr, log));
    ASSERT_EQ(left, got);
    EXPECT_EQ(0, memcmp(next.data(), bytes.data() + at + 4, left));
  }
#endif
}

TEST(FileDataSourceTest, ScanFailsWithoutValueOrWhenTooShort) {
  LogNull log;
  for (size_t n : {size_t{0}, size_t{3}, size_t{50000}}) {
    TempFile f(filler(n));
    FileDataSource src;
    ASSERT_TRUE(src.openDataSource(f.xpath(), log));
    EXPECT_FALSE(src.scanForUint32(kValue, log)) << n;
  }
}

TEST(FileDataSourceTest, BackwardSeekReopensAtTheRightOffset) {
  std::vector<unsigned char> bytes = filler(200000);
  TempFile f(bytes);
  FileDataSource src;
  LogNull log;
  ASSERT_TRUE(src.openDataSource(f.xpath(), log));
  std::vector<unsigned char> buf(150000);
  uint32_t got = 0;
  ASSERT_TRUE(src.readSourcePM(buf.data(), 150000, &got, nullptr, log));
  ASSERT_EQ(150000u, got);
  ASSERT_TRUE(src.seekRelative(-100001, log));
  EXPECT_EQ(49999, src.getPosition());
  unsigned char b[3];
  ASSERT_TRUE(src.readSourcePM(b, 3, &got, nullptr, log));
  ASSERT_EQ(3u, got);
  EXPECT_EQ(0, memcmp(b, &bytes[49999], 3));
  EXPECT_EQ(150003u, src.totalDelivered());
}

TEST(FileDataSourceTest, ReadAtEndDeliversNothingAndSetsEnd) {
  TempFile f(filler(10));
  FileDataSource src;
  LogNull log;
  ASSERT_TRUE(src.openDataSource(f.xpath(), log));
  unsigned char buf[16];
  uint32_t got = 0;
  ASSERT_TRUE(src.readSourcePM(buf, 16, &got, nullptr, log));
  EXPECT_EQ(10u, got);
  EXPECT_TRUE(src.endOfStream());
  ProgressMonitor pm(nullptr, 0, 100);
  src.setProgressByBytes(true);
  ASSERT_TRUE(src.readSourcePM(buf, 16, &got, &pm, log));
  EXPECT_EQ(0u, got);
  EXPECT_EQ(0, pm.amountDone());  // no progress step for an empty read
  EXPECT_EQ(10, src.getFileSize64(log));
}

TEST(FileDataSourceTest, OpenFailureAndClosedSource) {
  LogNull log;
  FileDataSource src;
  XString missing;
  missing.setFromUtf8("no/such/dir/sfx_missing.bin");
  EXPECT_FALSE(src.openDataSource(missing, log));
  EXPECT_EQ(-1, src.getFileSize64(log));
  EXPECT_TRUE(src.endOfStream());
  unsigned char b;
  uint32_t got = 7;
  EXPECT_FALSE(src.readSourcePM(&b, 1, &got, nullptr, log));
  EXPECT_EQ(0u, got);
  EXPECT_FALSE(src.seekRelative(1, log));
  EXPECT_FALSE(src.scanForUint32(kValue, log));
}

// Reads and seeks around the read-ahead block boundaries, each step checked
// against the file's bytes: the bytes and count delivered, the end flag and
// the position after the step.
TEST(FileDataSourceTest, ReadAheadKeepsBytesPositionsAndEnd) {
  constexpr int64_t kBlock = FileDataSource::kReadAheadSize;
  const size_t kSize = 3 * kBlock + 1000;
  std::vector<unsigned char> bytes(kSize);
  for (size_t i = 0; i < kSize; ++i)
    bytes[i] = static_cast<unsigned char>(i * 7 + i / 251);
  TempFile f(bytes);
  enum Op { kRead, kSeekAbs, kSeekRel };
  struct Step {
    const char* what;
    Op op;
    int64_t arg;
    int64_t position;  // expected afterwards
  } steps[] = {
      {"small read fills the block", kRead, 10, 10},
      {"read up to the block's end", kRead, kBlock - 20, kBlock - 10},
      {"small read spanning the block's end", kRead, 30, kBlock + 20},
      {"back inside the block", kSeekRel, -25, kBlock - 5},
      {"read across the block's start", kRead, 40, kBlock + 35},
      {"absolute seek inside the block", kSeekAbs, kBlock + 100, kBlock + 100},
      {"absolute seek before the block", kSeekAbs, 5, 5},
      {"read after it", kRead, 16, 21},
      {"large read bypassing the block", kRead, kBlock + 3, kBlock + 24},
      {"small read after the large one", kRead, 8, kBlock + 32},
      {"forward seek past the block", kSeekRel, kBlock + 1, 2 * kBlock + 33},
      {"read there", kRead, 100, 2 * kBlock + 133},
      {"backward seek out of the block", kSeekRel, -(kBlock + 200),
       kBlock - 67},
      {"read there", kRead, 70, kBlock + 3},
      {"to the block's end exactly", kSeekRel, kBlock - 70, 2 * kBlock - 67},
      {"to the block's start exactly", kSeekRel, -kBlock, kBlock - 67},
      {"one before the block's start", kSeekRel, -1, kBlock - 68},
      {"read one", kRead, 1, kBlock - 67},
      {"one past the block's end", kSeekRel, kBlock + 1, 2 * kBlock - 66},
      {"read past the end of the file", kRead, kBlock + 2000,
       static_cast<int64_t>(kSize)},
      {"seek back near the end", kSeekAbs, static_cast<int64_t>(kSize) - 7,
       static_cast<int64_t>(kSize) - 7},
      {"short read at the end", kRead, 20, static_cast<int64_t>(kSize)},
      {"read at the end", kRead, 5, static_cast<int64_t>(kSize)},
      {"rewind", kSeekAbs, 0, 0},
      {"read after the rewind", kRead, 3, 3},
  };
  FileDataSource src;
  LogNull log;
  ASSERT_TRUE(src.openDataSource(f.xpath(), log));
  int64_t pos = 0;
  std::vector<unsigned char> buf(2 * kBlock);
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    if (s.op == kRead) {
      uint32_t count = static_cast<uint32_t>(s.arg);
      uint32_t expect = static_cast<uint32_t>(
          std::min<int64_t>(s.arg, static_cast<int64_t>(kSize) - pos));
      uint32_t got = 99;
      bool end = false;
      ASSERT_TRUE(src.readSource(buf.data(), count, &got, &end, nullptr, log));
      ASSERT_EQ(expect, got);
      EXPECT_EQ(0, memcmp(buf.data(), bytes.data() + pos, got));
      EXPECT_EQ(got < count, end);
      EXPECT_EQ(got < count, src.endOfStream());
      pos += got;
    } else {
      ASSERT_TRUE(s.op == kSeekAbs ? src.seekAbsolute(s.arg, log)
                                   : src.seekRelative(s.arg, log));
      EXPECT_FALSE(src.endOfStream());
      pos = s.op == kSeekAbs ? s.arg : pos + s.arg;
    }
    ASSERT_EQ(s.position, pos);  // the table itself
    EXPECT_EQ(pos, src.getPosition());
  }
}

// Reads that stop exactly at the end of the file do not set the end flag;
// the next read does.
TEST(FileDataSourceTest, EndFlagOnlyForShortReads) {
  for (size_t size : {size_t{1}, size_t{FileDataSource::kReadAheadSize},
                      size_t{FileDataSource::kReadAheadSize + 1}}) {
    SCOPED_TRACE(size);
    std::vector<unsigned char> bytes = filler(size);
    TempFile f(bytes);
    FileDataSource src;
    LogNull log;
    ASSERT_TRUE(src.openDataSource(f.xpath(), log));
    std::vector<unsigned char> buf(size + 1);
    uint32_t got = 0;
    bool end = true;
    // One byte first (filling the block), then the rest exactly.
    ASSERT_TRUE(src.readSource(buf.data(), 1, &got, &end, nullptr, log));
    EXPECT_FALSE(end);
    if (size > 1) {
      uint32_t rest = static_cast<uint32_t>(size - 1);
      ASSERT_TRUE(
          src.readSource(buf.data() + 1, rest, &got, &end, nullptr, log));
      EXPECT_EQ(rest, got);
      EXPECT_FALSE(end);
    }
    EXPECT_EQ(0, memcmp(buf.data(), bytes.data(), size));
    EXPECT_FALSE(src.endOfStream());
    ASSERT_TRUE(src.readSource(buf.data(), 1, &got, &end, nullptr, log));
    EXPECT_EQ(0u, got);
    EXPECT_TRUE(end);
    EXPECT_TRUE(src.endOfStream());
  }
}

// A source opened again reads the new file from its start, none of the old
// file's read-ahead bytes.
TEST(FileDataSourceTest, ReopenDropsTheReadAhead) {
  std::vector<unsigned char> first = filler(1000);
  std::vector<unsigned char> second(1000, 0x5A);
  TempFile a(first), b(second);
  FileDataSource src;
  LogNull log;
  ASSERT_TRUE(src.openDataSource(a.xpath(), log));
  unsigned char buf[8];
  uint32_t got = 0;
  ASSERT_TRUE(src.readSourcePM(buf, 8, &got, nullptr, log));
  ASSERT_TRUE(src.openDataSource(b.xpath(), log));
  EXPECT_EQ(0, src.getPosition());
  ASSERT_TRUE(src.readSourcePM(buf, 8, &got, nullptr, log));
  ASSERT_EQ(8u, got);
  EXPECT_EQ(0, memcmp(buf, second.data(), 8));
}

// Asks for an abort at the first report.
class AbortingEvent : public ProgressEvent {
 public:
  void percentDone(uint32_t, bool* abort) override { *abort = true; }
  void abortCheck(bool* abort) override { *abort = true; }
};

TEST(DataSourceTest, ReadSourcePMStopsOnAbortAndKeepsTheBytes) {
  for (bool byBytes : {true, false}) {
    std::vector<unsigned char> data = filler(100);
    MemoryDataSource src;
    src.setData(data.data(), 100);
    src.setProgressByBytes(byBytes);
    AbortingEvent ev;
    ProgressMonitor pm(&ev, 200, 100);
    unsigned char buf[10];
    uint32_t got = 0;
    LogNull log;
    EXPECT_FALSE(src.readSourcePM(buf, 10, &got, &pm, log)) << byBytes;
    EXPECT_EQ(10u, got);
    EXPECT_EQ(data[9], buf[9]);
    EXPECT_TRUE(pm.isAborted());
  }
}

TEST(MemoryDataSourceTest, SeeksClampToBounds) {
  std::vector<unsigned char> data = filler(50);
  MemoryDataSource src;
  src.setData(data.data(), 50);
  LogNull log;
  struct Step {
    bool absolute;
    int64_t arg;
    int64_t expect;
  } steps[] = {{true, -5, 0},         {true, 60, 50},        {true, 20, 20},
               {false, -25, 0},       {false, 30, 30},       {false, 100, 50},
               {false, INT64_MIN, 0}, {false, INT64_MAX, 50}};
  for (const Step& s : steps) {
    EXPECT_TRUE(s.absolute ? src.seekAbsolute(s.arg, log)
                           : src.seekRelative(s.arg, log));
    EXPECT_EQ(s.expect, src.getPosition()) << s.arg;
  }
}

TEST(MemoryDataSourceTest, ScanNearTheEnd) {
  std::vector<unsigned char> data = filler(40);
  putValueAt(data, 36);
  MemoryDataSource src;
  src.setData(data.data(), 40);
  LogNull log;
  ASSERT_TRUE(src.scanForUint32(kValue, log));
  EXPECT_EQ(40, src.getPosition());
  src.seekAbsolute(37, log);  // 3 bytes before the end
  EXPECT_FALSE(src.scanForUint32(kValue, log));
  EXPECT_EQ(40, src.getPosition());
  src.rewindSource();
  EXPECT_FALSE(src.scanForUint32(0x12345678u, log));
  EXPECT_EQ(40, src.getPosition());
}

TEST(MemoryDataSourceTest, ReadsCopyOrHandOverInPlace) {
  std::vector<unsigned char> data = filler(30);
  MemoryDataSource src;
  src.setData(data.data(), 30);
  LogNull log;
  unsigned char buf[20];
  uint32_t got = 0;
  bool end = false;
  ASSERT_TRUE(src.readSource(buf, 20, &got, &end, nullptr, log));
  EXPECT_EQ(20u, got);
  EXPECT_FALSE(end);
  ASSERT_TRUE(src.readSource(buf, 20, &got, &end, nullptr, log));
  EXPECT_EQ(10u, got);
  EXPECT_TRUE(end);
  // Reading the whole buffer into itself delivers it without copying, only
  // from position 0.
  EXPECT_FALSE(src.readSource(data.data(), 30, &got, &end, nullptr, log));
  src.rewindSource();
  ASSERT_TRUE(src.readSource(data.data(), 30, &got, &end, nullptr, log));
  EXPECT_EQ(30u, got);
  EXPECT_TRUE(src.endOfStream());
  // No data: end at once.
  MemoryDataSource empty;
  ASSERT_TRUE(empty.readSource(buf, 5, &got, &end, nullptr, log));
  EXPECT_EQ(0u, got);
  EXPECT_TRUE(end);
  EXPECT_FALSE(empty.readSource(nullptr, 5, &got, &end, nullptr, log));
}

TEST(DataSourceTest, BaseDiscardBytes) {
  std::vector<unsigned char> data = filler(50000);
  LogNull log;
  MemoryDataSource src;
  src.setData(data.data(), 50000);
  EXPECT_TRUE(src.discardBytes(0, nullptr, log));
  EXPECT_EQ(0, src.getPosition());
  // The base algorithm, through a source that only reads.
  struct ReadOnly : DataSource {
    explicit ReadOnly(MemoryDataSource* m) : DataSource(kMemorySource), m_(m) {}
    bool readSource(void* b, uint32_t n, uint32_t* got, bool* end,
                    ProgressMonitor* pm, LogBase& l) override {
      ++reads;
      return m_->readSource(b, n, got, end, pm, l);
    }
    bool endOfStream() override { return m_->endOfStream(); }
    MemoryDataSource* m_;
    int reads = 0;
  } ro(&src);
  EXPECT_TRUE(ro.DataSource::discardBytes(0, nullptr, log));
  EXPECT_EQ(0, ro.reads);
  EXPECT_TRUE(ro.DataSource::discardBytes(45000, nullptr, log));
  EXPECT_EQ(3, ro.reads);  // 20,000 + 20,000 + 5,000
  EXPECT_EQ(45000, src.getPosition());
  EXPECT_TRUE(ro.DataSource::discardBytes(45000, nullptr,
                                          log));  // ends early: true at the end
  EXPECT_TRUE(src.endOfStream());
}

}  // namespace
}  // namespace sfx
