// The packing engine of sfxpack: walks folders and files, cuts file data
// into chunks, deflates (and encrypts) the chunks on a pool of threads and
// writes the records in order, so the output is the same for any number of
// threads.
#ifndef SFX_TOOLS_SFXPACK_PACK_PACKER_H_
#define SFX_TOOLS_SFXPACK_PACK_PACKER_H_

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "pack/name_check.h"

namespace sfxpack {

struct PackOptions {
  std::vector<std::pair<std::string, std::string>> args;  // xmlConfig first
  std::vector<std::string> inputs;
  // The file being written, when it exists already: never stored (left out
  // of a folder with a note) and never read as an input (refused).
  std::string output;
  size_t chunkSize = 1 << 20;  // bytes of file data per chunk
  int level = 6;               // libdeflate level 0 (store) to 12
  bool hiddenDotfiles = false;
  bool integrity = true;  // store the integrity record (--no-integrity)
  bool followLinks = false;  // follow links that lead outside the inputs
  std::string password;  // empty: not encrypted
  int keyBits = 256;     // 128, 192 or 256
  // Encryption: the salted scheme (a `kdf` argument with a fresh random
  // salt, PBKDF2-HMAC-SHA256 with this many iterations, a vector of its own
  // for every piece), or with legacyEncryption the earlier unsalted MD5
  // key and all-zero vectors, for stubs that know only that.
  uint32_t kdfIterations = 600000;
  bool legacyEncryption = false;
  unsigned threads = 0;  // 0: one per core
  // SOURCE_DATE_EPOCH (seconds since 1970), or -1: when set, a time later
  // than it is stored as it, and times are stored as UTC wall-clock time
  // instead of local time, so the bytes do not depend on the time zone.
  int64_t sourceDateEpoch = -1;
  // When set, called with each stored path below the inputs (and each file
  // input's name) before it is stored; true leaves it out (a folder with
  // everything below it).
  std::function<bool(const std::string& storedPath, bool isDirectory)> exclude;
  // Called now and then with the input bytes done so far and the total.
  std::function<void(uint64_t done, uint64_t total)> progress;
};

struct PackStats {
  uint64_t files = 0;
  uint64_t directories = 0;
  uint64_t bytesIn = 0;
  uint64_t payloadBytes = 0;
};

// The largest chunk input: its ciphertext, padding included, stays below the
// stub's 2,048,576-byte limit even when the chunk is stored.
constexpr size_t kMaxChunkInput = 2000000;

// The latest modification time stored (a later one cannot be represented
// on Windows): writePayload refuses an entry past it.
constexpr uint64_t kMaxStoredFileTime = 0x7FFFFFFFFFFFFFFFULL;

// The modification time of `st` as a FILETIME in this machine's local time
// zone, clamped to 1601-01-01 and to kMaxStoredFileTime.
uint64_t localFileTimeOf(const struct stat& st);

// One directory or file to store, found by scanInputs.
struct PackEntry {
  std::string source;  // the path it is read from
  bool isDirectory = false;
  uint64_t size = 0;      // a file's size when scanned
  uint64_t fileTime = 0;  // modification time, local FILETIME
  bool hidden = false;    // stored with the hidden attribute
};

// What the payload will hold, in storing order: entries[i] is stored under
// storedPath(names, i). Renaming changes `names` only.
struct PackPlan {
  std::vector<PackEntry> entries;
  std::vector<NameNode> names;
  uint64_t totalBytes = 0;  // the files' sizes
};

// Walks opts.inputs: the contents of a directory are stored below it (its
// own name is not), a file under its own name, children in byte order of
// their names. A symbolic link is stored as what it points to: a link into
// the tree of the same input always, a link leading elsewhere only with
// opts.followLinks; a link that would enter a directory being walked
// already (a loop) and a dangling link are refused. Things other than files
// and directories are skipped with a line in *notes, and so is the file
// opts.output names (the same device and inode) met in a folder. Every file
// is opened once to see that it can be read. Returns false with *error set
// when an input cannot be read or is the output; refused links are all listed in
// *error, one a line, and nothing is returned in *plan then.
bool scanInputs(const PackOptions& opts, PackPlan* plan,
                std::vector<std::string>* notes, std::string* error);

// Writes the payload for `opts` and `plan` to `out` (after whatever it
// already holds). Returns false with *error set on the first failure.
bool writePayload(const PackOptions& opts, const PackPlan& plan, FILE* out,
                  PackStats* stats, std::string* error);

// True when Deflate would not shrink `size` bytes at `data` (or by a few
// bytes in thousands at most): every piece of about 16 KiB has a near-flat
// byte histogram and few 4-byte strings recur within Deflate's 32 KiB
// window, as in compressed, encrypted or random data. Such a chunk is
// stored without trying to deflate it. False for fewer than 4,096 bytes and
// whenever in doubt. Reads the bytes about twice when it answers true and
// usually just the first 16 KiB when it answers false.
bool deflateCannotShrink(const uint8_t* data, size_t size);

// The key-length code of the header for a key size.
uint8_t keyLengthCode(int keyBits);

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_PACK_PACKER_H_
