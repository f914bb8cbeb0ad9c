// Entry extraction on real files in a temporary directory, from payloads
// built byte by byte; compressed chunks come from the test bit writer.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive/simple_archive.h"
#include "archive/archive_test_support.h"
#include "codec/aes.h"
#include "codec/inflate_test_util.h"
#include "fs/file.h"
#include "fs/file_time.h"
#include "fs/tz_for_test.h"
#include "log/logger.h"
#include "os/os.h"
#include "stream/data_source.h"
#include "stream/progress_monitor.h"
#include "text/data_buffer.h"
#include "text/ext_ptr_array.h"
#include "text/xstring.h"

namespace sfx {
namespace {

namespace fs = std::filesystem;
using archive_test::Bytes;
using archive_test::bytesOf;
using archive_test::deflateLiterals;
using archive_test::put16;
using archive_test::put32;
using archive_test::put64;
using archive_test::putBytes;

constexpr uint64_t kTime2020 = 132223104000000000ULL;  // 2020-01-01, local

// Builds a payload: header (plain or encrypted with `password`), an empty
// argument block, the verifier, then entries.
class PayloadBuilder {
 public:
  explicit PayloadBuilder(const std::string& password = "")
      : sealer_(password.empty() ? archive_test::Scheme::kPlain
                                 : archive_test::Scheme::kLegacy,
                password, 256),
        b_(archive_test::markerAndHeader(password.empty() ? 0 : 1,
                                         2)) {  // 256-bit key
    put16(b_, 0);  // no arguments
    if (!password.empty()) putBytes(b_, sealer_.verifierBlock());
  }
  // The unsalted scheme: every piece's vector is zero.
  Bytes seal(const Bytes& plain) { return sealer_.seal(plain, 0, 0); }
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
  archive_test::PieceSealer sealer_;
  Bytes b_;
  uint64_t time_ = kTime2020;
};

// The fixture of every extraction test: a fresh folder and an archive that
// decodes with decoders_ threads (1: the entry's thread alone).
class ExtractFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder no one else uses, even a concurrent run of the same test.
    root_ = archive_test::freshTestFolder("sfx_extract_");
    if (root_.empty()) FAIL() << "no fresh folder for the test";
    out_ = root_ / "out";
    fs::create_directories(out_);
    base_.setFromUtf8(out_.string().c_str());
    undo_.setOwnsObjects(true);
    archive_.setDecoderThreads(decoders_);
  }
  void TearDown() override {
    if (root_.empty()) return;
    std::error_code ec;
    fs::permissions(root_, fs::perms::all, ec);
    fs::remove_all(root_, ec);
  }

  // Extracts every entry; returns whether all succeeded and collects paths.
  bool extractAll(PayloadBuilder& p, bool dryRun = false,
                  const char* password = "", ProgressMonitor* pm = nullptr) {
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
                                    &skipped, pm, log_)) {
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

  int decoders_ = 1;
  fs::path root_, out_;
  XString base_;
  Bytes payload_;
  MemoryDataSource src_;
  SimpleArchive archive_;
  Logger log_;
  ExtPtrArray undo_;
  std::vector<std::string> paths_;
};

// Every extraction test runs with the entry's thread decoding alone and
// with three decoders: files, messages and failures are the same.
class ExtractTest : public ExtractFixture,
                    public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    decoders_ = GetParam();
    ExtractFixture::SetUp();
  }
};

std::string decoderName(const ::testing::TestParamInfo<int>& info) {
  return "Decoders" + std::to_string(info.param);
}

INSTANTIATE_TEST_SUITE_P(DecoderCounts, ExtractTest, ::testing::Values(1, 3),
                         decoderName);

