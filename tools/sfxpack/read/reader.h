// The packer's reading commands: list, test and extract. They read a
// self-extractor with the stub's own payload reader (SimpleArchive), so the
// packer checks archives with exactly the code the stub runs.
#ifndef SFX_TOOLS_SFXPACK_READ_READER_H_
#define SFX_TOOLS_SFXPACK_READ_READER_H_

#include <cstdint>
#include <cstdio>
#include <string>

namespace sfxpack {

enum class ReadMode {
  kList,     // one line per entry on the listing stream, nothing written
  kTest,     // every entry read, decrypted and inflated, nothing written
  kExtract,  // every entry created below the target directory
};

// What extract does with a file that exists already in the target.
enum class ExistingFiles {
  kRefuse,     // list them all and write nothing (the default)
  kOverwrite,  // replace them (--overwrite)
  kSkip,       // keep them, leave their entries out (--skip-existing)
};

struct ReadOptions {
  std::string archive;   // the self-extractor to read
  std::string password;  // tried when the payload is encrypted
  bool havePassword = false;
  std::string directory;  // kExtract: where the entries go ("." if empty)
  int threads = 0;  // kExtract: decoder threads (0: one per core, 1: none)
  ExistingFiles existing = ExistingFiles::kRefuse;  // kExtract
  bool verbose = false;  // kExtract: one line a file kept (kSkip)
  bool quiet = false;    // kList: no header line
};

struct ReadStats {
  uint64_t files = 0;
  uint64_t directories = 0;
  uint64_t others = 0;      // entries of another type, read and skipped
  uint64_t plainBytes = 0;  // kList only: the files' inflated sizes
  uint64_t damaged = 0;     // entries that differ from the integrity record
  uint64_t kept = 0;        // kExtract, kSkip: files that existed, kept
};

// Reads the payload of opts.archive from its marker to the end-of-archive
// record in the given mode. kList writes a header line, one line per entry
// (type, size, local modification time, attributes, the CRC-32 stored in
// the integrity record or "-", name) and a total line to `listing`. Returns
// true only when the whole payload was read and every entry was handled
// (every chunk decoded, every file written, every entry as the integrity
// record lists it). An entry that differs from the record is reported on
// `report` (one line each, nothing is written for it) and the reading goes
// on with the next entry; the result is then false with *error saying the
// self-extractor is damaged. On any other failure returns false at once
// with *error set to a one-line reason followed by the reader's log of the
// failing step.
//
// kExtract stays inside the target directory: below it no symbolic link is
// followed (fs/confined_paths.h); an entry that meets one fails with *error
// naming the link. When the target holds anything, the payload is read
// once without writing first: when a link lies on an entry's way, or, with
// ExistingFiles::kRefuse, files of the payload exist already, each is
// listed on `report` and nothing is written.
bool readArchive(const ReadOptions& opts, ReadMode mode, FILE* listing,
                 ReadStats* stats, std::string* error, FILE* report = stderr);

// "YYYY-MM-DD HH:MM:SS" for a FILETIME taken as it stands (the payload holds
// local times, so no zone is applied).
std::string formatFileTime(uint64_t fileTime);

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_READ_READER_H_
