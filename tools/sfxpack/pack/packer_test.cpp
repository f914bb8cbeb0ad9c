// The packing engine: output read back by the stub's own reader and cipher,
// compressed chunks checked against zlib, and the same bytes for any number
// of threads.
#include "pack/packer.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "archive/simple_archive.h"
#include "codec/aes.h"
#include "codec/kdf.h"
#include "log/log_base.h"
#include "stream/data_source.h"
#include "text/data_buffer.h"
#include "testing/opened_payload.h"
#include "text/xstring.h"

namespace sfxpack {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class PackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("sfxpack_test_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "in" / "sub" / "empty");
  }
  void TearDown() override { fs::remove_all(root_); }

  void writeFile(const std::string& rel, const Bytes& data) {
    std::ofstream(root_ / "in" / rel, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
  }

  Bytes pack(PackOptions opts) {
    opts.args = {{"xmlConfig", "<SfxConfig/>"}};
    opts.inputs = {(root_ / "in").string()};
    std::string path = (root_ / "out.bin").string();
    FILE* f = fopen(path.c_str(), "wb");
    EXPECT_NE(nullptr, f);
    PackStats stats;
    std::string error;
    PackPlan plan;
    std::vector<std::string> notes;
    EXPECT_TRUE(scanInputs(opts, &plan, &notes, &error)) << error;
    EXPECT_TRUE(writePayload(opts, plan, f, &stats, &error)) << error;
    fclose(f);
    std::ifstream in(path, std::ios::binary);
    Bytes out((std::istreambuf_iterator<char>(in)),
              std::istreambuf_iterator<char>());
    EXPECT_EQ(stats.payloadBytes, out.size());
    return out;
  }

  fs::path root_;
};

// Reads the records after the argument (and verifier) block.
struct RecordReader {
  const Bytes& b;
  size_t pos;
  uint32_t u32() {
    uint32_t v = b[pos] | b[pos + 1] << 8 | b[pos + 2] << 16 |
                 static_cast<uint32_t>(b[pos + 3]) << 24;
    pos += 4;
    return v;
  }
  uint16_t u16() {
    uint16_t v = static_cast<uint16_t>(b[pos] | b[pos + 1] << 8);
    pos += 2;
    return v;
  }
  Bytes take(size_t n) {
    Bytes v(b.begin() + static_cast<long>(pos),
            b.begin() + static_cast<long>(pos + n));
    pos += n;
    return v;
  }
};

Bytes inflateRaw(const Bytes& in) {
  z_stream z = {};
  EXPECT_EQ(Z_OK, inflateInit2(&z, -15));
  Bytes out(4 << 20);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(Z_STREAM_END, inflate(&z, Z_FINISH));
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

Bytes decrypt(sfx::AesCipher& cipher, const Bytes& in) {
  sfx::DataBuffer c, p;
  c.append(in.data(), static_cast<uint32_t>(in.size()));
  sfx::LogNull log;
  EXPECT_TRUE(cipher.decryptBuffer(c, p, log));
  return Bytes(p.getData(), p.getData() + p.getSize());
}

Bytes sampleData(size_t n, bool compressible) {
  std::mt19937 rng(7);
  Bytes v(n);
  for (size_t i = 0; i < n; ++i) {
    v[i] = compressible
               ? static_cast<uint8_t>("abcabcd"[i % 7] + (rng() % 3 == 0))
               : static_cast<uint8_t>(rng());
  }
  return v;
}

// Walks the entries and returns the file contents by name, decrypting and
// inflating as the stub would; under the salted scheme (`kdf`) each piece
// with the vector of its place. Every ciphertext piece is added to
// `pieces` when given.
std::vector<std::pair<std::string, Bytes>> readEntries(
    const Bytes& payload, size_t start, sfx::AesCipher* cipher,
    const sfx::KdfSettings* kdf = nullptr, std::vector<Bytes>* pieces = nullptr) {
  std::vector<std::pair<std::string, Bytes>> entries;
  RecordReader r{payload, start};
  for (uint32_t entry = 0;; ++entry) {
    EXPECT_EQ(0x6D27E59Bu, r.u32());
    uint8_t type = payload[r.pos++];
    if (type == 0) break;
    Bytes name = r.take(r.u16());
    if (pieces) pieces->push_back(name);
    if (kdf) {
      EXPECT_TRUE(sfx::setPieceIv(*cipher, *kdf, entry, sfx::kPieceName));
    }
    if (cipher) name = decrypt(*cipher, name);
    r.pos += 8 + 4;  // time, attributes
    Bytes content;
    if (type == 2) {
      for (uint32_t word, index = 0; (word = r.u32()) != 0; ++index) {
        Bytes chunk = r.take(word & 0x7FFFFFFF);
        EXPECT_LT(chunk.size(), 2048576u);
        if (pieces) pieces->push_back(chunk);
        if (kdf) {
          EXPECT_TRUE(
              sfx::setPieceIv(*cipher, *kdf, entry, sfx::chunkPiece(index)));
        }
        if (cipher) chunk = decrypt(*cipher, chunk);
        if (!(word & 0x80000000u)) chunk = inflateRaw(chunk);
        content.insert(content.end(), chunk.begin(), chunk.end());
      }
    }
    entries.emplace_back(
        std::string(name.begin(), name.end()) + (type == 1 ? "/" : ""),
        content);
  }
  EXPECT_EQ(payload.size(), r.pos);
  return entries;
}

TEST_F(PackerTest, PlainPayloadRoundTrips) {
  Bytes big = sampleData(2500000, true), noise = sampleData(70000, false);
  writeFile("a.txt", {'h', 'i'});
  writeFile("sub/big.bin", big);
  writeFile("sub/noise.bin", noise);
  writeFile("zero", {});
  PackOptions opts;
  Bytes payload = pack(opts);

  OpenedPayload opened;
  ASSERT_TRUE(opened.open(payload));
  EXPECT_FALSE(opened.archive.isEncrypted());
  auto entries =
      readEntries(payload, opened.position(), nullptr);
  std::vector<std::pair<std::string, Bytes>> expected = {
      {"a.txt", {'h', 'i'}},    {"sub/", {}},
      {"sub/big.bin", big},     {"sub/empty/", {}},
      {"sub/noise.bin", noise}, {"zero", {}}};
  EXPECT_EQ(expected, entries);
  EXPECT_LT(payload.size(), big.size() / 2);  // the compressible file shrank
}

// Records of every size come out in order, whatever the level and the
// number of threads: small records gathered into larger writes, a stored
// record large enough to be written on its own right after small ones, a
// file read into a reused chunk-sized buffer after one that was not.
TEST_F(PackerTest, RecordsKeepTheirOrderAtEveryLevelAndThreadCount) {
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"a", sampleData(10, true)},
      {"b", sampleData(600000, false)},  // one stored chunk of 600,000 bytes
      {"c", sampleData(3000, false)},
      {"d", sampleData(300000, true)},
      {"e", sampleData(2500000, false)},  // three chunks
      {"f", sampleData(200000, false)},
      {"g", {}},
      {"h", sampleData(700000, true)}};
  fs::remove_all(root_ / "in");
  fs::create_directories(root_ / "in");
  for (const auto& [name, data] : files) writeFile(name, data);
  struct Case {
    int level;
    unsigned threads;
  } cases[] = {{0, 1}, {0, 3}, {1, 2}, {6, 1}, {6, 3}};
  for (const Case& c : cases) {
    PackOptions opts;
    opts.level = c.level;
    opts.threads = c.threads;
    Bytes payload = pack(opts);
    OpenedPayload opened;
    ASSERT_TRUE(opened.open(payload));
    EXPECT_EQ(
        files,
        readEntries(payload, opened.position(), nullptr))
        << "level " << c.level << ", " << c.threads << " threads";
  }
}

