// list, test and extract: the stub's payload reader driven from the command
// line, with the POSIX file layer underneath.
#include "reader.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "archive/simple_archive.h"
#include "entry_meter.h"
#include "fs/directory_times.h"
#include "fs/file.h"
#include "log/logger.h"
#include "stream/data_source.h"
#include "text/data_buffer.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfxpack {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr uint8_t kTypeDirectory = 1;

// The reason followed by the log's indented text.
std::string withLog(const std::string& reason, sfx::Logger& log) {
  sfx::StringBuffer text;
  log.getLogText(text);
  std::string out = reason;
  if (text.getSize() > 0) out += "\n" + std::string(text.getString());
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) {
    out.pop_back();
  }
  return out;
}

// Makes and enters the target directory of an extraction for the life of
// the object, and goes back to the directory before on destruction. The
// directory is taken as the user wrote it: the file layer reads "\" as a
// separator, while here it is an ordinary byte of a name.
class TargetDirectory {
 public:
  TargetDirectory() = default;
  TargetDirectory(const TargetDirectory&) = delete;
  TargetDirectory& operator=(const TargetDirectory&) = delete;
  ~TargetDirectory() {
    if (saved_ < 0) return;
    if (entered_ && fchdir(saved_) != 0) perror("sfxpack: fchdir");
    close(saved_);
  }

  // On failure stores the reason in *error and returns false.
  bool enter(const std::string& dir, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
      *error = "cannot create '" + dir + "': " + ec.message();
      return false;
    }
    saved_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (saved_ < 0 || chdir(dir.c_str()) != 0) {
      *error = "cannot enter '" + dir + "': " + strerror(errno);
      return false;
    }
    entered_ = true;
    return true;
  }

 private:
  int saved_ = -1;
  bool entered_ = false;
};

}  // namespace

std::string formatFileTime(uint64_t fileTime) {
  time_t t =
      static_cast<time_t>(static_cast<int64_t>(fileTime / kTicksPerSecond) -
                          kSecondsFrom1601To1970);
  struct tm parts;
  char text[32];
  if (!gmtime_r(&t, &parts) ||
      strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts) == 0) {
    return "(bad time)";
  }
  return text;
}

