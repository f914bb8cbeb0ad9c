// The integrity record against damage: payloads that carry it (plain, and
// encrypted with either password scheme) cut at every offset and with every single bit flipped must
// either fail with a reason or give exactly the packed tree, names, contents
// and times alike. Beside the sweeps, named cases for each kind of
// difference the record catches and for what it leaves alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "archive/archive_test_support.h"
#include "archive/integrity_record.h"
#include "archive/simple_archive.h"
#include "codec/aes.h"
#include "codec/crc32.h"
#include "codec/kdf.h"
#include "log/log_base.h"
#include "stream/data_source.h"
#include "text/data_buffer.h"
#include "text/ext_ptr_array.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr const char* kPassword = "sweep";
constexpr const char* kConfig = "<SfxConfig><Verbose>0</Verbose></SfxConfig>";
constexpr uint64_t kTime = 0x01D5C03A5E7A1B00ull;  // 2020-01-01

// One entry as packed: type 1 (directory) or 2 (file), its data stored or
// as one fixed-Huffman deflate block.
struct Entry {
  uint8_t type;
  std::string name;
  std::string data;
  bool deflated = false;
  uint32_t attributes = 0x20;
};

// How to spoil the record while writing a payload.
struct Spoil {
  int version = kIntegrityVersion;
  bool badRecordCrc = false;
  bool otherConfigCrc = false;
  int dropRow = -1;   // leave this row out of the record
  bool extraRow = false;  // a row for an entry that is not in the payload
  int wrongCrcRow = -1;
  int wrongTimeRow = -1;
  bool noRecord = false;
};

using archive_test::ErrorLog;
using archive_test::PieceSealer;
using archive_test::Scheme;

void put(Bytes& b, uint64_t v, int n) { archive_test::putLe(b, v, n); }

constexpr Scheme kPlain = Scheme::kPlain;
constexpr Scheme kLegacy = Scheme::kLegacy;
constexpr Scheme kSalted = Scheme::kSalted;

// Writes payloads the way the format describes them, the integrity record
// as the last argument: plain, encrypted with the unsalted key and zero
// vectors, or with the salted key (a kdf argument before the record) and a
// vector for every piece.
class Writer {
 public:
  explicit Writer(Scheme scheme) : sealer_(scheme, kPassword, 128) {}

  Bytes seal(const Bytes& plain, uint32_t entry, uint32_t piece) {
    return sealer_.seal(plain, entry, piece);
  }

  Bytes record(const std::vector<Entry>& entries, const Spoil& spoil) {
    Bytes r;
    put(r, static_cast<uint64_t>(spoil.version), 1);
    size_t rows = entries.size() - (spoil.dropRow >= 0) + spoil.extraRow;
    put(r, rows, 4);
    uint32_t configCrc = ZipCRC::oneShot(kConfig, strlen(kConfig));
    put(r, spoil.otherConfigCrc ? configCrc ^ 1 : configCrc, 4);
    std::vector<Entry> listed = entries;
    if (spoil.extraRow) listed.push_back({kEntryFile, "ghost.txt", "boo"});
    for (size_t i = 0; i < listed.size(); ++i) {
      const Entry& e = listed[i];
      if (static_cast<int>(i) == spoil.dropRow) continue;
      put(r, e.type, 1);
      put(r, e.name.size(), 2);
      r.insert(r.end(), e.name.begin(), e.name.end());
      put(r, static_cast<int>(i) == spoil.wrongTimeRow ? kTime + 1 : kTime, 8);
      put(r, e.attributes, 4);
      bool file = e.type == kEntryFile;
      put(r, file ? e.data.size() : 0, 8);
      uint32_t crc = file ? ZipCRC::oneShot(e.data.data(), e.data.size()) : 0;
      put(r, static_cast<int>(i) == spoil.wrongCrcRow ? crc ^ 0x100 : crc, 4);
    }
    uint32_t own = ZipCRC::oneShot(r.data(), r.size());
    put(r, spoil.badRecordCrc ? own ^ 1 : own, 4);
    return seal(r, kPieceNoEntry, kPieceIntegrity);
  }

