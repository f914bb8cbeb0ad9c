// The packer's payload read back by the stub's own reader.
#include "payload_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/simple_archive.h"
#include "log/log_base.h"
#include "stream/data_source.h"
#include "text/xstring.h"

namespace sfxpack {
namespace {

TEST(PayloadWriterTest, ReaderFindsWhatTheWriterWrote) {
  std::vector<uint8_t> file(5000, 0x90);  // stands for the stub
  PayloadWriter w;
  w.BeginPayload(false, 2);
  std::string error;
  ASSERT_TRUE(
      w.AddArgs({{"xmlConfig", "<SfxConfig><AutoTemp>1</AutoTemp></SfxConfig>"},
                 {"other", "\xC3\xA9t\xC3\xA9"}},
                &error));
  w.AddEnd();
  file.insert(file.end(), w.bytes().begin(), w.bytes().end());

  sfx::MemoryDataSource src;
  src.setData(file.data(), static_cast<uint32_t>(file.size()));
  sfx::SimpleArchive archive;
  archive.setSource(&src);
  sfx::LogNull log;
  sfx::StringBuffer err;
  ASSERT_TRUE(archive.findMarker(log, nullptr));
  ASSERT_TRUE(archive.readHeader(err, log, nullptr));
  ASSERT_TRUE(archive.readArgs(log, nullptr));
  EXPECT_FALSE(archive.isEncrypted());
  EXPECT_EQ(256, archive.keyLengthBits());
  sfx::XString v;
  ASSERT_TRUE(archive.getArg("xmlConfig", v));
  EXPECT_STREQ("<SfxConfig><AutoTemp>1</AutoTemp></SfxConfig>", v.getUtf8());
  ASSERT_TRUE(archive.getArg("other", v));
  EXPECT_STREQ("\xC3\xA9t\xC3\xA9", v.getUtf8());
  // What follows the argument block is the end-of-archive record.
  EXPECT_EQ(static_cast<int64_t>(file.size()) - 5, src.getPosition());
  const uint8_t kEnd[5] = {0x9B, 0xE5, 0x27, 0x6D, 0x00};
  EXPECT_EQ(0, memcmp(kEnd, file.data() + file.size() - 5, 5));
}

TEST(PayloadWriterTest, EntriesAndStoredChunks) {
  PayloadWriter w;
  std::vector<uint8_t> data(10, 'x');
  w.AddDirectory("d", 0x0102030405060708ULL, 0x10);
  w.AddFile("d/f", 7, 0x20, data, 4);
  w.AddFile("empty", 7, 0x22, {}, 4);
  const std::vector<uint8_t>& b = w.bytes();
  // directory: marker, type 1, name length 1, "d", time, attributes
  ASSERT_EQ(4u + 1 + 2 + 1 + 8 + 4,
            b.size() - (4 + 1 + 2 + 3 + 8 + 4 + 3 * 4 + 10 + 4) -
                (4 + 1 + 2 + 5 + 8 + 4 + 4));
  EXPECT_EQ(1, b[4]);
  EXPECT_EQ(0x08, b[8]);  // time, little-endian
  // file chunks: 4 + 4 + 2 stored bytes, then the 0 word
  size_t f = 20;
  EXPECT_EQ(2, b[f + 4]);
  size_t chunks = f + 4 + 1 + 2 + 3 + 8 + 4;
  EXPECT_EQ(0x80u, b[chunks + 3]);  // stored bit
  EXPECT_EQ(4u, b[chunks]);
  size_t last = chunks + 2 * (4 + 4);
  EXPECT_EQ(2u, b[last]);
  EXPECT_EQ(0u, b[last + 4 + 2] | b[last + 4 + 3] | b[last + 4 + 4] |
                    b[last + 4 + 5]);
}

TEST(PayloadWriterTest, RejectsWhatDoesNotFit) {
  PayloadWriter w;
  std::string error;
  EXPECT_FALSE(w.AddArgs({{"big", std::string(65536, 'v')}}, &error));
  EXPECT_NE(std::string::npos, error.find("65535"));
  EXPECT_FALSE(w.AddArgs({{"", "v"}}, &error));
  std::vector<std::pair<std::string, std::string>> many(200, {"n", "v"});
  EXPECT_FALSE(w.AddArgs(many, &error));
  EXPECT_TRUE(w.bytes().empty());  // nothing written by a refused block
}

}  // namespace
}  // namespace sfxpack
