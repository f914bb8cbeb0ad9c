// Entry extraction on real files in a temporary directory, from payloads
// built byte by byte; compressed chunks come from the test bit writer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "archive/simple_archive.h"
#include "codec/aes.h"
#include "codec/inflate_test_util.h"
#include "fs/file.h"
#include "fs/file_time.h"
#include "fs/tz_for_test.h"
#include "log/logger.h"
#include "os/os.h"
#include "stream/data_source.h"
#include "text/data_buffer.h"
#include "text/ext_ptr_array.h"
#include "text/xstring.h"

namespace sfx {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kTime2020 = 132223104000000000ULL;  // 2020-01-01, local

void put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}
void put64(Bytes& b, uint64_t v) {
  put32(b, static_cast<uint32_t>(v));
  put32(b, static_cast<uint32_t>(v >> 32));
}
void putBytes(Bytes& b, const Bytes& v) {
  b.insert(b.end(), v.begin(), v.end());
}
Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// One compressed chunk: a fixed block with the literals of `text`.
Bytes deflateLiterals(const std::string& text) {
  inflate_test::BitWriter w;
  auto block = inflate_test::BlockWriter::fixed(w, true);
  block.literals(text);
  block.end();
  return w.bytes();
}

// Builds a payload: header (plain or encrypted with `password`), an empty
// argument block, the verifier, then entries.
class PayloadBuilder {
 public:
  explicit PayloadBuilder(const std::string& password = "")
      : password_(password) {
    put32(b_, payloadMarkerWord(0));
    put32(b_, payloadMarkerWord(1));
    put32(b_, 1);
    b_.push_back(password.empty() ? 0 : 1);
    b_.push_back(2);  // 256-bit key
    put16(b_, 0);     // no arguments
    if (!password.empty()) {
      cipher_.setKeyLength(256);
      StringBuffer pw(password.c_str());
      DataBuffer key;
      AesCipher::deriveKey(pw, 256, key);
      cipher_.setKey(key);
      Bytes v = seal(bytesOf("qmzv"));
      b_.push_back(static_cast<uint8_t>(v.size()));
      putBytes(b_, v);
    }
  }
  Bytes seal(const Bytes& plain) {
    if (password_.empty()) return plain;
    DataBuffer in, out;
    LogNull log;
    in.append(plain.data(), static_cast<uint32_t>(plain.size()));
    cipher_.encryptBuffer(in, out, log);
    return Bytes(out.getData(), out.getData() + out.getSize());
  }
  PayloadBuilder& head(uint8_t type, const std::string& name,
                       uint32_t attributes = 0x20) {
    put32(b_, kEntryMarker);
    b_.push_back(type);
    Bytes n = seal(bytesOf(name));
    put16(b_, static_cast<uint32_t>(n.size()));
    putBytes(b_, n);
    put64(b_, time_);
    put32(b_, attributes);
    return *this;
  }
  // The stored (local) time of the entries that follow.
  PayloadBuilder& at(uint64_t localFileTime) {
    time_ = localFileTime;
    return *this;
  }
  PayloadBuilder& dir(const std::string& name) { return head(1, name, 0x10); }
  PayloadBuilder& stored(const Bytes& data) {
    Bytes s = seal(data);
    put32(b_, 0x80000000u | static_cast<uint32_t>(s.size()));
    putBytes(b_, s);
    return *this;
  }
  PayloadBuilder& compressed(const Bytes& deflated) {
    Bytes s = seal(deflated);
    put32(b_, static_cast<uint32_t>(s.size()));
    putBytes(b_, s);
    return *this;
  }
  PayloadBuilder& rawWord(uint32_t w) {
    put32(b_, w);
    return *this;
  }
  PayloadBuilder& endFile() { return rawWord(0); }
  PayloadBuilder& file(const std::string& name, const std::string& text) {
    return head(2, name).stored(bytesOf(text)).endFile();
  }
  PayloadBuilder& end() {
    put32(b_, kEntryMarker);
    b_.push_back(0);
    return *this;
  }
  Bytes& bytes() { return b_; }