  Bytes payload(const std::vector<Entry>& entries, const Spoil& spoil = {}) {
    Bytes b = archive_test::markerAndHeader(sealer_.encrypted() ? 1 : 0, 0);  // 128 bits
    archive_test::putArg(b, kConfigArg, archive_test::bytesOf(kConfig));
    archive_test::putArg(b, "name", Bytes{'o', 'k'});
    if (sealer_.salted()) archive_test::putArg(b, kKdfArg, sealer_.kdfArgValue());
    if (!spoil.noRecord) archive_test::putArg(b, kIntegrityArg, record(entries, spoil));
    put(b, 0, 2);
    if (sealer_.encrypted()) archive_test::putBytes(b, sealer_.verifierBlock());
    uint32_t number = 0;
    for (const Entry& e : entries) {
      const uint32_t entry = number++;
      put(b, kEntryMarker, 4);
      put(b, e.type, 1);
      Bytes n = seal(Bytes(e.name.begin(), e.name.end()), entry, kPieceName);
      put(b, n.size(), 2);
      b.insert(b.end(), n.begin(), n.end());
      put(b, kTime, 8);
      put(b, e.attributes, 4);
      if (e.type != kEntryFile) continue;
      if (!e.data.empty()) {
        Bytes body = e.deflated ? archive_test::deflateLiterals(e.data)
                                : archive_test::bytesOf(e.data);
        Bytes s = seal(body, entry, chunkPiece(0));
        put(b, (e.deflated ? 0 : kStoredChunkBit) | s.size(), 4);
        b.insert(b.end(), s.begin(), s.end());
      }
      put(b, 0, 4);
    }
    put(b, kEntryMarker, 4);
    put(b, kEntryEnd, 1);
    return b;
  }

 private:
  PieceSealer sealer_;
};

const std::vector<Entry>& packedEntries() {
  static const std::vector<Entry> entries = {
      {1, "d", "", false, 0x10},
      {2, "d/a.txt", "alpha beta"},
      {2, "z.txt", "zebra zone", true},
      {2, "empty", ""},
  };
  return entries;
}

// What a run left: path to content and modification time; directories end
// in "/".
using Tree = std::map<std::string, std::string>;

struct Outcome {
  bool done = false;
  bool hasReason = false;
  bool damaged = false;
  std::string damagedName;
  std::vector<std::string> errors;
  Tree tree;
};

// Each sweep runs with the entry's thread decoding alone and with three
// decoders.
class IntegritySweepTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok()) << "no fresh folder for the test";
  }

  // Extracts `payload` for real into a fresh folder, as the stub does,
  // stopping at the first failed entry.
  // `before` holds files (path to content) that exist before the run.
  Outcome run(const Bytes& payload,
              const std::map<std::string, std::string>& before = {}) {
    folder_.clearOut();
    for (const auto& [rel, content] : before) {
      fs::create_directories((folder_.out() / rel).parent_path());
      std::ofstream(folder_.out() / rel, std::ios::binary) << content;
    }
    SimpleArchive archive;
    archive.setDecoderThreads(GetParam());
    ErrorLog log;
    archive_test::ExtractRun run =
        archive_test::extractInto(archive, payload, folder_.out(), kPassword, log);
    Outcome o;
    o.done = run.step == archive_test::ExtractRun::kDone;
    o.hasReason = run.hasReason;
    o.damaged = archive.integrityDamaged();
    o.damagedName = archive.damagedName().getString();
    o.errors = log.errors;
    o.tree = folder_.tree(true);
    return o;
  }

  archive_test::TestFolder folder_{"sfx_integrity_"};
};

struct Variant {
  const char* name;
  Scheme scheme;
};
const Variant kVariants[] = {
    {"plain", kPlain}, {"encrypted", kLegacy}, {"salted", kSalted}};

bool hasError(const Outcome& o, const std::string& text) {
  for (const std::string& e : o.errors) {
    if (e == text) return true;
  }
  return false;
}

