// The packing engine of sfxpack: walks folders and files, cuts file data
// into chunks, deflates (and encrypts) the chunks on a pool of threads and
// writes the records in order, so the output is the same for any number of
// threads.
#ifndef SFX_TOOLS_SFXPACK_PACKER_H_
#define SFX_TOOLS_SFXPACK_PACKER_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace sfxpack {

struct PackOptions {
  std::vector<std::pair<std::string, std::string>> args;  // xmlConfig first
  std::vector<std::string> inputs;
  size_t chunkSize = 1 << 20;  // bytes of file data per chunk
  int level = 6;               // libdeflate level 0 (store) to 12
  bool hiddenDotfiles = false;
  bool integrity = true;  // store the integrity record (--no-integrity)
  std::string password;  // empty: not encrypted
  int keyBits = 256;     // 128, 192 or 256
  unsigned threads = 0;  // 0: one per core
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

// Writes the payload for `opts` to `out` (after whatever it already holds).
// Returns false with *error set on the first failure.
bool writePayload(const PackOptions& opts, FILE* out, PackStats* stats,
                  std::string* error);

// The key-length code of the header for a key size.
uint8_t keyLengthCode(int keyBits);

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_PACKER_H_