// Both password schemes at the three key lengths: the salted one by
// default (its kdf argument names the count), the unsalted one when asked.
TEST_F(PackerTest, EncryptedPayloadAtEveryKeyLength) {
  Bytes data = sampleData(300000, true);
  writeFile("sub/data.bin", data);
  for (bool legacy : {false, true}) {
    for (int bits : {128, 192, 256}) {
      SCOPED_TRACE(std::string(legacy ? "legacy " : "salted ") +
                   std::to_string(bits));
      PackOptions opts;
      opts.password = "pa ss";
      opts.keyBits = bits;
      opts.chunkSize = 100000;
      opts.kdfIterations = 1500;
      opts.legacyEncryption = legacy;
      Bytes payload = pack(opts);
      OpenedPayload opened;
      ASSERT_TRUE(opened.open(payload));
      sfx::SimpleArchive& archive = opened.archive;
      sfx::LogNull& log = opened.log;
      EXPECT_TRUE(archive.isEncrypted());
      EXPECT_EQ(bits, archive.keyLengthBits());
      EXPECT_FALSE(archive.kdfRefused());
      ASSERT_EQ(legacy, archive.kdf() == nullptr);
      if (!legacy) {
        EXPECT_EQ(1500u, archive.kdf()->iterations);
      }
      sfx::DataBuffer cache;
      archive.setPassword("wrong");
      EXPECT_FALSE(archive.checkPassword(log, cache));
      archive.setPassword("pa ss");
      ASSERT_TRUE(archive.checkPassword(log, cache));
      auto entries = readEntries(payload, opened.position(),
                                 &archive.decryptor(), archive.kdf());
      ASSERT_EQ(3u, entries.size());
      EXPECT_EQ("sub/", entries[0].first);
      EXPECT_EQ("sub/data.bin", entries[1].first);
      EXPECT_EQ(data, entries[1].second);
    }
  }
}