TEST_P(IntegritySweepTest, EveryBitFlipFailsOrGivesThePackedTree) {
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    Writer w(v.scheme);
    const Bytes good = w.payload(packedEntries());
    const Outcome reference = run(good);
    ASSERT_TRUE(reference.done);
    ASSERT_EQ(4u, reference.tree.size());
    int failed = 0, intact = 0, damagedReported = 0;
    for (size_t offset = 0; offset < good.size(); ++offset) {
      for (int bit = 0; bit < 8; ++bit) {
        SCOPED_TRACE("offset " + std::to_string(offset) + " bit " +
                     std::to_string(bit));
        Bytes damaged = good;
        damaged[offset] ^= static_cast<uint8_t>(1u << bit);
        Outcome o = run(damaged);
        if (!o.done) {
          EXPECT_TRUE(o.hasReason);
          ++failed;
          damagedReported += o.damaged;
          // A damaged entry is never left behind: what is on disk is what
          // was packed, up to the failing entry.
          for (const auto& [path, content] : o.tree) {
            auto want = reference.tree.find(path);
            ASSERT_NE(reference.tree.end(), want) << path;
            if (o.damaged) {
              EXPECT_EQ(want->second, content) << path;
            }
          }
        } else {
          ASSERT_EQ(reference.tree, o.tree) << "success with another tree";
          ++intact;
        }
      }
    }
    printf("%s (%zu bytes): %d flips fail (%d as damage the record found), "
           "%d give the packed tree, 0 another tree\n",
           v.name, good.size(), failed, damagedReported, intact);
  }
}

TEST_P(IntegritySweepTest, EveryCutFails) {
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    Writer w(v.scheme);
    const Bytes good = w.payload(packedEntries());
    const Outcome reference = run(good);
    for (size_t cut = 0; cut < good.size(); ++cut) {
      SCOPED_TRACE("cut at " + std::to_string(cut));
      Outcome o = run(Bytes(good.begin(), good.begin() + cut));
      EXPECT_FALSE(o.done);
      EXPECT_TRUE(o.hasReason);
      for (const auto& [path, content] : o.tree) {
        auto want = reference.tree.find(path);
        ASSERT_NE(reference.tree.end(), want) << path;
        // The entry being written when the data ran out may be short.
        EXPECT_EQ(0u, want->second.rfind(content.substr(0, content.find('@')), 0))
            << path;
      }
    }
  }
}

// Each kind of difference, on its own: the run fails with the record's
// message and the entry's name, and nothing of the damaged entry stays.
TEST_P(IntegritySweepTest, EachDifferenceFailsItsEntry) {
  struct Case {
    const char* name;
    Spoil spoil;
    const char* error;
    const char* damagedName;  // "" for the record or the configuration
    Tree left;                // what stays (entries before the damage)
  };
  const Tree dirOnly = {{"d/", ""}};
  std::vector<Case> cases;
  cases.push_back({"record CRC", {}, "The integrity record is damaged.", "", {}});
  cases.back().spoil.badRecordCrc = true;
  cases.push_back({"configuration", {}, "The configuration does not match the integrity record.", "", {}});
  cases.back().spoil.otherConfigCrc = true;
  cases.push_back({"data CRC", {}, "Entry does not match the integrity record.", "d/a.txt", dirOnly});
  cases.back().spoil.wrongCrcRow = 1;
  cases.push_back({"time", {}, "Entry does not match the integrity record.", "z.txt", {}});
  cases.back().spoil.wrongTimeRow = 2;
  cases.push_back({"entry not listed", {}, "Entry does not match the integrity record.", "empty", {}});
  cases.back().spoil.dropRow = 3;
  cases.push_back({"listed entry missing", {}, "Entry does not match the integrity record.", "ghost.txt", {}});
  cases.back().spoil.extraRow = true;
  for (const Variant& v : kVariants) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(v.name) + ": " + c.name);
      Writer w(v.scheme);
      Outcome o = run(w.payload(packedEntries(), c.spoil));
      EXPECT_FALSE(o.done);
      EXPECT_TRUE(o.damaged);
      EXPECT_TRUE(hasError(o, c.error));
      EXPECT_EQ(c.damagedName, o.damagedName);
      if (c.left.empty() && std::string(c.damagedName).empty()) {
        EXPECT_TRUE(o.tree.empty());  // failed before anything was extracted
      } else if (!c.left.empty()) {
        EXPECT_EQ(c.left, o.tree);
      } else {
        EXPECT_EQ(0u, o.tree.count(c.damagedName));
      }
    }
  }
}

