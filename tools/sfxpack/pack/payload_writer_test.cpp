// The packer's payload read back by the stub's own reader.
#include "pack/payload_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/simple_archive.h"
#include "log/log_base.h"
#include "stream/data_source.h"
#include "testing/opened_payload.h"
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

  OpenedPayload opened;
  ASSERT_TRUE(opened.open(file));
  sfx::SimpleArchive& archive = opened.archive;
  EXPECT_FALSE(archive.isEncrypted());
  EXPECT_EQ(256, archive.keyLengthBits());
  sfx::XString v;
  ASSERT_TRUE(archive.getArg("xmlConfig", v));
  EXPECT_STREQ("<SfxConfig><AutoTemp>1</AutoTemp></SfxConfig>", v.getUtf8());
  ASSERT_TRUE(archive.getArg("other", v));
  EXPECT_STREQ("\xC3\xA9t\xC3\xA9", v.getUtf8());
  // What follows the argument block is the end-of-archive record.
  EXPECT_EQ(file.size() - 5, opened.position());
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

// The record of the payload format's example (one file "a.txt" holding
// "hi", configuration "<SfxConfig/>"): its bytes are documented, so that a
// third-party packer can write the same; the CRCs were computed with
// Python's zlib.crc32.
TEST(IntegrityTableTest, EncodesTheDocumentedExample) {
  IntegrityTable table;
  IntegrityTable::Row row;
  row.type = sfx::kEntryFile;
  row.name = "a.txt";
  row.fileTime = 0x01DA3D285848C080ull;
  row.attributes = 0x20;
  row.size = 2;
  row.crc = 0xD8932AACu;
  table.Add(row);
  std::vector<uint8_t> expected = {0x01, 0x01, 0x00, 0x00, 0x00,
                                   0x1A, 0x46, 0x83, 0x3A, 0x02,
                                   0x05, 0x00, 'a',  '.',  't',
                                   'x',  't',  0x80, 0xC0, 0x48,
                                   0x58, 0x28, 0x3D, 0xDA, 0x01,
                                   0x20, 0x00, 0x00, 0x00, 0x02,
                                   0x00, 0x00, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0xAC, 0x2A, 0x93,
                                   0xD8, 0xFA, 0xC4, 0xD8, 0x1C};
  std::vector<uint8_t> got = table.Encode(0x3A83461Au);
  EXPECT_EQ(expected, got);
  EXPECT_EQ(expected.size(), table.EncodedSize());
}

// A record longer than one argument value continues in numbered arguments,
// each full but the last; the pieces join to the record.
TEST(IntegrityTableTest, LongRecordsSplitIntoNumberedArguments) {
  struct Case {
    size_t bytes;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {0, {"integrity"}},
      {13, {"integrity"}},
      {65535, {"integrity"}},
      {65536, {"integrity", "integrity2"}},
      {3 * 65535 + 1, {"integrity", "integrity2", "integrity3", "integrity4"}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> stored(c.bytes);
    for (size_t i = 0; i < stored.size(); ++i)
      stored[i] = static_cast<uint8_t>(i * 7 + i / 65535);
    auto args = IntegrityArgs(stored);
    std::vector<std::string> names;
    std::string joined;
    for (size_t i = 0; i < args.size(); ++i) {
      names.push_back(args[i].first);
      if (i + 1 < args.size()) {
        EXPECT_EQ(65535u, args[i].second.size());
      }
      joined += args[i].second;
    }
    EXPECT_EQ(c.names, names) << c.bytes;
    EXPECT_EQ(std::string(stored.begin(), stored.end()), joined) << c.bytes;
  }
}

}  // namespace
}  // namespace sfxpack
