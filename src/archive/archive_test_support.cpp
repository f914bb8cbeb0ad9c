#include "archive/archive_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "archive/payload_format.h"
#include "codec/inflate_test_util.h"
#include "stream/data_source.h"
#include "text/data_buffer.h"
#include "text/ext_ptr_array.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace archive_test {

namespace fs = std::filesystem;

void putLe(Bytes& b, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

void putArg(Bytes& b, const std::string& name, const Bytes& value) {
  put16(b, static_cast<uint32_t>(name.size()));
  putBytes(b, bytesOf(name));
  put16(b, static_cast<uint32_t>(value.size()));
  putBytes(b, value);
}

Bytes markerAndHeader(uint8_t encrypted, uint8_t keyCode) {
  Bytes b;
  put32(b, payloadMarkerConstant(0));
  put32(b, payloadMarkerConstant(1));
  put32(b, kHeaderReserved);
  b.push_back(encrypted);
  b.push_back(keyCode);
  return b;
}

Bytes deflateLiterals(const std::string& text) {
  inflate_test::BitWriter w;
  auto block = inflate_test::BlockWriter::fixed(w, true);
  block.literals(text);
  block.end();
  return w.bytes();
}

PieceSealer::PieceSealer(Scheme scheme, const std::string& password,
                         uint32_t keyBits)
    : scheme_(scheme) {
  kdf_.iterations = kKdfMinIterations;
  for (uint32_t i = 0; i < kKdfSaltSize; ++i)
    kdf_.salt[i] = static_cast<uint8_t>(0x30 + i);
  if (!encrypted()) return;
  cipher_.setKeyLength(keyBits);
  DataBuffer key;
  deriveArchiveKey(password.c_str(), static_cast<uint32_t>(password.size()),
                   salted() ? &kdf_ : nullptr, keyBits, key);
  cipher_.setKey(key);
}

Bytes PieceSealer::kdfArgValue() const {
  StringBuffer text;
  formatKdfArg(kdf_, text);
  return Bytes(text.getString(), text.getString() + text.getSize());
}

Bytes PieceSealer::seal(const Bytes& plain, uint32_t entry, uint32_t piece) {
  if (!encrypted()) return plain;
  if (salted()) setPieceIv(cipher_, kdf_, entry, piece);
  DataBuffer in, out;
  LogNull log;
  in.append(plain.data(), static_cast<uint32_t>(plain.size()));
  cipher_.encryptBuffer(in, out, log);
  return Bytes(out.getData(), out.getData() + out.getSize());
}

Bytes PieceSealer::verifierBlock() {
  Bytes v = seal(Bytes(kVerifierText, kVerifierText + kVerifierTextBytes),
                 kPieceNoEntry, kPieceVerifier);
  Bytes block{static_cast<uint8_t>(v.size())};
  putBytes(block, v);
  return block;
}

fs::path freshTestFolder(const std::string& prefix) {
  std::string name =
      prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
      "_";
  for (char& c : name) {
    if (c == '/') c = '_';  // a parameterised test's name
  }
  std::random_device random;
  uint64_t salt = static_cast<uint64_t>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  for (int tries = 0; tries <= 100; ++tries) {
    fs::path folder = fs::temp_directory_path() /
                      (name + std::to_string((random() ^ salt) % 100000000u) +
                       "-" + std::to_string(tries));
    std::error_code ec;
    if (fs::create_directory(folder, ec)) return folder;
  }
  return fs::path();
}

TestFolder::TestFolder(const std::string& prefix)
    : root_(freshTestFolder(prefix)) {
  if (root_.empty()) return;
  out_ = root_ / "out";
  std::error_code ec;
  fs::create_directories(out_, ec);
}

TestFolder::~TestFolder() {
  if (root_.empty()) return;
  std::error_code ec;
  fs::permissions(root_, fs::perms::all, ec);
  fs::remove_all(root_, ec);
}

void TestFolder::clearOut() {
  std::error_code ec;
  fs::remove_all(out_, ec);
  fs::create_directories(out_, ec);
}

std::map<std::string, std::string> TestFolder::tree(bool withTimes) const {
  std::map<std::string, std::string> found;
  for (auto& e : fs::recursive_directory_iterator(out_)) {
    std::string rel = fs::relative(e.path(), out_).generic_string();
    if (e.is_directory()) {
      found[rel + "/"] = "";
      continue;
    }
    std::ifstream in(e.path(), std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)),
                        std::istreambuf_iterator<char>());
    if (withTimes) {
      content += "@" + std::to_string(
                           fs::last_write_time(e.path()).time_since_epoch().count());
    }
    found[rel] = content;
  }
  for (auto& e : fs::directory_iterator(root_)) {
    EXPECT_EQ(out_, e.path()) << "written outside the unzip folder";
  }
  return found;
}

ExtractRun extractInto(SimpleArchive& archive, const Bytes& payload,
                       const fs::path& out, const char* password,
                       ErrorLog& log) {
  ExtractRun run;
  XString base;
  base.setFromUtf8(out.string().c_str());
  MemoryDataSource src;
  src.setData(payload.data(), static_cast<uint32_t>(payload.size()));
  archive.setSource(&src);
  struct Detach {
    SimpleArchive& a;
    ~Detach() { a.setSource(nullptr); }
  } detach{archive};
  StringBuffer err;
  if (!archive.findMarker(log, nullptr)) return run;
  run.step = ExtractRun::kHeader;
  if (!archive.readHeader(err, log, nullptr)) {
    run.hasReason = err.getSize() > 0;
    return run;
  }
  run.step = ExtractRun::kArgs;
  if (!archive.readArgs(log, nullptr)) {
    run.hasReason = !log.errors.empty();
    return run;
  }
  run.step = ExtractRun::kPassword;
  if (archive.isEncrypted()) {
    archive.setPassword(password);
    DataBuffer cache;
    if (!archive.checkPassword(log, cache)) return run;
  }
  run.step = ExtractRun::kEntries;
  ExtPtrArray undo;
  undo.setOwnsObjects(true);
  for (size_t n = 0; n <= payload.size(); ++n) {
    bool end = true, isDir = false, skipped = false;
    StringBuffer path;
    if (!archive.extractSaToFile(false, &end, &base, path, &isDir, &undo,
                                 &skipped, nullptr, log)) {
      run.hasReason = !log.errors.empty();
      return run;
    }
    if (end) {
      run.step = ExtractRun::kDone;
      return run;
    }
  }
  ADD_FAILURE() << "more entries than bytes";
  return run;
}

}  // namespace archive_test
}  // namespace sfx
