// What the archive tests share: little-endian byte building, one-chunk
// deflate streams, the sealing of payload pieces under each password
// scheme, a folder of the test's own and a log that keeps its errors.
#ifndef SFX_ARCHIVE_ARCHIVE_TEST_SUPPORT_H_
#define SFX_ARCHIVE_ARCHIVE_TEST_SUPPORT_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/simple_archive.h"
#include "codec/aes.h"
#include "codec/kdf.h"
#include "log/log_base.h"

namespace sfx {
namespace archive_test {

using Bytes = std::vector<uint8_t>;

// Appends the low `n` bytes of `v`, least significant first.
void putLe(Bytes& b, uint64_t v, int n);
inline void put16(Bytes& b, uint32_t v) { putLe(b, v, 2); }
inline void put32(Bytes& b, uint32_t v) { putLe(b, v, 4); }
inline void put64(Bytes& b, uint64_t v) { putLe(b, v, 8); }
inline void putBytes(Bytes& b, const Bytes& v) { b.insert(b.end(), v.begin(), v.end()); }
Bytes bytesOf(const std::string& s);

// One argument record: u16 name length, name, u16 value length, value.
void putArg(Bytes& b, const std::string& name, const Bytes& value);
inline void putArg(Bytes& b, const std::string& name, const std::string& value) {
  putArg(b, name, Bytes(value.begin(), value.end()));
}

// The marker and the header of a payload with this encrypted flag (0 plain,
// any other value encrypted) and key-length code.
Bytes markerAndHeader(uint8_t encrypted = 0, uint8_t keyCode = 0);

// One raw deflate stream of a single fixed-Huffman block holding `text` as
// literals: a compressed chunk that decodes on its own.
Bytes deflateLiterals(const std::string& text);

// The password schemes of a payload: none, the unsalted key with all-zero
// vectors, or the salted key with a vector for every piece.
enum class Scheme { kPlain, kLegacy, kSalted };

// Encrypts payload pieces as a packer does. The salted scheme uses a fixed
// salt and the least iteration count, so that tests stay fast.
class PieceSealer {
 public:
  PieceSealer(Scheme scheme, const std::string& password, uint32_t keyBits);
  bool encrypted() const { return scheme_ != Scheme::kPlain; }
  bool salted() const { return scheme_ == Scheme::kSalted; }
  const KdfSettings& kdf() const { return kdf_; }
  // The `kdf` argument's value of the salted scheme.
  Bytes kdfArgValue() const;
  // `plain` as the payload holds it: the ciphertext of piece `piece` of
  // entry `entry` (see kdf.h), or `plain` itself when nothing is encrypted.
  Bytes seal(const Bytes& plain, uint32_t entry, uint32_t piece);
  // The verifier block: u8 length, the sealed verifier text.
  Bytes verifierBlock();

 private:
  Scheme scheme_;
  KdfSettings kdf_;
  AesCipher cipher_;
};

// A folder of its own for the running test under the temporary folder,
// named after the test and made new (a random suffix drawn again until the
// folder did not exist), so that concurrent runs never share one. Empty
// when none could be made.
std::filesystem::path freshTestFolder(const std::string& prefix);

// A test's own folder (freshTestFolder) with the unzip folder "out" in it,
// removed with everything in it when the object goes.
class TestFolder {
 public:
  explicit TestFolder(const std::string& prefix);
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;
  bool ok() const { return !root_.empty(); }
  const std::filesystem::path& root() const { return root_; }
  const std::filesystem::path& out() const { return out_; }
  // Empties the unzip folder: removes it and makes it again.
  void clearOut();
  // What the unzip folder holds: relative path to content, directories
  // with a "/" appended and an empty content; with `withTimes`, each file's
  // content is followed by "@" and its modification time. Adds a test
  // failure for anything written beside the unzip folder.
  std::map<std::string, std::string> tree(bool withTimes = false) const;

 private:
  std::filesystem::path root_, out_;
};

// Keeps every error line it is given.
class ErrorLog : public LogBase {
 public:
  bool logError(const char* text) override {
    errors.push_back(text);
    return true;
  }
  std::vector<std::string> errors;
};

// How far an extraction got, in the order of the stub's steps, and whether
// a failure left its reason: in the header's error text, in the log, or as
// a step the stub reports itself (no marker, a wrong password).
struct ExtractRun {
  enum Step { kMarker, kHeader, kArgs, kPassword, kEntries, kDone };
  Step step = kMarker;
  bool hasReason = true;
};

// Extracts `payload` into `out` as the stub does, with `archive` (its
// decoder count already set), stopping at the first failed entry. An
// encrypted payload is opened with `password`. A payload that yields more
// entries than it has bytes adds a test failure (a loop).
ExtractRun extractInto(SimpleArchive& archive, const Bytes& payload,
                       const std::filesystem::path& out, const char* password,
                       ErrorLog& log);

}  // namespace archive_test
}  // namespace sfx

#endif  // SFX_ARCHIVE_ARCHIVE_TEST_SUPPORT_H_
