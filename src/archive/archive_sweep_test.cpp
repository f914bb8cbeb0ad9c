// Fault sweeps over whole payloads through the reader and the extraction:
// a small payload (plain and encrypted) cut at every byte offset and with
// every single bit flipped. No run may crash or hang, each failure must leave
// a reason, and a run reported as successful must produce exactly the packed
// tree unless the damaged byte lies in a field the format cannot check.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "archive/archive_test_support.h"
#include "archive/simple_archive.h"
#include "codec/aes.h"
#include "log/log_base.h"
#include "os/os.h"
#include "stream/data_source.h"
#include "text/data_buffer.h"
#include "text/ext_ptr_array.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// What a payload byte belongs to. The format has no checksum over its
// records, so damage in the unchecked fields can change names, times,
// attributes or contents, end the archive early (a type byte that becomes
// the end record) or shift the reading onto bytes that happen to form valid
// records (a length), without the format being able to tell.
enum class Field {
  kFramed,  // marker, verifier, entry markers, terminators
  // Header bytes whose damage may pass but cannot change the tree: the
  // version (not checked), the encrypted flag (any value but 0 means
  // encrypted) and the key length (used only when encrypted, and then
  // checked through the verifier).
  kHeader,
  kArgs,
  kType,
  kNameLength,
  kName,
  kTime,
  kAttributes,
  kChunkLength,
  kChunkData,
};

bool isUnchecked(Field f) {
  return f == Field::kArgs || f == Field::kType || f == Field::kNameLength ||
         f == Field::kName || f == Field::kTime || f == Field::kAttributes ||
         f == Field::kChunkLength || f == Field::kChunkData;
}

constexpr const char* kPassword = "sweep";

// Builds a payload and records the field of every byte.
class SweepPayload {
 public:
  explicit SweepPayload(bool encrypted)
      : sealer_(encrypted ? archive_test::Scheme::kLegacy
                          : archive_test::Scheme::kPlain,
                kPassword, 128) {
    put32(payloadMarkerWord(0), Field::kFramed);
    put32(payloadMarkerWord(1), Field::kFramed);
    put32(1, Field::kHeader);
    put(encrypted ? 1 : 0, Field::kHeader);
    put(0, Field::kHeader);  // 128-bit key
    putBytes(Bytes{4, 0}, Field::kArgs);
    putBytes(Bytes{'n', 'a', 'm', 'e'}, Field::kArgs);
    putBytes(Bytes{2, 0, 'o', 'k'}, Field::kArgs);
    put16(0, Field::kFramed);
    if (encrypted) putBytes(sealer_.verifierBlock(), Field::kFramed);
  }

  void directory(const std::string& name) { head(1, name, 0x10); }
  void storedFile(const std::string& name, const std::string& text) {
    head(2, name, 0x20);
    chunk(true, Bytes(text.begin(), text.end()));
    put32(0, Field::kFramed);
  }
  // A file of one compressed chunk: a fixed block with the literals of text.
  void deflatedFile(const std::string& name, const std::string& text) {
    head(2, name, 0x20);
    chunk(false, archive_test::deflateLiterals(text));
    put32(0, Field::kFramed);
  }
  void end() {
    put32(kEntryMarker, Field::kFramed);
    put(0, Field::kFramed);
  }

  const Bytes& bytes() const { return bytes_; }
  Field field(size_t offset) const { return fields_[offset]; }

 private:
  // The unsalted scheme: every piece's vector is zero, whatever its place.
  Bytes seal(const Bytes& plain) { return sealer_.seal(plain, 0, 0); }
  void head(uint8_t type, const std::string& name, uint32_t attributes) {
    put32(kEntryMarker, Field::kFramed);
    put(type, Field::kType);
    Bytes n = seal(Bytes(name.begin(), name.end()));
    put16(static_cast<uint16_t>(n.size()), Field::kNameLength);
    putBytes(n, Field::kName);
    put32(0x5E7A1B00u, Field::kTime);  // 2020-01-01 as a FILETIME
    put32(0x01D5C03Au, Field::kTime);
    put32(attributes, Field::kAttributes);
  }
  void chunk(bool stored, const Bytes& data) {
    Bytes s = seal(data);
    put32((stored ? kStoredChunkBit : 0) | static_cast<uint32_t>(s.size()),
          Field::kChunkLength);
    putBytes(s, Field::kChunkData);
  }
  void put(uint8_t v, Field f) {
    bytes_.push_back(v);
    fields_.push_back(f);
  }
  void put16(uint16_t v, Field f) {
    put(static_cast<uint8_t>(v), f);
    put(static_cast<uint8_t>(v >> 8), f);
  }
  void put32(uint32_t v, Field f) {
    put16(static_cast<uint16_t>(v), f);
    put16(static_cast<uint16_t>(v >> 16), f);
  }
  void putBytes(const Bytes& b, Field f) {
    for (uint8_t v : b) put(v, f);
  }

  archive_test::PieceSealer sealer_;
  Bytes bytes_;
  std::vector<Field> fields_;
};