TEST_P(ExtractTest, DirectoriesFilesAndTheEnd) {
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

TEST_P(ExtractTest, DryRunCreatesNothingButReadsEverything) {
  PayloadBuilder p;
  p.dir("d").file("d/a.txt", "alpha");
  p.head(2, "z").compressed(deflateLiterals("zz")).endFile().end();
  ASSERT_TRUE(extractAll(p, /*dryRun=*/true)) << logText();
  EXPECT_TRUE(fs::is_empty(out_));
  ASSERT_EQ(3u, paths_.size());
  EXPECT_EQ("d/", paths_[0].substr(paths_[0].size() - 2));
  EXPECT_EQ(static_cast<int64_t>(payload_.size()), src_.getPosition());
}

TEST_P(ExtractTest, TimesAreWholeSecondsOfTheStoredTime) {
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

TEST_P(ExtractTest, ChunkSizeLimits) {
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

TEST_P(ExtractTest, StoredSizeWordCarriesTheStoredBit) {
  PayloadBuilder p;
  p.head(2, "s16").rawWord(0x80000010u);
  putBytes(p.bytes(), bytesOf("0123456789abcdef"));
  p.endFile().end();
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_EQ("0123456789abcdef", read("s16"));
}

TEST_P(ExtractTest, LockedThumbsDbIsSkippedAndTheNextEntryExtracts) {
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

TEST_P(ExtractTest, FailuresAreReportedAndStopTheEntry) {
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

TEST_P(ExtractTest, HostileNamesNeverLeaveTheUnzipDirectory) {
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
TEST_P(ExtractTest, BaseDirectoryIsTakenAsGiven) {
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

TEST_P(ExtractTest, EncryptedPayload) {
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

TEST_P(ExtractTest, ExpandingChunkStreamsToTheFile) {
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

TEST_P(ExtractTest, UndoListRecordsCreatedDirectories) {
  PayloadBuilder p;
  p.file("x/y/f.txt", "f").end();
  ASSERT_TRUE(extractAll(p)) << logText();
  ASSERT_EQ(2, undo_.getSize());
}


// ---- Decoding on threads ----------------------------------------------------

// `n` bytes of text that differ from chunk to chunk (letters, so that the
// literals of a fixed block carry them).
std::string chunkText(int chunk, size_t n) {
  std::string t(n, 'a');
  uint32_t seed = 2654435761u * static_cast<uint32_t>(chunk + 1);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    t[i] = static_cast<char>('a' + (seed >> 16) % 26);
  }
  return t;
}

// A deflated chunk of `text` whose stream breaks after it: a length code
// followed by distance symbol 30, which no stream may use. The streaming
// decoder writes what fills its window before it meets the break.
Bytes deflateThenBreak(const std::string& text) {
  inflate_test::BitWriter w;
  auto block = inflate_test::BlockWriter::fixed(w, true);
  block.literals(text);
  block.symbol(257);
  block.distanceSymbol(30);
  block.end();
  return w.bytes();
}

// A chunk of `count` bytes 'z' from a dynamic block whose
// match of 258 at distance 1 takes two bits: about 1000:1.
Bytes deflateRunOf(uint32_t count) {
  std::vector<uint8_t> lit(286, 0);
  lit['z'] = 2;
  lit[256] = 2;
  lit[285] = 1;
  std::vector<uint8_t> dist(1, 1);
  inflate_test::BitWriter w;
  auto block = inflate_test::BlockWriter::dynamic(w, true, lit, dist);
  block.literal('z');
  uint32_t left = count - 1;
  for (; left >= 258; left -= 258) block.match(258, 1);
  while (left--) block.literal('z');
  block.end();
  return w.bytes();
}

const int kChunks = 9;
const size_t kChunkText = 50000;

// What one extraction left: its result, log, files and undo records.
struct RunResult {
  bool ok = false;
  std::string log;
  std::map<std::string, std::string> files;
  int undo = 0;
  int64_t position = 0;
};

// Runs one payload with 1 and with 3 decoders into separate folders.
class PipelineTest : public ExtractFixture {
 protected:
  RunResult runWith(int decoders, PayloadBuilder& p, const char* password = "",
                    ProgressMonitor* pm = nullptr) {
    out_ = root_ / ("out" + std::to_string(decoders));
    fs::create_directories(out_);
    base_.setFromUtf8(out_.string().c_str());
    archive_.setDecoderThreads(decoders);
    log_.clearLog();
    undo_.removeAllObjects();
    RunResult r;
    r.ok = extractAll(p, false, password, pm);
    EXPECT_EQ(static_cast<uint32_t>(decoders), archive_.decoderCount());
    r.log = logText();
    r.undo = undo_.getSize();
    r.position = src_.getPosition();
    for (auto& e : fs::recursive_directory_iterator(out_)) {
      if (e.is_regular_file()) {
        r.files[fs::relative(e.path(), out_).generic_string()] =
            read(fs::relative(e.path(), out_).generic_string());
      }
    }
    return r;
  }
  // Both runs, which must agree in every respect; returns the first.
  RunResult runBoth(PayloadBuilder& p, const char* password = "") {
    RunResult one = runWith(1, p, password);
    RunResult three = runWith(3, p, password);
    EXPECT_EQ(one.ok, three.ok);
    EXPECT_EQ(one.log, three.log);
    EXPECT_EQ(one.undo, three.undo);
    EXPECT_EQ(one.position, three.position);
    EXPECT_TRUE(one.files == three.files) << "the files differ";
    return one;
  }
};

// Nine deflated chunks of "f/big", the one at `bad` (1-based) replaced by
// `badChunk` unless empty, then a second file.
void nineChunks(PayloadBuilder& p, int bad, const Bytes& badChunk) {
  p.head(2, "f/big");
  for (int i = 1; i <= kChunks; ++i) {
    if (i == bad && !badChunk.empty()) {
      p.compressed(badChunk);
    } else {
      p.compressed(deflateLiterals(chunkText(i, kChunkText)));
    }
  }
  p.endFile().file("f/after", "after").end();
}

std::string nineChunkText(int upTo) {
  std::string t;
  for (int i = 1; i <= upTo; ++i) t += chunkText(i, kChunkText);
  return t;
}

TEST_F(PipelineTest, IntactChunksGiveTheSameFiles) {
  for (const char* password : {"", "pw"}) {
    SCOPED_TRACE(*password ? "encrypted" : "plain");
    PayloadBuilder p(password);
    nineChunks(p, 0, {});
    RunResult r = runBoth(p, password);
    EXPECT_TRUE(r.ok) << r.log;
    EXPECT_EQ(nineChunkText(kChunks), r.files["f/big"]);
    EXPECT_EQ("after", r.files["f/after"]);
  }
}

// A chunk that fails late (the 7th of 9) fails the same way with one
// decoder and with three: the same messages, the same files on disk (the
// failed file is deleted again, whatever of it was written), the same
// undo records and the same position in the payload.
TEST_F(PipelineTest, LateFailuresAreTheSameWithOneAndThreeDecoders) {
  Bytes broken = deflateThenBreak(chunkText(7, kChunkText));
  struct Case {
    const char* what;
    const char* password;
    std::function<void(PayloadBuilder&)> build;
    const char* message;
    size_t atLeast, atMost;  // bytes of f/big written
  } cases[] = {
      {"corrupt chunk 7 of 9", "",
       [&](PayloadBuilder& p) { nineChunks(p, 7, broken); },
       "Failed to inflate compressed data.", 6 * kChunkText + 1,
       7 * kChunkText - 1},
      {"corrupt encrypted chunk 7 of 9", "pw",
       [&](PayloadBuilder& p) { nineChunks(p, 7, broken); },
       "Failed to inflate compressed data.", 6 * kChunkText + 1,
       7 * kChunkText - 1},
      {"damaged ciphertext in chunk 7 of 9", "pw",
       [&](PayloadBuilder& p) {
         p.head(2, "f/big");
         for (int i = 1; i <= kChunks; ++i) {
           p.compressed(deflateLiterals(chunkText(i, kChunkText)));
           // The last cipher block of chunk 7 decrypts to garbage, its
           // padding byte too, so the stream loses its end.
           if (i == 7) p.bytes().back() ^= 0x5A;
         }
         p.endFile().end();
       },
       "Failed to inflate compressed data.", 6 * kChunkText,
       7 * kChunkText - 1},
      {"payload cut in chunk 8", "",
       [&](PayloadBuilder& p) {
         p.head(2, "f/big");
         for (int i = 1; i <= 8; ++i)
           p.compressed(deflateLiterals(chunkText(i, kChunkText)));
         p.bytes().resize(p.bytes().size() - 1000);
       },
       "Failed to read compressed data.", 7 * kChunkText, 7 * kChunkText},
      {"chunk 8 too large", "",
       [&](PayloadBuilder& p) {
         p.head(2, "f/big");
         for (int i = 1; i <= 7; ++i)
           p.compressed(deflateLiterals(chunkText(i, kChunkText)));
         p.rawWord(2048576u);
       },
       "Too much data.", 7 * kChunkText, 7 * kChunkText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    PayloadBuilder p(c.password);
    c.build(p);
    RunResult r = runBoth(p, c.password);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(std::string::npos, r.log.find(c.message)) << r.log;
    (void)c.atLeast;
    (void)c.atMost;
    EXPECT_EQ(0u, r.files.count("f/big")) << "a half-written file stayed";
    EXPECT_TRUE(r.files.empty());
    EXPECT_EQ(1, r.undo);  // the folder f
  }
}

#ifndef _WIN32
// A write that fails in the middle of the file (the file size limit of
// the process) fails alike, with the same bytes on disk.
TEST_F(PipelineTest, AWriteFailureIsTheSameWithOneAndThreeDecoders) {
  PayloadBuilder p;
  nineChunks(p, 0, {});
  struct rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 4 * kChunkText + 1234;
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
  RunResult r = runBoth(p);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(std::string::npos, r.log.find("Failed to write file data."))
      << r.log;
  EXPECT_EQ(0u, r.files.count("f/big")) << "a half-written file stayed";
}

// A file that existed before the run keeps its content when its entry
// fails, however it fails; a file the run created for it is gone.
TEST_F(PipelineTest, AFailedEntryKeepsAnExistingFileAndLeavesNoNewOne) {
  Bytes broken = deflateThenBreak(chunkText(7, kChunkText));
  struct Case {
    const char* what;
    std::function<void(PayloadBuilder&)> build;
    bool limitSize;
  } cases[] = {
      {"corrupt chunk", [&](PayloadBuilder& p) { nineChunks(p, 7, broken); },
       false},
      {"cut payload",
       [&](PayloadBuilder& p) {
         p.head(2, "f/big");
         for (int i = 1; i <= 8; ++i)
           p.compressed(deflateLiterals(chunkText(i, kChunkText)));
         p.bytes().resize(p.bytes().size() - 1000);
       },
       false},
      {"full disk", [&](PayloadBuilder& p) { nineChunks(p, 0, {}); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool existing : {false, true}) {
      SCOPED_TRACE(existing ? "existing file" : "new file");
      TearDown();
      SetUp();
      for (int decoders : {1, 3}) {
        fs::path dir = root_ / ("out" + std::to_string(decoders));
        fs::create_directories(dir / "f");
        if (existing) std::ofstream(dir / "f" / "big") << "old content";
      }
      PayloadBuilder p;
      c.build(p);
      struct rlimit saved;
      ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
      void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
      if (c.limitSize) {
        struct rlimit limited = saved;
        limited.rlim_cur = 4 * kChunkText + 1234;
        ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
      }
      RunResult r = runBoth(p);
      setrlimit(RLIMIT_FSIZE, &saved);
      signal(SIGXFSZ, oldHandler);
      EXPECT_FALSE(r.ok);
      if (existing && !c.limitSize) {
        EXPECT_EQ("old content", r.files["f/big"]);
      } else if (!existing) {
        EXPECT_EQ(0u, r.files.count("f/big"));
      }
      EXPECT_EQ(0u, r.files.count("f/after"));
      EXPECT_FALSE(archive_.lastFileCreated());
    }
  }
}
#endif

// A monitor that asks for an abort once progress passes 40% of the payload.
class AbortAtFortyPercent : public ProgressEvent {
 public:
  void percentDone(uint32_t percent, bool* abort) override {
    if (percent >= 40) *abort = true;
  }
};

// Progress counts written chunks, so an abort asked for at 40% is seen
// after the same chunk with one decoder and with three: the entry stops
// there, the chunks read ahead are dropped, and the source stands just
// after that chunk.
TEST_F(PipelineTest, AnAbortStopsTheEntryAfterTheSameChunk) {
  PayloadBuilder p;
  nineChunks(p, 0, {});
  src_.setProgressByBytes(true);
  RunResult results[2];
  for (int i = 0; i < 2; ++i) {
    AbortAtFortyPercent sink;
    ProgressMonitor pm(&sink, 0, static_cast<int64_t>(p.bytes().size()));
    results[i] = runWith(i == 0 ? 1 : 3, p, "", &pm);
    EXPECT_TRUE(pm.isAborted());
  }
  for (RunResult& r : results) {
    EXPECT_FALSE(r.ok);
    EXPECT_NE(std::string::npos,
              r.log.find("Source read aborted by application callback."))
        << r.log;
    // The aborted entry's file, which the run created, is gone again.
    EXPECT_EQ(0u, r.files.count("f/big")) << "a half-written file stayed";
  }
  EXPECT_EQ(results[0].log, results[1].log);
  EXPECT_EQ(results[0].position, results[1].position);
  EXPECT_LT(results[0].position, static_cast<int64_t>(p.bytes().size()) / 2);
  EXPECT_EQ(results[0].files["f/big"], results[1].files["f/big"]);
}

// Records, at every progress report, how far the reads were counted and how
// much of the file was on disk.
class DiskAtProgress : public ProgressEvent {
 public:
  explicit DiskAtProgress(fs::path file) : file_(std::move(file)) {}
  void percentDone(uint32_t, bool*) override {
    std::error_code ec;
    uint64_t onDisk = fs::file_size(file_, ec);
    seen.push_back({pm->amountDone(), ec ? 0 : onDisk});
  }
  ProgressMonitor* pm = nullptr;
  std::vector<std::pair<int64_t, uint64_t>> seen;

 private:
  fs::path file_;
};

// Progress counts what is written: a chunk, read ahead or not, moves it
// only once the chunk is on disk. At each report the bytes counted reach at
// most the end of the last chunk wholly written.
TEST_P(ExtractTest, ProgressCountsWhatIsWritten) {
  PayloadBuilder p;
  nineChunks(p, 0, {});
  const Bytes& payload = p.bytes();
  std::vector<int64_t> chunkEnd;  // payload offset after chunk i + 1
  for (int i = 1; i <= kChunks; ++i) {
    Bytes chunk = deflateLiterals(chunkText(i, kChunkText));
    auto at = std::search(payload.begin(), payload.end(), chunk.begin(),
                          chunk.end());
    ASSERT_NE(payload.end(), at);
    chunkEnd.push_back((at - payload.begin()) +
                       static_cast<int64_t>(chunk.size()));
  }
  src_.setProgressByBytes(true);
  DiskAtProgress sink(out_ / "f" / "big");
  ProgressMonitor pm(&sink, 0, static_cast<int64_t>(payload.size()));
  sink.pm = &pm;
  ASSERT_TRUE(extractAll(p, false, "", &pm)) << logText();
  ASSERT_GE(sink.seen.size(), static_cast<size_t>(kChunks));
  for (const auto& [done, onDisk] : sink.seen) {
    size_t whole = static_cast<size_t>(onDisk / kChunkText);
    if (whole >= static_cast<size_t>(kChunks)) continue;  // the file is done
    int64_t limit = whole == 0 ? chunkEnd[0] - 1 : chunkEnd[whole - 1];
    EXPECT_LE(done, limit) << "with " << onDisk << " bytes on disk";
  }
  // Every chunk, the end word after them and the next entry are counted.
  EXPECT_GT(pm.amountDone(), chunkEnd.back() + 4);
}

// A chunk of about 1000:1 that inflates beyond a slot's output buffer is
// decoded by the streaming path and extracts whole; the slots do not grow
// for it.
TEST_P(ExtractTest, AChunkBeyondTheSlotIsStreamed) {
  const uint32_t kRun = 3000000;
  Bytes run = deflateRunOf(kRun);
  ASSERT_LT(run.size() * 900, kRun);
  PayloadBuilder p;
  p.head(2, "before").compressed(deflateLiterals("small")).endFile();
  p.head(2, "zeros").compressed(run).compressed(run).endFile().end();
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_EQ("small", read("before"));
  ASSERT_EQ(2u * kRun, fs::file_size(out_ / "zeros"));
  EXPECT_EQ(std::string(2 * kRun, 'z'), read("zeros"));
  // At most one input granule and one output buffer per slot.
  const uint64_t perSlot = 65536 + 2097152 + 64;
  EXPECT_LE(archive_.decodeMemory(),
            perSlot * (archive_.decoderCount() == 1 ? 1 : 4));
}

// The slots keep their buffers: a payload of many chunks takes no more
// memory than one of a few, and the decoders are started once.
TEST_P(ExtractTest, SlotsAreReusedAcrossChunksAndEntries) {
  PayloadBuilder few;
  few.head(2, "few");
  for (int i = 0; i < 5; ++i)
    few.compressed(deflateLiterals(chunkText(i, 20000)));
  few.endFile().end();
  ASSERT_TRUE(extractAll(few)) << logText();
  const uint64_t afterFew = archive_.decodeMemory();
  EXPECT_GT(afterFew, 0u);

  PayloadBuilder many;
  std::string expected;
  for (int f = 0; f < 8; ++f) {
    many.head(2, "many" + std::to_string(f));
    for (int i = 0; i < 12; ++i) {
      many.compressed(deflateLiterals(chunkText(i + f, 20000)));
      many.stored(bytesOf(chunkText(i, 1000)));
    }
    many.endFile();
  }
  many.end();
  ASSERT_TRUE(extractAll(many)) << logText();
  EXPECT_EQ(afterFew, archive_.decodeMemory());
  EXPECT_EQ(static_cast<uint32_t>(GetParam()), archive_.decoderCount());
  std::string seven;
  for (int i = 0; i < 12; ++i) seven += chunkText(i + 7, 20000) + chunkText(i, 1000);
  EXPECT_EQ(seven, read("many7"));
}

// Decoding across entries: a tree of many small files, read ahead over the
// entry records while earlier files are written, gives the same files, log,
// undo records and position with one decoder and with three, intact and
// for every failure at every file of the tree.
constexpr int kTreeFiles = 12;

struct TreeSpoil {
  int at = -1;          // the file spoiled (its first chunk)
  Bytes chunk;          // replaces that chunk when not empty
  bool flipLast = false;  // the chunk's last byte is changed (ciphertext)
  size_t bigText = 0;   // that file gets this much text instead
};

std::string treeText(int i, size_t bigText) {
  if (i == 3) return "";  // the empty file
  return chunkText(100 + i, bigText ? bigText : 200 + 97 * i);
}

std::string treeName(int i) {
  return (i < 6 ? "t/f" : "t/sub/f") + std::to_string(i);
}

// "t", files t/f0 .. t/f5, "t/sub", files t/sub/f6 .. t/sub/f11: stored
// and deflated by turns, f3 empty, f7 of six chunks (more than the slots,
// so that it is still being read when its call begins). `offsets` gets each
// file's payload offset.
void tree(PayloadBuilder& p, const TreeSpoil& spoil,
          std::vector<size_t>* offsets = nullptr) {
  p.dir("t");
  for (int i = 0; i < kTreeFiles; ++i) {
    if (i == 6) p.dir("t/sub");
    if (offsets) offsets->push_back(p.bytes().size());
    const bool spoiled = i == spoil.at;
    std::string text = treeText(i, spoiled ? spoil.bigText : 0);
    p.head(2, treeName(i));
    size_t parts = i == 7 ? 6 : 1;
    for (size_t part = 0; part < parts && !text.empty(); ++part) {
      size_t from = text.size() * part / parts;
      std::string piece =
          text.substr(from, text.size() * (part + 1) / parts - from);
      if (spoiled && part == 0 && !spoil.chunk.empty()) {
        p.compressed(spoil.chunk);
      } else if (i % 2 == 0) {
        p.stored(bytesOf(piece));
      } else {
        p.compressed(deflateLiterals(piece));
      }
      if (spoiled && part == 0 && spoil.flipLast) p.bytes().back() ^= 0x5A;
    }
    p.endFile();
  }
  p.end();
}

// The files of the tree before file `upTo`, as extracted.
void expectTreeUpTo(const RunResult& r, int upTo) {
  for (int i = 0; i < kTreeFiles; ++i) {
    SCOPED_TRACE(treeName(i));
    auto found = r.files.find(treeName(i));
    if (i < upTo) {
      ASSERT_NE(r.files.end(), found);
      EXPECT_EQ(treeText(i, 0), found->second);
    } else {
      EXPECT_EQ(r.files.end(), found);
    }
  }
}

TEST_F(PipelineTest, AnIntactTreeIsTheSameWithOneAndThreeDecoders) {
  for (const char* password : {"", "pw"}) {
    SCOPED_TRACE(*password ? "encrypted" : "plain");
    TearDown();
    SetUp();
    PayloadBuilder p(password);
    tree(p, {});
    RunResult r = runBoth(p, password);
    EXPECT_TRUE(r.ok) << r.log;
    expectTreeUpTo(r, kTreeFiles);
    EXPECT_EQ(static_cast<int64_t>(p.bytes().size()), r.position);
    EXPECT_EQ(2, r.undo);  // the folders t and t/sub
  }
}

// A failure at each file of the tree, of each kind that data can fail by:
// the files before it are extracted, it and the files after it are not,
// and everything else agrees between one and three decoders.
TEST_F(PipelineTest, ATreeFailsAtEachFileTheSameWithOneAndThreeDecoders) {
  struct Kind {
    const char* what;
    const char* password;
    std::function<TreeSpoil(int)> spoil;
    bool cut;  // the payload ends in the middle of the file's chunk
    const char* message;
    bool flipsCipher = false;
  } kinds[] = {
      {"undecodable chunk", "",
       [](int i) { return TreeSpoil{i, deflateThenBreak(treeText(i, 0) + "x"), false, 0}; },
       false, "Failed to inflate compressed data."},
      {"undecodable encrypted chunk", "pw",
       [](int i) { return TreeSpoil{i, deflateThenBreak(treeText(i, 0) + "x"), false, 0}; },
       false, "Failed to inflate compressed data."},
      {"damaged ciphertext", "pw",
       [](int i) { return TreeSpoil{i, {}, true, 0}; }, false,
       "Failed to inflate compressed data.", true},
      {"truncated payload", "", [](int i) { return TreeSpoil{i, {}, false, 0}; },
       true, "Failed to read"},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.what);
    for (int at = 0; at < kTreeFiles; ++at) {
      if (at == 3 && !k.cut) continue;  // the empty file has no chunk
      // Damaged ciphertext is found when it no longer inflates; a stored
      // chunk has no check without the integrity record.
      if (k.flipsCipher && at % 2 == 0) continue;
      SCOPED_TRACE("at file " + std::to_string(at));
      TearDown();
      SetUp();
      PayloadBuilder p(k.password);
      std::vector<size_t> offsets;
      tree(p, k.spoil(at), &offsets);
      if (k.cut) {
        // Into the file's first chunk, or just after its header when empty.
        size_t headerEnd = offsets[at] + 4 + 1 + 2 + treeName(at).size() + 12;
        p.bytes().resize(headerEnd + (at == 3 ? 2 : 30));
      }
      RunResult r = runBoth(p, k.password);
      EXPECT_FALSE(r.ok);
      EXPECT_NE(std::string::npos, r.log.find(k.message)) << r.log;
      expectTreeUpTo(r, at);
    }
  }
}

// A wrong password fails the same way: the verifier refuses it before any
// entry, with one decoder and with three.
TEST_F(PipelineTest, AWrongPasswordIsTheSameWithOneAndThreeDecoders) {
  PayloadBuilder p("pw");
  tree(p, {});
  RunResult r = runBoth(p, "other");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.files.empty());
}

// A monitor that asks for an abort once progress reaches `percent`.
class AbortAt : public ProgressEvent {
 public:
  explicit AbortAt(uint32_t percent) : percent_(percent) {}
  void percentDone(uint32_t percent, bool* abort) override {
    if (percent >= percent_) *abort = true;
  }

 private:
  uint32_t percent_;
};

// An abort from the progress callback at every tenth of the tree stops the
// run at the same file, with the same log and position, whether the files
// after it were read ahead or not.
TEST_F(PipelineTest, AnAbortAnywhereInATreeIsTheSameWithOneAndThreeDecoders) {
  for (const char* password : {"", "pw"}) {
    SCOPED_TRACE(*password ? "encrypted" : "plain");
    PayloadBuilder p(password);
    tree(p, {});
    src_.setProgressByBytes(true);
    for (uint32_t percent = 5; percent < 100; percent += 10) {
      SCOPED_TRACE(std::to_string(percent) + "%");
      RunResult results[2];
      for (int i = 0; i < 2; ++i) {
        AbortAt sink(percent);
        ProgressMonitor pm(&sink, 0, static_cast<int64_t>(p.bytes().size()));
        results[i] = runWith(i == 0 ? 1 : 3, p, password, &pm);
        EXPECT_TRUE(pm.isAborted());
        fs::remove_all(root_ / ("out" + std::to_string(i == 0 ? 1 : 3)));
      }
      EXPECT_FALSE(results[0].ok);
      EXPECT_EQ(results[0].ok, results[1].ok);
      EXPECT_EQ(results[0].log, results[1].log);
      EXPECT_EQ(results[0].position, results[1].position);
      EXPECT_EQ(results[0].undo, results[1].undo);
      EXPECT_TRUE(results[0].files == results[1].files);
    }
  }
}

#ifndef _WIN32
// A write that fails (the process's file size limit) at each file of the
// tree: the files before it stay, the failed one is deleted again.
TEST_F(PipelineTest, AWriteFailureAtEachFileOfATreeIsTheSame) {
  struct rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  for (int at = 0; at < kTreeFiles; ++at) {
    if (at == 3) continue;  // the empty file
    SCOPED_TRACE("at file " + std::to_string(at));
    TearDown();
    SetUp();
    PayloadBuilder p;
    tree(p, TreeSpoil{at, {}, false, 40000});
    struct rlimit limited = saved;
    limited.rlim_cur = 20000;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
    RunResult r = runBoth(p);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(std::string::npos, r.log.find("Failed to write file data."))
        << r.log;
    expectTreeUpTo(r, at);
  }
  signal(SIGXFSZ, oldHandler);
}
#endif

// Files that exist already are decoded once before they are replaced,
// which puts the reader back: the tree still extracts alike, and a later
// failure leaves them as they were.
TEST_F(PipelineTest, ExistingFilesInATreeAreTheSameWithOneAndThreeDecoders) {
  for (int badAt : {-1, 4, 9}) {
    SCOPED_TRACE("failure at " + std::to_string(badAt));
    TearDown();
    SetUp();
    for (int decoders : {1, 3}) {
      fs::path dir = root_ / ("out" + std::to_string(decoders));
      fs::create_directories(dir / "t" / "sub");
      std::ofstream(dir / "t" / "f4") << "old content";
      std::ofstream(dir / "t" / "sub" / "f9") << "old content";
    }
    PayloadBuilder p;
    TreeSpoil spoil;
    if (badAt >= 0) spoil = {badAt, deflateThenBreak(treeText(badAt, 0)), false, 0};
    tree(p, spoil);
    RunResult r = runBoth(p);
    EXPECT_EQ(badAt < 0, r.ok) << r.log;
    EXPECT_EQ(badAt == 4 ? "old content" : treeText(4, 0), r.files["t/f4"]);
    EXPECT_EQ(badAt >= 0 ? "old content" : treeText(9, 0), r.files["t/sub/f9"]);
  }
}
}  // namespace
}  // namespace sfx