 private:
  Bytes b_;
  std::string password_;
  AesCipher cipher_;
  uint64_t time_ = kTime2020;
};

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder no one else uses, even a concurrent run of the same test: a
    // random suffix drawn again until the folder is new.
    std::string name =
        std::string("sfx_extract_") +
        ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_";
    std::random_device random;
    uint64_t salt = static_cast<uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (int tries = 0;; ++tries) {
      root_ = fs::temp_directory_path() /
              (name + std::to_string((random() ^ salt) % 100000000u) + "-" +
               std::to_string(tries));
      std::error_code ec;
      if (fs::create_directory(root_, ec)) break;
      if (tries == 100) {
        root_.clear();  // not ours: TearDown must leave it alone
        FAIL() << "no fresh folder for " << name;
      }
    }
    out_ = root_ / "out";
    fs::create_directories(out_);
    base_.setFromUtf8(out_.string().c_str());
    undo_.setOwnsObjects(true);
  }
  void TearDown() override {
    if (root_.empty()) return;
    std::error_code ec;
    fs::permissions(root_, fs::perms::all, ec);
    fs::remove_all(root_, ec);
  }

  // Extracts every entry; returns whether all succeeded and collects paths.
  bool extractAll(PayloadBuilder& p, bool dryRun = false,
                  const char* password = "") {
    payload_ = p.bytes();
    src_.setData(payload_.data(), static_cast<uint32_t>(payload_.size()));
    archive_.setSource(&src_);
    StringBuffer err;
    if (!archive_.findMarker(log_, nullptr) ||
        !archive_.readHeader(err, log_, nullptr) ||
        !archive_.readArgs(log_, nullptr)) {
      return false;
    }
    if (archive_.isEncrypted()) {
      archive_.setPassword(password);
      DataBuffer cache;
      if (!archive_.checkPassword(log_, cache)) return false;
    }
    paths_.clear();
    for (;;) {
      bool end = true, isDir = false, skipped = false;
      StringBuffer path;
      if (!archive_.extractSaToFile(dryRun, &end, &base_, path, &isDir, &undo_,
                                    &skipped, nullptr, log_)) {
        return false;
      }
      if (end) return true;
      if (path.getSize() == 0) continue;  // an entry of another type
      paths_.push_back(std::string(path.getString()) + (isDir ? "/" : "") +
                       (skipped ? " (skipped)" : ""));
    }
  }

  std::string read(const std::string& rel) {
    std::ifstream in(out_ / fs::u8path(rel), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)),
                       std::istreambuf_iterator<char>());
  }
  std::string logText() {
    StringBuffer t;
    log_.getLogText(t);
    return t.getString();
  }
  // Everything under root_ that is outside out_.
  std::vector<std::string> outside() {
    std::vector<std::string> found;
    for (auto& e : fs::recursive_directory_iterator(root_)) {
      std::string p = e.path().string();
      if (p.rfind(out_.string(), 0) != 0) found.push_back(p);
    }
    return found;
  }

  fs::path root_, out_;
  XString base_;
  Bytes payload_;
  MemoryDataSource src_;
  SimpleArchive archive_;
  Logger log_;
  ExtPtrArray undo_;
  std::vector<std::string> paths_;
};

TEST_F(ExtractTest, DirectoriesFilesAndTheEnd) {
  PayloadBuilder p;
  p.dir("d").dir("d/e").file("d/a.txt", "alpha").file("empty", "");
  p.head(2, "two")
      .compressed(deflateLiterals("first,"))
      .compressed(deflateLiterals("second"))
      .endFile();
  p.head(2, "mixed")
      .stored(bytesOf("s"))
      .compressed(deflateLiterals("c"))
      .endFile();
  p.head(7, "ignored/name");
  p.file("after7", "x").end();
  p.bytes().push_back(0xEE);  // never read
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_EQ("alpha", read("d/a.txt"));
  EXPECT_EQ("", read("empty"));
  EXPECT_TRUE(fs::is_regular_file(out_ / "empty"));
  EXPECT_EQ("first,second", read("two"));
  EXPECT_EQ("sc", read("mixed"));
  EXPECT_EQ("x", read("after7"));
  EXPECT_TRUE(fs::is_directory(out_ / "d" / "e"));
  EXPECT_FALSE(fs::exists(out_ / "ignored"));
  EXPECT_EQ(7u, paths_.size());  // the type-7 entry has no path
  EXPECT_EQ(static_cast<int64_t>(payload_.size()) - 1, src_.getPosition());
  EXPECT_NE(std::string::npos, logText().find("Found end of archive."));
}

TEST_F(ExtractTest, DryRunCreatesNothingButReadsEverything) {
  PayloadBuilder p;
  p.dir("d").file("d/a.txt", "alpha");
  p.head(2, "z").compressed(deflateLiterals("zz")).endFile().end();
  ASSERT_TRUE(extractAll(p, /*dryRun=*/true)) << logText();
  EXPECT_TRUE(fs::is_empty(out_));
  ASSERT_EQ(3u, paths_.size());
  EXPECT_EQ("d/", paths_[0].substr(paths_[0].size() - 2));
  EXPECT_EQ(static_cast<int64_t>(payload_.size()), src_.getPosition());
}