// Under the salted scheme no two pieces share a vector: identical chunks
// and identical names in one payload encrypt differently, and a payload
// made again from the same files with the same password differs in every
// piece (a new salt, so a new key). The unsalted scheme repeats them.
TEST_F(PackerTest, SaltedPiecesNeverRepeat) {
  fs::remove_all(root_ / "in");
  fs::create_directories(root_ / "in" / "x");
  fs::create_directories(root_ / "in" / "y");
  const Bytes same = sampleData(4 * 5000, false);  // four stored chunks alike
  Bytes block(same.begin(), same.begin() + 5000);
  Bytes four;
  for (int i = 0; i < 4; ++i) four.insert(four.end(), block.begin(), block.end());
  writeFile("x/f", four);
  writeFile("y/f", four);
  auto piecesOf = [&](bool legacy, std::vector<Bytes>* pieces) {
    PackOptions opts;
    opts.password = "same";
    opts.chunkSize = 5000;
    opts.kdfIterations = 1000;
    opts.legacyEncryption = legacy;
    opts.threads = 3;
    Bytes payload = pack(opts);
    OpenedPayload opened;
    EXPECT_TRUE(opened.open(payload));
    sfx::SimpleArchive& archive = opened.archive;
    sfx::LogNull& log = opened.log;
    sfx::DataBuffer cache;
    archive.setPassword("same");
    EXPECT_TRUE(archive.checkPassword(log, cache));
    pieces->push_back(cache.getData() ? Bytes(cache.getData(),
                                              cache.getData() + cache.getSize())
                                      : Bytes());
    auto entries = readEntries(payload, opened.position(),
                               &archive.decryptor(), archive.kdf(), pieces);
    EXPECT_EQ(four, entries[1].second);
    EXPECT_EQ(four, entries[3].second);
  };
  std::vector<Bytes> first, second;
  piecesOf(false, &first);
  piecesOf(false, &second);
  ASSERT_EQ(1u + 4 + 2 * 4, first.size());  // verifier, 4 names, 8 chunks
  std::set<Bytes> seen(first.begin(), first.end());
  EXPECT_EQ(first.size(), seen.size()) << "a piece repeats within a payload";
  for (const Bytes& piece : second)
    EXPECT_EQ(0u, seen.count(piece)) << "a piece repeats across payloads";
  // The names "x/f" and "y/f" differ, but the 8 chunks are one block: the
  // unsalted scheme shows that, as it always did.
  std::vector<Bytes> legacy;
  piecesOf(true, &legacy);
  EXPECT_EQ(legacy[3], legacy[4]);  // the first two chunks of x/f
}

TEST_F(PackerTest, SameBytesForAnyNumberOfThreads) {
  writeFile("x.bin", sampleData(3000000, true));
  writeFile("sub/y.bin", sampleData(500000, false));
  PackOptions opts;
  opts.chunkSize = 65536;
  opts.threads = 1;
  Bytes one = pack(opts);
  opts.threads = 3;
  EXPECT_EQ(one, pack(opts));
}

TEST_F(PackerTest, SameBytesForManySmallFiles) {
  // More records than the in-flight bound holds, most of them tiny.
  for (int i = 0; i < 1200; ++i) {
    writeFile("sub/f" + std::to_string(i), sampleData(i % 97, i % 2 == 0));
  }
  PackOptions opts;
  opts.threads = 1;
  Bytes one = pack(opts);
  opts.threads = 3;
  EXPECT_EQ(one, pack(opts));
}

