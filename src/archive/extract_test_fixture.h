// The fixture of the extraction tests: payloads built byte by byte (the
// compressed chunks from the test bit writer), a fresh folder, and an
// archive that extracts into it with a given number of decoders.
#ifndef SFX_ARCHIVE_EXTRACT_TEST_FIXTURE_H_
#define SFX_ARCHIVE_EXTRACT_TEST_FIXTURE_H_

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
namespace extract_test {

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

// ---- Decoding on threads ----------------------------------------------------

// `n` bytes of text that differ from chunk to chunk (letters, so that the
// literals of a fixed block carry them).
inline std::string chunkText(int chunk, size_t n) {
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
inline Bytes deflateThenBreak(const std::string& text) {
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
inline Bytes deflateRunOf(uint32_t count) {
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

constexpr int kChunks = 9;
constexpr size_t kChunkText = 50000;

// Nine deflated chunks of "f/big", the one at `bad` (1-based) replaced by
// `badChunk` unless empty, then a second file.
inline void nineChunks(PayloadBuilder& p, int bad, const Bytes& badChunk) {
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

inline std::string nineChunkText(int upTo) {
  std::string t;
  for (int i = 1; i <= upTo; ++i) t += chunkText(i, kChunkText);
  return t;
}

}  // namespace extract_test
}  // namespace sfx

#endif  // SFX_ARCHIVE_EXTRACT_TEST_FIXTURE_H_
