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

#include "archive/integrity_record.h"
#include "archive/simple_archive.h"
#include "codec/aes.h"
#include "codec/crc32.h"
#include "codec/kdf.h"
#include "codec/inflate_test_util.h"
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

void put(Bytes& b, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

enum Scheme { kPlain, kLegacy, kSalted };

// Writes payloads the way the format describes them, the integrity record
// as the last argument: plain, encrypted with the unsalted key and zero
// vectors, or with the salted key (a kdf argument before the record) and a
// vector for every piece.
class Writer {
 public:
  explicit Writer(Scheme scheme)
      : encrypted_(scheme != kPlain), salted_(scheme == kSalted) {
    kdf_.iterations = 1000;
    for (uint32_t i = 0; i < kKdfSaltSize; ++i)
      kdf_.salt[i] = static_cast<uint8_t>(0x30 + i);
    if (encrypted_) {
      cipher_.setKeyLength(128);
      DataBuffer key;
      deriveArchiveKey(kPassword, static_cast<uint32_t>(strlen(kPassword)),
                       salted_ ? &kdf_ : nullptr, 128, key);
      cipher_.setKey(key);
    }
  }

  Bytes seal(const Bytes& plain, uint32_t entry, uint32_t piece) {
    if (!encrypted_) return plain;
    if (salted_) setPieceIv(cipher_, kdf_, entry, piece);
    DataBuffer in, out;
    LogNull log;
    in.append(plain.data(), static_cast<uint32_t>(plain.size()));
    cipher_.encryptBuffer(in, out, log);
    return Bytes(out.getData(), out.getData() + out.getSize());
  }

  Bytes record(const std::vector<Entry>& entries, const Spoil& spoil) {
    Bytes r;
    put(r, static_cast<uint64_t>(spoil.version), 1);
    size_t rows = entries.size() - (spoil.dropRow >= 0) + spoil.extraRow;
    put(r, rows, 4);
    uint32_t configCrc = ZipCRC::oneShot(kConfig, strlen(kConfig));
    put(r, spoil.otherConfigCrc ? configCrc ^ 1 : configCrc, 4);
    std::vector<Entry> listed = entries;
    if (spoil.extraRow) listed.push_back({2, "ghost.txt", "boo"});
    for (size_t i = 0; i < listed.size(); ++i) {
      const Entry& e = listed[i];
      if (static_cast<int>(i) == spoil.dropRow) continue;
      put(r, e.type, 1);
      put(r, e.name.size(), 2);
      r.insert(r.end(), e.name.begin(), e.name.end());
      put(r, static_cast<int>(i) == spoil.wrongTimeRow ? kTime + 1 : kTime, 8);
      put(r, e.attributes, 4);
      bool file = e.type == 2;
      put(r, file ? e.data.size() : 0, 8);
      uint32_t crc = file ? ZipCRC::oneShot(e.data.data(), e.data.size()) : 0;
      put(r, static_cast<int>(i) == spoil.wrongCrcRow ? crc ^ 0x100 : crc, 4);
    }
    uint32_t own = ZipCRC::oneShot(r.data(), r.size());
    put(r, spoil.badRecordCrc ? own ^ 1 : own, 4);
    return seal(r, kPieceNoEntry, kPieceIntegrity);
  }

  Bytes payload(const std::vector<Entry>& entries, const Spoil& spoil = {}) {
    Bytes b;
    put(b, payloadMarkerWord(0), 4);
    put(b, payloadMarkerWord(1), 4);
    put(b, 1, 4);
    put(b, encrypted_ ? 1 : 0, 1);
    put(b, 0, 1);  // 128-bit key
    arg(b, "xmlConfig", Bytes(kConfig, kConfig + strlen(kConfig)));
    arg(b, "name", Bytes{'o', 'k'});
    if (salted_) {
      StringBuffer text;
      formatKdfArg(kdf_, text);
      arg(b, kKdfArg, Bytes(text.getString(), text.getString() + text.getSize()));
    }
    if (!spoil.noRecord) arg(b, kIntegrityArg, record(entries, spoil));
    put(b, 0, 2);
    if (encrypted_) {
      Bytes v = seal(Bytes{'q', 'm', 'z', 'v'}, kPieceNoEntry, kPieceVerifier);
      put(b, v.size(), 1);
      b.insert(b.end(), v.begin(), v.end());
    }
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
      if (e.type != 2) continue;
      if (!e.data.empty()) {
        Bytes body(e.data.begin(), e.data.end());
        if (e.deflated) {
          inflate_test::BitWriter w;
          auto block = inflate_test::BlockWriter::fixed(w, true);
          block.literals(e.data);
          block.end();
          body = w.bytes();
        }
        Bytes s = seal(body, entry, chunkPiece(0));
        put(b, (e.deflated ? 0 : 0x80000000u) | s.size(), 4);
        b.insert(b.end(), s.begin(), s.end());
      }
      put(b, 0, 4);
    }
    put(b, kEntryMarker, 4);
    put(b, 0, 1);
    return b;
  }

 private:
  static void arg(Bytes& b, const std::string& name, const Bytes& value) {
    put(b, name.size(), 2);
    b.insert(b.end(), name.begin(), name.end());
    put(b, value.size(), 2);
    b.insert(b.end(), value.begin(), value.end());
  }

  bool encrypted_;
  bool salted_;
  KdfSettings kdf_;
  AesCipher cipher_;
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

class ErrorLog : public LogBase {
 public:
  bool logError(const char* text) override {
    errors.push_back(text);
    return true;
  }
  std::vector<std::string> errors;
};

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

// A parameterised test's name ("Name/Decoders3") as one folder name.
std::string safeName(std::string name) {
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

// Each sweep runs with the entry's thread decoding alone and with three
// decoders.
class IntegritySweepTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("sfx_integrity_" +
             safeName(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    out_ = root_ / "out";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Extracts `payload` for real into a fresh folder, as the stub does,
  // stopping at the first failed entry.
  // `before` holds files (path to content) that exist before the run.
  Outcome run(const Bytes& payload,
              const std::map<std::string, std::string>& before = {}) {
    std::error_code ec;
    fs::remove_all(root_, ec);
    fs::create_directories(out_);
    for (const auto& [rel, content] : before) {
      fs::create_directories((out_ / rel).parent_path());
      std::ofstream(out_ / rel, std::ios::binary) << content;
    }
    XString base;
    base.setFromUtf8(out_.string().c_str());
    MemoryDataSource src;
    src.setData(payload.data(), static_cast<uint32_t>(payload.size()));
    SimpleArchive archive;
    archive.setDecoderThreads(GetParam());
    archive.setSource(&src);
    ErrorLog log;
    Outcome o;
    StringBuffer err;
    o.hasReason = true;  // the marker and password steps are the stub's
    bool ready = archive.findMarker(log, nullptr);
    if (ready && !archive.readHeader(err, log, nullptr)) {
      o.hasReason = err.getSize() > 0;
      ready = false;
    }
    if (ready && !archive.readArgs(log, nullptr)) {
      o.hasReason = !log.errors.empty();
      ready = false;
    }
    if (ready && archive.isEncrypted()) {
      archive.setPassword(kPassword);
      DataBuffer cache;
      ready = archive.checkPassword(log, cache);
    }
    ExtPtrArray undo;
    undo.setOwnsObjects(true);
    for (size_t n = 0; ready && n <= payload.size(); ++n) {
      bool end = true, isDir = false, skipped = false;
      StringBuffer path;
      if (!archive.extractSaToFile(false, &end, &base, path, &isDir, &undo,
                                   &skipped, nullptr, log)) {
        o.hasReason = !log.errors.empty();
        break;
      }
      if (end) {
        o.done = true;
        break;
      }
    }
    o.damaged = archive.integrityDamaged();
    o.damagedName = archive.damagedName().getString();
    o.errors = log.errors;
    collect(o);
    return o;
  }

  void collect(Outcome& o) {
    for (auto& e : fs::recursive_directory_iterator(out_)) {
      std::string rel = fs::relative(e.path(), out_).generic_string();
      if (e.is_directory()) {
        o.tree[rel + "/"] = "";
        continue;
      }
      std::ifstream in(e.path(), std::ios::binary);
      auto mtime = fs::last_write_time(e.path()).time_since_epoch().count();
      o.tree[rel] = std::string(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()) +
                    "@" + std::to_string(mtime);
    }
    for (auto& e : fs::directory_iterator(root_)) {
      EXPECT_EQ(out_, e.path()) << "written outside the unzip folder";
    }
  }

  fs::path root_, out_;
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