TEST_F(ExtractTest, TimesAreWholeSecondsOfTheStoredTime) {
  // In a zone one hour east of UTC with summer time, a stored time lands on
  // its UTC second when it lies in the period of the clock's date and one
  // hour off (the offset difference) when it lies in the other one.
  ScopedTimeZone zone(kCentralEuropeTz);
  time_t nowT = time(nullptr);
  struct tm local;
#ifdef _WIN32
  localtime_s(&local, &nowT);
#else
  localtime_r(&nowT, &local);
#endif
  const int64_t summerNow = local.tm_isdst > 0 ? 1 : 0;
  // 2020-01-15 and 2020-07-15 12:00:00, local, with 0.1234567 s more.
  constexpr uint64_t kFraction = 1234567;
  struct Case {
    const char* name;
    uint64_t stored;
    int64_t shift;  // seconds subtracted from the UTC time
  };
  const Case kCases[] = {
      {"january.txt", 132235632000000000ULL + kFraction, summerNow * 3600},
      {"july.txt", 132392880000000000ULL + kFraction, (summerNow - 1) * 3600},
  };
  PayloadBuilder p;
  for (const Case& c : kCases) p.at(c.stored).file(c.name, "t");
  p.end();
  ASSERT_TRUE(extractAll(p)) << logText();
  for (const Case& c : kCases) {
    XString path;
    path.setFromUtf8((out_ / c.name).string().c_str());
    MarlithHandle h;
    int kind = 0;
    ASSERT_TRUE(openForReadWin32(path, h, &kind, nullptr)) << c.name;
    uint64_t written = 0;
    ASSERT_TRUE(h.getLastWriteTime(&written, nullptr)) << c.name;
    uint64_t utc = 0;
    ASSERT_TRUE(localFileTimeToUtc(c.stored, &utc));
    int64_t expected = FileTime::fromFileTime(utc).seconds() - c.shift;
    EXPECT_EQ(0u, written % 10000000) << c.name;
    EXPECT_EQ(expected, FileTime::fromFileTime(written).seconds()) << c.name;
  }
}

TEST_F(ExtractTest, ChunkSizeLimits) {
  {
    PayloadBuilder p;
    p.head(2, "big").stored(Bytes(2048575, 'b')).endFile().end();
    ASSERT_TRUE(extractAll(p)) << logText();
    EXPECT_EQ(2048575u, fs::file_size(out_ / "big"));
  }
  PayloadBuilder p;
  p.head(2, "toobig").rawWord(0x80000000u | 2048576u);
  EXPECT_FALSE(extractAll(p));
  EXPECT_NE(std::string::npos, logText().find("Too much data."));
}

TEST_F(ExtractTest, StoredSizeWordCarriesTheStoredBit) {
  PayloadBuilder p;
  p.head(2, "s16").rawWord(0x80000010u);
  putBytes(p.bytes(), bytesOf("0123456789abcdef"));
  p.endFile().end();
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_EQ("0123456789abcdef", read("s16"));
}

TEST_F(ExtractTest, LockedThumbsDbIsSkippedAndTheNextEntryExtracts) {
  fs::create_directories(out_ / "Thumbs.db");  // cannot be opened for writing
  fs::create_directories(out_ / "other.db");
  PayloadBuilder p;
  p.file("Thumbs.db", "thumbnail data").file("next.txt", "next").end();
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_NE(std::string::npos, paths_[0].find(" (skipped)"));
  EXPECT_EQ("next", read("next.txt"));

  PayloadBuilder q;
  q.file("other.db", "data").end();
  EXPECT_FALSE(extractAll(q));
  EXPECT_NE(std::string::npos, logText().find("Failed to open file."));
}

TEST_F(ExtractTest, FailuresAreReportedAndStopTheEntry) {
  struct Case {
    const char* what;
    std::function<void(PayloadBuilder&)> build;
    const char* message;
  } cases[] = {
      {"no marker", [](PayloadBuilder& p) { put32(p.bytes(), 0x12345678); },
       "File marker is invalid."},
      {"cut marker", [](PayloadBuilder& p) { put16(p.bytes(), 0xE59B); },
       "Failed to find file marker"},
      {"no type", [](PayloadBuilder& p) { put32(p.bytes(), kEntryMarker); },
       "Failed to get entry type."},
      {"cut name",
       [](PayloadBuilder& p) {
         put32(p.bytes(), kEntryMarker);
         p.bytes().push_back(2);
         put16(p.bytes(), 10);
         p.bytes().push_back('a');
       },
       "Failed to get filename"},
      {"cut time",
       [](PayloadBuilder& p) {
         p.head(2, "n");
         p.bytes().resize(p.bytes().size() - 10);
       },
       "Failed to get filetime"},
      {"cut attributes",
       [](PayloadBuilder& p) {
         p.head(2, "n");
         p.bytes().resize(p.bytes().size() - 2);
       },
       "Failed to get file attributes"},
      {"cut size word",
       [](PayloadBuilder& p) { p.head(2, "n").bytes().push_back(1); },
       "Failed to read compressed size."},
      {"cut chunk",
       [](PayloadBuilder& p) {
         p.head(2, "n").rawWord(0x80000005u).bytes().push_back('x');
       },
       "Failed to read compressed data."},
      {"bad deflate",
       [](PayloadBuilder& p) {
         p.head(2, "n").compressed({0xFF, 0xFF}).endFile().end();
       },
       "Failed to inflate compressed data."},
      {"cut deflate",
       [](PayloadBuilder& p) {
         Bytes d = deflateLiterals("some text that is cut");
         d.resize(d.size() / 2);
         p.head(2, "n").compressed(d).endFile().end();
       },
       "Failed to inflate compressed data."},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    log_.clearLog();
    PayloadBuilder p;
    c.build(p);
    EXPECT_FALSE(extractAll(p)) << c.what;
    EXPECT_NE(std::string::npos, logText().find(c.message)) << c.what << "\n"
                                                            << logText();
  }
}