// What the record leaves alone: a payload without it, and one of another
// version whose own CRC is right, extract as before.
TEST_P(IntegritySweepTest, NoRecordOrAnotherVersionIsNotChecked) {
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    Writer w(v.scheme);
    Spoil none;
    none.noRecord = true;
    Spoil later;
    later.version = 2;
    later.wrongCrcRow = 1;  // would fail if version 2 were read as 1
    for (const Spoil& s : {none, later}) {
      Outcome o = run(w.payload(packedEntries(), s));
      EXPECT_TRUE(o.done);
      EXPECT_FALSE(o.damaged);
      EXPECT_EQ(4u, o.tree.size());
    }
  }
}

// A file that exists before the run is replaced only by data that matches
// the record: damaged data leaves the old content, sound data replaces it,
// stored and deflated alike.
TEST_P(IntegritySweepTest, AnExistingFileIsReplacedOnlyBySoundData) {
  struct Case {
    const char* name;
    int wrongCrcRow;  // -1: the payload is sound
    const char* path;
  };
  const Case cases[] = {
      {"stored, damaged", 1, "d/a.txt"},
      {"deflated, damaged", 2, "z.txt"},
      {"stored, sound", -1, "d/a.txt"},
      {"deflated, sound", -1, "z.txt"},
  };
  for (const Variant& v : kVariants) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(v.name) + ": " + c.name);
      Writer w(v.scheme);
      Spoil s;
      s.wrongCrcRow = c.wrongCrcRow;
      Outcome o = run(w.payload(packedEntries(), s), {{c.path, "old content"}});
      auto it = o.tree.find(c.path);
      ASSERT_NE(o.tree.end(), it);
      std::string content = it->second.substr(0, it->second.rfind('@'));
      if (c.wrongCrcRow >= 0) {
        EXPECT_FALSE(o.done);
        EXPECT_TRUE(o.damaged);
        EXPECT_EQ(c.path, o.damagedName);
        EXPECT_EQ("old content", content);
      } else {
        EXPECT_TRUE(o.done);
        const Entry& e = packedEntries()[c.path[0] == 'd' ? 1 : 2];
        EXPECT_EQ(e.data, content);
      }
    }
  }
}

// After an entry whose data differs, the reader stands at the next entry:
// sfxpack goes on to report every damaged entry.
TEST_P(IntegritySweepTest, ADamagedFileLeavesTheReaderAtTheNextEntry) {
  Writer w(kPlain);
  Spoil s;
  s.wrongCrcRow = 1;
  Bytes payload = w.payload(packedEntries(), s);
  MemoryDataSource src;
  src.setData(payload.data(), static_cast<uint32_t>(payload.size()));
  SimpleArchive archive;
  archive.setDecoderThreads(GetParam());
  archive.setSource(&src);
  LogNull log;
  StringBuffer err;
  ASSERT_TRUE(archive.findMarker(log, nullptr));
  ASSERT_TRUE(archive.readHeader(err, log, nullptr));
  ASSERT_TRUE(archive.readArgs(log, nullptr));
  std::vector<std::string> seen;
  int failures = 0;
  for (int i = 0; i < 10; ++i) {
    bool end = true, isDir = false, skipped = false;
    StringBuffer path;
    bool ok = archive.extractSaToFile(true, &end, nullptr, path, &isDir,
                                      nullptr, &skipped, nullptr, log);
    if (!ok) {
      ++failures;
      ASSERT_TRUE(archive.lastEntryResumable());
      EXPECT_STREQ("crc", archive.damagedWhat());
      continue;
    }
    if (end) break;
    seen.push_back(path.getString());
  }
  EXPECT_EQ(1, failures);
  EXPECT_EQ((std::vector<std::string>{"d", "z.txt", "empty"}), seen);
}

INSTANTIATE_TEST_SUITE_P(
    DecoderCounts, IntegritySweepTest, ::testing::Values(1, 3),
    [](const ::testing::TestParamInfo<int>& info) {
      return "Decoders" + std::to_string(info.param);
    });

}  // namespace
}  // namespace sfx