TEST_F(PackerTest, FilesAreCutAtChunkBoundaries) {
  // Stored chunks (level 0) show their input sizes in their size words.
  const size_t kChunk = 1000;
  struct Case {
    size_t size;
    std::vector<uint32_t> chunks;
  } cases[] = {{0, {}},
               {1, {1}},
               {kChunk - 1, {kChunk - 1}},
               {kChunk, {kChunk}},
               {kChunk + 1, {kChunk, 1}},
               {2 * kChunk, {kChunk, kChunk}}};
  for (const Case& c : cases) {
    fs::remove_all(root_ / "in");
    fs::create_directories(root_ / "in");
    writeFile("f", sampleData(c.size, false));
    PackOptions opts;
    opts.level = 0;
    opts.chunkSize = kChunk;
    Bytes payload = pack(opts);
    // Marker, type 2, name length 1, "f", time, attributes, then the chunks.
    const Bytes head = {0x9B, 0xE5, 0x27, 0x6D, 0x02, 0x01, 0x00, 'f'};
    auto at =
        std::search(payload.begin(), payload.end(), head.begin(), head.end());
    ASSERT_NE(payload.end(), at) << c.size;
    RecordReader r{payload, static_cast<size_t>(at - payload.begin()) +
                                head.size() + 8 + 4};
    std::vector<uint32_t> got;
    for (uint32_t word; (word = r.u32()) != 0;) {
      EXPECT_EQ(0x80000000u, word & 0x80000000u);
      got.push_back(word & 0x7FFFFFFF);
      r.pos += word & 0x7FFFFFFF;
    }
    EXPECT_EQ(c.chunks, got) << c.size;
    EXPECT_EQ(payload.size(), r.pos + 5) << c.size;  // then the end record
  }
}

TEST_F(PackerTest, IncompressibleChunksAreStored) {
  writeFile("noise", sampleData(5000, false));
  PackOptions opts;
  Bytes payload = pack(opts);
  // The chunk word of the only file carries the stored bit (the name's last
  // occurrence is the entry's; the integrity record comes first).
  const Bytes name = {'n', 'o', 'i', 's', 'e'};
  auto it =
      std::find_end(payload.begin(), payload.end(), name.begin(), name.end());
  ASSERT_NE(payload.end(), it);
  size_t word = static_cast<size_t>(it - payload.begin()) + 5 + 8 + 4;
  EXPECT_EQ(0x80u, payload[word + 3]);
  EXPECT_EQ(5000u, payload[word] | payload[word + 1] << 8);
}

// The judgement that stores a chunk without deflating it: true only where
// deflating (libdeflate at the default level) saves nothing worth having,
// false wherever it does.
TEST(DeflateCannotShrinkTest, AgreesWithDeflate) {
  std::mt19937 rng(11);
  auto random = [&rng](size_t n, int low, int high) {
    std::uniform_int_distribution<int> byte(low, high);
    Bytes v(n);
    for (uint8_t& b : v) b = static_cast<uint8_t>(byte(rng));
    return v;
  };
  auto repeat = [](const Bytes& block, int times) {
    Bytes v;
    for (int i = 0; i < times; ++i)
      v.insert(v.end(), block.begin(), block.end());
    return v;
  };
  Bytes halves = random(32768, 0, 127), upper = random(32768, 128, 255);
  halves.insert(halves.end(), upper.begin(), upper.end());
  Bytes sparse = random(65536, 0, 255);
  for (size_t i = 0; i < sparse.size(); i += 8) sparse[i] = 0;
  Bytes text = sampleData(65536, true);
  struct Case {
    const char* what;
    Bytes data;
    bool cannotShrink;
  } cases[] = {
      {"random bytes", random(65536, 0, 255), true},
      {"a chunk of random bytes", random(1 << 20, 0, 255), true},
      {"random bytes, not a full piece at the end", random(40000, 0, 255),
       true},
      {"text", text, false},
      {"text after random bytes",
       [&] {
         Bytes v = random(65536, 0, 255);
         v.insert(v.end(), text.begin(), text.end());
         return v;
       }(),
       false},
      {"too short to judge", random(4095, 0, 255), false},
      // Each piece looks random; the repeats are what deflate saves on.
      {"a random block repeated within the window",
       repeat(random(16384, 0, 255), 4), false},
      {"a random block repeated beyond the window",
       repeat(random(40000, 0, 255), 2), true},
      // Flat over the whole, but each half uses only half of the values.
      {"two halves of different bytes", halves, false},
      {"random bytes with every eighth zero", sparse, false},
  };
  libdeflate_compressor* c = libdeflate_alloc_compressor(6);
  ASSERT_NE(nullptr, c);
  for (const Case& t : cases) {
    EXPECT_EQ(t.cannotShrink, deflateCannotShrink(t.data.data(), t.data.size()))
        << t.what;
    Bytes out(t.data.size());
    size_t n = libdeflate_deflate_compress(c, t.data.data(), t.data.size(),
                                           out.data(), out.size());
    if (t.cannotShrink) {  // what storing loses: under 0.1%
      EXPECT_TRUE(n == 0 || n > t.data.size() - t.data.size() / 1000) << t.what;
    } else if (t.data.size() >= 4096) {  // what deflating gains: 2.5% or more
      EXPECT_LT(n, t.data.size() - t.data.size() / 40) << t.what;
    }
  }
  libdeflate_free_compressor(c);
}

