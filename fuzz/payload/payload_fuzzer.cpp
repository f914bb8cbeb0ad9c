// Fuzz target for the payload reader: the input is a payload (marker,
// header, arguments, verifier, entries). Each input is read twice, once as a
// dry run and once extracting for real into a fresh folder three levels down
// a private temporary root. The dry run may create nothing; after the real
// one nothing may exist in the root outside that folder. Encrypted payloads are
// tried with the password "fuzz".
#include <unistd.h>  // mkdtemp

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "archive/payload_format.h"
#include "archive/simple_archive.h"
#include "log/log_base.h"
#include "stream/data_source.h"
#include "text/data_buffer.h"
#include "text/ext_ptr_array.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace {

namespace fs = std::filesystem;

// Runs every step of an extraction over `data`; returns when an entry
// fails or the end-of-archive record is reached.
void extractAll(const uint8_t* data, size_t size, bool dryRun,
                const sfx::XString& base) {
  sfx::LogNull log;
  sfx::MemoryDataSource src;
  src.setData(data, static_cast<uint32_t>(size));
  sfx::SimpleArchive archive;
  if (!archive.chunkBuffer()) return;
  archive.setSource(&src);
  sfx::StringBuffer err;
  if (!archive.findMarker(log, nullptr) ||
      !archive.readHeader(err, log, nullptr) ||
      !archive.readArgs(log, nullptr)) {
    return;
  }
  sfx::XString arg;
  archive.getArg(sfx::kConfigArg, arg);
  if (archive.isEncrypted()) {
    sfx::DataBuffer cache;
    archive.setPassword("wrong");
    archive.checkPassword(log, cache);
    archive.setPassword("fuzz");
    if (!archive.checkPassword(log, cache)) return;
  }
  sfx::ExtPtrArray undo;
  undo.setOwnsObjects(true);
  for (;;) {
    bool end = true, isDir = false, skipped = false;
    sfx::StringBuffer path;
    if (!archive.extractSaToFile(dryRun, &end, &base, path, &isDir, &undo,
                                 &skipped, nullptr, log) ||
        end) {
      return;
    }
  }
}

struct Sandbox {
  Sandbox() {
    char tmpl[] = "/tmp/sfx_payload_fuzz_XXXXXX";
    if (!mkdtemp(tmpl)) abort();
    root = tmpl;
    out = root / "a" / "b" / "out";
    base.setFromUtf8(out.string().c_str());
  }
  ~Sandbox() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path root, out;
  sfx::XString base;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  static Sandbox sandbox;
  Sandbox* box = &sandbox;
  extractAll(data, size, /*dryRun=*/true, box->base);
  std::error_code ec;
  if (!fs::is_empty(box->root, ec)) {
    fprintf(stderr, "the dry run wrote into %s\n", box->root.c_str());
    abort();
  }
  fs::create_directories(box->out, ec);
  if (ec) abort();
  extractAll(data, size, /*dryRun=*/false, box->base);
  for (auto it = fs::recursive_directory_iterator(box->root, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::path& p = it->path();
    std::string s = p.string();
    const std::string prefix = box->out.string();
    bool inside = s.compare(0, prefix.size(), prefix) == 0 &&
                  (s.size() == prefix.size() || s[prefix.size()] == '/');
    bool ancestor = p == box->root / "a" || p == box->root / "a" / "b";
    if (!inside && !ancestor) {
      fprintf(stderr, "extraction wrote outside its folder: %s\n", s.c_str());
      abort();
    }
  }
  fs::remove_all(box->root / "a", ec);
  return 0;
}