TEST_F(ExtractTest, HostileNamesNeverLeaveTheUnzipDirectory) {
  const char* names[] = {
      "..\\x", "a/../../x", "safe/..\\..\\x", "\\x",           "/x",
      "C:\\x", "C:x",       "C:..\\x",        "\\\\srv\\s\\x", "\\\\?\\C:\\x",
      "//?/x", "..",        "a/.../x",        "a/.. /x",       ""};
  for (const char* name : names) {
    TearDown();
    SetUp();
    log_.clearLog();
    PayloadBuilder p;
    p.file(name, "evil").end();
    EXPECT_FALSE(extractAll(p)) << name;
    EXPECT_NE(std::string::npos,
              logText().find("Unsafe path in archive entry."))
        << name;
    EXPECT_TRUE(outside().empty()) << name;
    EXPECT_TRUE(fs::is_empty(out_)) << name;
  }
  // Names that are safe once repaired stay inside.
  PayloadBuilder p;
  p.file("a.txt:evil.exe", "ads")
      .file("CON", "con")
      .file("nul.txt", "nul")
      .file("COM1.txt", "com")
      .file("dots..name", "ok")
      .end();
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_EQ("ads", read("a.txt_evil.exe"));
  EXPECT_EQ("con", read("_CON"));
  EXPECT_EQ("nul", read("_nul.txt"));
  EXPECT_EQ("com", read("_COM1.txt"));
  EXPECT_EQ("ok", read("dots..name"));
  EXPECT_TRUE(outside().empty());
}

#ifndef _WIN32
// The caller's base directory is used as given, whatever its name holds;
// only the names from the payload are repaired.
TEST_F(ExtractTest, BaseDirectoryIsTakenAsGiven) {
  fs::remove(out_);
  out_ = root_ / "a:b?c*d|e<f>g\"h";
  fs::create_directories(out_);
  base_.setFromUtf8(out_.string().c_str());
  PayloadBuilder p;
  p.file("sub\\CON", "con").file("x?y", "q").end();
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_EQ("con", read("sub/_CON"));
  EXPECT_EQ("q", read("x_y"));
  EXPECT_TRUE(outside().empty());
}
#endif

TEST_F(ExtractTest, EncryptedPayload) {
  PayloadBuilder p("secret");
  p.dir("sub").file("sub/clear.txt", "stored text");
  p.head(2, "sub/z.txt")
      .compressed(deflateLiterals("deflated text"))
      .endFile()
      .end();
  ASSERT_TRUE(extractAll(p, false, "secret")) << logText();
  EXPECT_EQ("stored text", read("sub/clear.txt"));
  EXPECT_EQ("deflated text", read("sub/z.txt"));
}

TEST_F(ExtractTest, ExpandingChunkStreamsToTheFile) {
  // 64 KB of output from a few dozen bytes: matches of 258 at distance 1.
  inflate_test::BitWriter w;
  auto block = inflate_test::BlockWriter::fixed(w, true);
  block.literal('z');
  for (int i = 0; i < 254; ++i) block.match(258, 1);
  block.end();
  PayloadBuilder p;
  p.head(2, "zeros").compressed(w.bytes()).endFile().end();
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_EQ(1u + 254u * 258u, fs::file_size(out_ / "zeros"));
  EXPECT_EQ(std::string(1 + 254 * 258, 'z'), read("zeros"));
}

TEST_F(ExtractTest, UndoListRecordsCreatedDirectories) {
  PayloadBuilder p;
  p.file("x/y/f.txt", "f").end();
  ASSERT_TRUE(extractAll(p)) << logText();
  ASSERT_EQ(2, undo_.getSize());
}

}  // namespace
}  // namespace sfx