// Where a run stopped and what it left on disk (relative path to content;
// directories end in "/").
struct Outcome : archive_test::ExtractRun {
  std::map<std::string, std::string> tree;
};

// Each sweep runs with the entry's thread decoding alone and with three
// decoders.
class ArchiveSweepTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok()) << "no fresh folder for the test";
  }

  // Extracts `payload` as the stub does, into a fresh unzip folder, and
  // reports how far it got.
  Outcome run(const Bytes& payload) {
    folder_.clearOut();
    SimpleArchive archive;
    archive.setDecoderThreads(GetParam());
    archive_test::ErrorLog log;
    Outcome o;
    static_cast<archive_test::ExtractRun&>(o) =
        archive_test::extractInto(archive, payload, folder_.out(), kPassword, log);
    o.tree = folder_.tree();
    return o;
  }

  // The packed tree: a directory, a stored and a deflated file.
  static void pack(SweepPayload& p) {
    p.directory("d");
    p.storedFile("d/a.txt", "alpha beta");
    p.deflatedFile("z.txt", "zebra zone");
    p.end();
  }
  static const std::map<std::string, std::string>& packedTree() {
    static const std::map<std::string, std::string> tree = {
        {"d/", ""}, {"d/a.txt", "alpha beta"}, {"z.txt", "zebra zone"}};
    return tree;
  }

  archive_test::TestFolder folder_{"sfx_sweep_"};
};

struct SweepCase {
  const char* name;
  bool encrypted;
};
const SweepCase kCases[] = {{"plain", false}, {"encrypted", true}};

TEST_P(ArchiveSweepTest, IntactPayloadsExtractTheTree) {
  for (const SweepCase& c : kCases) {
    SCOPED_TRACE(c.name);
    SweepPayload p(c.encrypted);
    pack(p);
    Outcome o = run(p.bytes());
    EXPECT_EQ(Outcome::kDone, o.step);
    EXPECT_EQ(packedTree(), o.tree);
  }
}

// Every cut before the last byte loses the end-of-archive record, so every
// one fails, with its reason; what was extracted before the cut is intact.
TEST_P(ArchiveSweepTest, TruncationAtEveryOffsetFailsWithAReason) {
  for (const SweepCase& c : kCases) {
    SCOPED_TRACE(c.name);
    SweepPayload p(c.encrypted);
    pack(p);
    const Bytes& full = p.bytes();
    for (size_t cut = 0; cut < full.size(); ++cut) {
      SCOPED_TRACE("cut at " + std::to_string(cut));
      Outcome o = run(Bytes(full.begin(), full.begin() + cut));
      EXPECT_NE(Outcome::kDone, o.step);
      EXPECT_TRUE(o.hasReason);
      for (const auto& [path, content] : o.tree) {
        auto want = packedTree().find(path);
        ASSERT_NE(packedTree().end(), want) << path;
        // The entry being written when the data ran out may be short.
        EXPECT_EQ(0u, want->second.rfind(content, 0)) << path;
      }
    }
  }
}

// A flipped bit either fails the run with its reason or, when the run
// succeeds, leaves the packed tree, unless it hit a field the format does
// not check. Every flip in the framing fails.
TEST_P(ArchiveSweepTest, EveryBitFlipFailsWithAReasonOrHitsAnUncheckedField) {
  for (const SweepCase& c : kCases) {
    SCOPED_TRACE(c.name);
    SweepPayload p(c.encrypted);
    pack(p);
    int failed = 0, intact = 0, changed = 0;
    int framedBits = 0, framedFailed = 0;
    for (size_t offset = 0; offset < p.bytes().size(); ++offset) {
      for (int bit = 0; bit < 8; ++bit) {
        SCOPED_TRACE("offset " + std::to_string(offset) + " bit " +
                     std::to_string(bit));
        Bytes damaged = p.bytes();
        damaged[offset] ^= static_cast<uint8_t>(1u << bit);
        Outcome o = run(damaged);
        if (p.field(offset) == Field::kFramed) {
          ++framedBits;
          EXPECT_NE(Outcome::kDone, o.step) << "a flip in the framing passed";
          if (o.step != Outcome::kDone) ++framedFailed;
        }
        if (o.step != Outcome::kDone) {
          EXPECT_TRUE(o.hasReason);
          ++failed;
        } else if (o.tree == packedTree()) {
          ++intact;
        } else {
          EXPECT_TRUE(isUnchecked(p.field(offset)))
              << "success with a different tree";
          ++changed;
        }
      }
    }
    // The framing is a good part of the payload, and all of it is checked.
    EXPECT_GT(framedBits, static_cast<int>(p.bytes().size()) * 8 / 4);
    EXPECT_EQ(framedBits, framedFailed);
    EXPECT_GE(failed, framedFailed);
    printf("%s: %d flips fail, %d leave the tree, %d change it\n", c.name,
           failed, intact, changed);
  }
}

INSTANTIATE_TEST_SUITE_P(
    DecoderCounts, ArchiveSweepTest, ::testing::Values(1, 3),
    [](const ::testing::TestParamInfo<int>& info) {
      return "Decoders" + std::to_string(info.param);
    });

}  // namespace
}  // namespace sfx