// The integrity record takes argument slots: when the other arguments leave
// none, packing fails and names --no-integrity, which then packs.
TEST_F(PackerTest, RecordThatDoesNotFitTheArgumentsIsRefused) {
  writeFile("a.txt", sampleData(10, true));
  PackOptions opts;
  opts.inputs = {(root_ / "in").string()};
  opts.args = {{"xmlConfig", "<SfxConfig/>"}};
  for (int i = 1; i < 199; ++i) opts.args.emplace_back("a" + std::to_string(i), "v");
  for (bool integrity : {true, false}) {
    opts.integrity = integrity;
    std::string path = (root_ / "out.bin").string();
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    PackStats stats;
    std::string error;
    PackPlan plan;
    std::vector<std::string> notes;
    ASSERT_TRUE(scanInputs(opts, &plan, &notes, &error)) << error;
    bool ok = writePayload(opts, plan, f, &stats, &error);
    fclose(f);
    EXPECT_EQ(!integrity, ok) << error;
    if (integrity) {
      EXPECT_NE(std::string::npos, error.find("--no-integrity")) << error;
    }
  }
}

// Modification times outside what a FILETIME holds are clamped when read;
// a time past the latest one is refused when written.
TEST(PackerTimeTest, TimesOutOfRange) {
  struct stat st;
  memset(&st, 0, sizeof st);
  const struct {
    int64_t seconds;
    uint64_t fileTime;
  } kCases[] = {
      {INT64_MIN, 0},
      {-11644473600LL - 86400 * 2, 0},  // before 1601 in any zone
      {INT64_MAX, kMaxStoredFileTime},
      {(INT64_MAX / 10000000) + 1, kMaxStoredFileTime},
  };
  for (const auto& c : kCases) {
    st.st_mtim.tv_sec = static_cast<time_t>(c.seconds);
    st.st_mtim.tv_nsec = 999999999;
    EXPECT_EQ(c.fileTime, localFileTimeOf(st)) << c.seconds;
  }
  st.st_mtim.tv_sec = 1000000000;  // 2001: whole ticks kept
  st.st_mtim.tv_nsec = 500;
  EXPECT_EQ(5u, localFileTimeOf(st) % 10);
}

TEST_F(PackerTest, TimeThatCannotBeRepresentedIsRefused) {
  writeFile("a.txt", sampleData(10, true));
  PackOptions opts;
  opts.inputs = {(root_ / "in").string()};
  opts.args = {{"xmlConfig", "<SfxConfig/>"}};
  PackPlan plan;
  std::vector<std::string> notes;
  std::string error;
  ASSERT_TRUE(scanInputs(opts, &plan, &notes, &error)) << error;
  ASSERT_FALSE(plan.entries.empty());
  plan.entries.back().fileTime = 0x8000000000000001ULL;
  std::string path = (root_ / "out.bin").string();
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  PackStats stats;
  EXPECT_FALSE(writePayload(opts, plan, f, &stats, &error));
  fclose(f);
  EXPECT_NE(std::string::npos, error.find("cannot store the modification time"))
      << error;
}

}  // namespace
}  // namespace sfxpack