bool readArchive(const ReadOptions& opts, ReadMode mode, FILE* listing,
                 ReadStats* stats, std::string* error, FILE* report) {
  *stats = ReadStats();
  sfx::Logger log;
  // The source may reopen the archive by its name, so an extraction, which
  // works inside its target directory, names it absolutely.
  std::string archivePath = opts.archive;
  if (mode == ReadMode::kExtract) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(opts.archive, ec);
    if (!ec) archivePath = absolute.string();
  }
  sfx::XString path;
  path.setFromUtf8(archivePath.c_str());
  sfx::FileDataSource file;
  if (!file.openDataSource(path, log)) {
    *error = withLog("cannot read '" + opts.archive + "'", log);
    return false;
  }
  sfx::SimpleArchive archive;
  archive.setSource(&file);
  if (mode == ReadMode::kExtract) archive.setDecoderThreads(opts.threads);
  if (!archive.findMarker(log, nullptr)) {
    *error = withLog("no payload in '" + opts.archive + "'", log);
    return false;
  }
  sfx::StringBuffer headerError;
  if (!archive.readHeader(headerError, log, nullptr)) {
    *error = withLog(std::string("cannot read the payload header: ") +
                         headerError.getString(),
                     log);
    return false;
  }
  if (!archive.readArgs(log, nullptr)) {
    *error = withLog("cannot read the payload's arguments", log);
    return false;
  }
  if (archive.kdfRefused()) {
    *error = std::string("cannot open the payload: ") +
             archive.kdfError().getString();
    return false;
  }
  if (archive.isEncrypted()) {
    if (!opts.havePassword) {
      *error = "the payload is encrypted: give --password";
      return false;
    }
    archive.setPassword(opts.password.c_str());
    sfx::DataBuffer verifierCache;
    if (!archive.checkPassword(log, verifierCache)) {
      *error = withLog("wrong password", log);
      return false;
    }
  }

  // The file source reads ahead itself; the list's meter sits between the
  // reader and the file.
  EntryMeter meter(&file,
                   archive.isEncrypted() ? &archive.decryptor() : nullptr,
                   archive.kdf());
  if (mode == ReadMode::kList) {
    archive.setSource(&meter);
    fprintf(listing, "%-5s %12s  %-19s  %-10s  %-8s  %s\n", "type", "size",
            "modified", "attributes", "crc32", "name");
  }
  TargetDirectory target;
  if (mode == ReadMode::kExtract && !opts.directory.empty() &&
      !target.enter(opts.directory, error)) {
    return false;
  }
  sfx::XString baseDir;
  baseDir.setFromUtf8(".");
  bool dryRun = mode != ReadMode::kExtract;
  sfx::DirectoryTimes directoryTimes;
  for (;;) {
    log.clearLog();
    meter.beginEntry();
    bool endOfArchive = true;
    bool isDirectory = false;
    bool skipped = false;
    sfx::StringBuffer entryPath;
    bool ok = archive.extractSaToFile(
        dryRun, &endOfArchive, dryRun ? nullptr : &baseDir, entryPath,
        &isDirectory, nullptr, &skipped, nullptr, log);
    const uint64_t entryNumber =
        stats->files + stats->directories + stats->others + stats->damaged + 1;
    if (!ok && archive.lastEntryResumable()) {
      // Read to its end, only not as packed: report it and go on.
      ++stats->damaged;
      fprintf(report,
              "sfxpack: entry %llu '%s' is damaged: its %s differs from the "
              "integrity record\n",
              static_cast<unsigned long long>(entryNumber),
              archive.damagedName().getString(), archive.damagedWhat());
      continue;
    }
    if (!ok) {
      directoryTimes.restore();
      // The path below the target directory, as the user named it.
      std::string entry = entryPath.getString();
      if (entry.size() > 2 && entry[0] == '.' &&
          (entry[1] == '/' || entry[1] == '\\')) {
        entry = (opts.directory.empty() ? "" : opts.directory + "/") +
                entry.substr(2);
      }
      std::string where = entry.empty() ? "" : " at '" + entry + "'";
      std::string reason = "entry " + std::to_string(entryNumber) + where;
      if (archive.integrityDamaged()) {
        reason += " failed: the self-extractor is damaged, download it again";
      } else {
        reason += " failed";
      }
      *error = withLog(reason, log);
      return false;
    }
    if (endOfArchive) {
      directoryTimes.restore();
      if (stats->damaged > 0) {
        *error = std::to_string(stats->damaged) +
                 (stats->damaged == 1 ? " entry differs" : " entries differ") +
                 " from the integrity record: the self-extractor is damaged, "
                 "download it again";
        return false;
      }
      return true;
    }
    const char* kind = "file";
    if (isDirectory) {
      if (!dryRun) directoryTimes.remember(entryPath.getString());
      ++stats->directories;
      kind = "dir";
    } else if (entryPath.getSize() == 0) {
      ++stats->others;
      kind = "other";
    } else {
      ++stats->files;
    }
    if (mode != ReadMode::kList) continue;
    stats->plainBytes += meter.plainSize();
    std::string size = meter.type() == kTypeDirectory || *kind == 'o'
                           ? "-"
                           : std::to_string(meter.plainSize());
    char attributes[16];
    snprintf(attributes, sizeof attributes, "0x%08x", meter.attributes());
    char crc[16] = "-";
    sfx::IntegrityEntry row;
    if (archive.lastIntegrityEntry(&row) && row.type == 2)
      snprintf(crc, sizeof crc, "%08x", row.crc);
    fprintf(listing, "%-5s %12s  %s  %-10s  %-8s  %s\n", kind, size.c_str(),
            formatFileTime(meter.fileTime()).c_str(), attributes, crc,
            entryPath.getString());
  }
}

}  // namespace sfxpack
