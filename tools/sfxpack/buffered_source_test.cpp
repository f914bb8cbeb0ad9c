// The read-ahead source: every read sequence gives the inner bytes in order,
// whole reads stay whole across buffer refills and bypasses, and the end is
// reported once the inner source is used up.
#include "buffered_source.h"

#include <gtest/gtest.h>

#include <vector>

#include "log/log_base.h"

namespace sfxpack {
namespace {

constexpr uint32_t kBuf = BufferedSource::kBufferSize;

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 131 + i / 251);
  return v;
}

TEST(BufferedSourceTest, ReadSequencesDeliverTheInnerBytesInOrder) {
  const uint32_t kSize = 2 * kBuf + 1234;
  struct Case {
    const char* what;
    std::vector<uint32_t> reads;
  } cases[] = {
      {"small fields across refills", {4, 1, 2, kBuf - 7, 9, 12, 8, kBuf}},
      {"a bypass after buffered bytes", {5, kBuf + 10, 3}},
      {"one read of everything", {kSize}},
      {"reads past the end", {kBuf, kBuf, 5000}},
  };
  std::vector<uint8_t> data = pattern(kSize);
  for (const Case& c : cases) {
    sfx::MemoryDataSource inner;
    inner.setData(data.data(), kSize);
    BufferedSource source(&inner);
    sfx::LogNull log;
    size_t pos = 0;
    for (uint32_t count : c.reads) {
      std::vector<uint8_t> got(count);
      uint32_t n = 0;
      bool ended = false;
      ASSERT_TRUE(
          source.readSource(got.data(), count, &n, &ended, nullptr, log))
          << c.what;
      uint32_t expected =
          static_cast<uint32_t>(std::min<size_t>(count, kSize - pos));
      ASSERT_EQ(expected, n) << c.what;
      EXPECT_TRUE(std::equal(got.begin(), got.begin() + n, data.begin() + pos))
          << c.what;
      pos += n;
      // A short read means the end; before the end there is none.
      if (n < count) {
        EXPECT_TRUE(ended) << c.what;
      }
      if (pos < kSize) {
        EXPECT_FALSE(ended) << c.what;
      }
    }
    // Whatever is left follows in one read, then the source is at its end.
    std::vector<uint8_t> rest(kSize + 1);
    uint32_t n = 0;
    bool ended = false;
    ASSERT_TRUE(
        source.readSource(rest.data(), kSize + 1, &n, &ended, nullptr, log));
    EXPECT_EQ(kSize - pos, n) << c.what;
    EXPECT_TRUE(std::equal(rest.begin(), rest.begin() + n, data.begin() + pos));
    EXPECT_TRUE(ended) << c.what;
    EXPECT_TRUE(source.endOfStream()) << c.what;
  }
}

}  // namespace
}  // namespace sfxpack
