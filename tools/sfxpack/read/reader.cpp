// list, test and extract: the stub's payload reader driven from the command
// line, with the POSIX file layer underneath.
#include "read/reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "archive/payload_format.h"
#include "archive/simple_archive.h"
#include "read/entry_meter.h"
#include "fs/confined_paths.h"
#include "fs/directory_times.h"
#include "fs/file.h"
#include "log/log_base.h"
#include "log/logger.h"
#include "stream/data_source.h"
#include "text/data_buffer.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfxpack {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;

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

// Confines the file operations below the current directory for its life.
class ConfinedScope {
 public:
  ConfinedScope() {
    sfx::setConfinedPaths(true);
    sfx::takeRefusedLink();
  }
  ~ConfinedScope() { sfx::setConfinedPaths(false); }
  ConfinedScope(const ConfinedScope&) = delete;
  ConfinedScope& operator=(const ConfinedScope&) = delete;
};

// True when the current directory holds anything.
bool currentDirHoldsAnything() {
  DIR* d = opendir(".");
  if (!d) return true;
  bool any = false;
  while (const struct dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
      any = true;
      break;
    }
  }
  closedir(d);
  return any;
}

// Opens the archive, finds its payload, reads the header and arguments and
// checks the password. On failure returns false with *error set.
bool openPayload(const ReadOptions& opts, const std::string& archivePath,
                 sfx::FileDataSource* file, sfx::SimpleArchive* archive,
                 sfx::Logger& log, std::string* error) {
  sfx::XString path;
  path.setFromUtf8(archivePath.c_str());
  errno = 0;
  if (!file->openDataSource(path, log)) {
    int err = errno;
    *error = withLog("cannot read '" + opts.archive + "': " +
                         (err ? strerror(err) : "cannot open it"),
                     log);
    return false;
  }
  archive->setSource(file);
  if (!archive->findMarker(log, nullptr)) {
    *error = withLog("no payload in '" + opts.archive + "'", log);
    return false;
  }
  sfx::StringBuffer headerError;
  if (!archive->readHeader(headerError, log, nullptr)) {
    *error = withLog(std::string("the self-extractor is damaged or "
                                 "incomplete: cannot read the payload "
                                 "header: ") +
                         headerError.getString(),
                     log);
    return false;
  }
  if (!archive->readArgs(log, nullptr)) {
    *error = withLog(
        "the self-extractor is damaged or incomplete: cannot read the "
        "payload's arguments",
        log);
    return false;
  }
  if (archive->kdfRefused()) {
    *error = std::string("cannot open the payload: ") +
             archive->kdfError().getString();
    return false;
  }
  if (archive->isEncrypted()) {
    // The packer writes Encryption 1 into the configuration of an encrypted
    // payload: a header that says encrypted under a configuration that
    // does not was damaged.
    sfx::XString config;
    if (archive->getArg(sfx::kConfigArg, config) &&
        std::string(config.getUtf8()).find("<Encryption>1</Encryption>") ==
            std::string::npos) {
      *error =
          "the self-extractor is damaged: its header says the payload is "
          "encrypted, its configuration does not";
      return false;
    }
    if (!opts.havePassword) {
      *error = "the payload is encrypted: give --password";
      return false;
    }
    archive->setPassword(opts.password.c_str());
    sfx::DataBuffer verifierCache;
    if (!archive->checkPassword(log, verifierCache)) {
      *error = withLog("wrong password", log);
      return false;
    }
  }
  return true;
}

// What an extraction into the current directory would meet before writing
// anything: files of the payload that exist already (any kind of file in a
// file's place; anything but a directory in a directory's place), and
// symbolic links on an entry's way. Paths relative to the target. False
// when the payload cannot be read to its end (the extraction proper then
// reports why).
bool findConflicts(const ReadOptions& opts, const std::string& archivePath,
                   std::vector<std::string>* existing,
                   std::vector<std::string>* links) {
  sfx::Logger log;
  sfx::FileDataSource file;
  sfx::SimpleArchive archive;
  std::string error;
  if (!openPayload(opts, archivePath, &file, &archive, log, &error))
    return false;
  archive.setDecoderThreads(opts.threads);
  std::vector<std::string> seenLinks;
  for (;;) {
    log.clearLog();
    bool endOfArchive = true, isDirectory = false, skipped = false;
    sfx::StringBuffer entryPath;
    if (!archive.extractSaToFile(true, &endOfArchive, nullptr, entryPath,
                                 &isDirectory, nullptr, &skipped, nullptr,
                                 log)) {
      if (archive.lastEntryResumable()) continue;
      return false;
    }
    if (endOfArchive) return true;
    std::string p = entryPath.getString();
    if (p.empty()) continue;
    std::replace(p.begin(), p.end(), '\\', '/');
    // Each component from the target down, without following links.
    std::string walked;
    size_t at = 0;
    while (at < p.size()) {
      size_t end = p.find('/', at);
      if (end == std::string::npos) end = p.size();
      std::string part = p.substr(at, end - at);
      at = end + 1;
      if (part.empty() || part == ".") continue;
      walked += (walked.empty() ? "" : "/") + part;
      bool last = at > p.size();
      struct stat st;
      if (lstat(walked.c_str(), &st) != 0) break;  // nothing there yet
      if (S_ISLNK(st.st_mode)) {
        if (std::find(links->begin(), links->end(), walked) == links->end())
          links->push_back(walked);
        break;
      }
      if (!last && !S_ISDIR(st.st_mode)) {
        existing->push_back(walked);
        break;
      }
      if (last && !(isDirectory && S_ISDIR(st.st_mode)))
        existing->push_back(walked);
    }
  }
}

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
  sfx::FileDataSource file;
  sfx::SimpleArchive archive;
  if (!openPayload(opts, archivePath, &file, &archive, log, error))
    return false;
  if (mode == ReadMode::kExtract) {
    archive.setDecoderThreads(opts.threads);
    archive.setKeepExistingFiles(opts.existing == ExistingFiles::kSkip);
  }

  // The file source reads ahead itself; the list's meter sits between the
  // reader and the file, and measures each entry record as its own call
  // reads it: nothing of the next records may pass it earlier.
  EntryMeter meter(&file,
                   archive.isEncrypted() ? &archive.decryptor() : nullptr,
                   archive.kdf());
  if (mode == ReadMode::kList) {
    archive.setSource(&meter);
    archive.setReadAheadAcrossEntries(false);
    if (!opts.quiet)
      fprintf(listing, "%-5s %12s  %-19s  %-10s  %-8s  %s\n", "type",
              "size", "modified", "attributes", "crc32", "name");
  }
  TargetDirectory target;
  if (mode == ReadMode::kExtract && !opts.directory.empty() &&
      !target.enter(opts.directory, error)) {
    return false;
  }
  // How the user names a path below the target.
  auto shown = [&opts](std::string p) {
    std::replace(p.begin(), p.end(), '\\', '/');
    if (p.compare(0, 2, "./") == 0) p.erase(0, 2);
    return (opts.directory.empty() ? "" : opts.directory + "/") + p;
  };
  if (mode == ReadMode::kExtract && currentDirHoldsAnything()) {
    std::vector<std::string> existing, links;
    bool read = findConflicts(opts, archivePath, &existing, &links);
    if (opts.existing != ExistingFiles::kRefuse) existing.clear();
    if (read && (!existing.empty() || !links.empty())) {
      for (const std::string& p : links)
        fprintf(report,
                "sfxpack: '%s' is a symbolic link: extract does not follow "
                "it\n",
                shown(p).c_str());
      for (const std::string& p : existing)
        fprintf(report, "sfxpack: '%s' exists already\n", shown(p).c_str());
      std::string where =
          opts.directory.empty() ? "the current directory" : "'" + opts.directory + "'";
      if (!existing.empty()) {
        *error = std::to_string(existing.size()) +
                 (existing.size() == 1 ? " file exists" : " files exist") +
                 " already in " + where +
                 "; nothing was written (--overwrite replaces them, "
                 "--skip-existing keeps them)";
      } else {
        *error = std::to_string(links.size()) + " symbolic link" +
                 (links.size() == 1 ? "" : "s") + " in " + where +
                 " on the way of entries; nothing was written";
      }
      return false;
    }
  }
  std::unique_ptr<ConfinedScope> confined;
  if (mode == ReadMode::kExtract) confined.reset(new ConfinedScope());
  // Folders made or found once are not asked about again for every file in
  // them (each file is still opened without following a link).
  sfx::KnownFolders knownFolders;
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
      std::string link = sfx::takeRefusedLink();
      sfx::LogNull quiet;
      int64_t size = file.getFileSize64(quiet);
      int64_t position = file.getPosition();
      if (!link.empty()) {
        reason += " failed: '" + shown(link) +
                  "' is a symbolic link, and extract does not follow links";
      } else if (archive.integrityDamaged()) {
        reason += " failed: the self-extractor is damaged, download it again";
      } else if (size >= 0 && position >= size) {
        reason += " failed: the self-extractor is incomplete (it ends after " +
                  std::to_string(size) + " bytes), download it again";
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
    if (skipped && !isDirectory && entryPath.getSize() > 0) {
      ++stats->kept;
      if (opts.verbose)
        fprintf(report, "sfxpack: kept '%s' (it exists already)\n",
                shown(entryPath.getString()).c_str());
      continue;
    }
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
    std::string size = meter.type() == sfx::kEntryDirectory || *kind == 'o'
                           ? "-"
                           : std::to_string(meter.plainSize());
    char attributes[16];
    snprintf(attributes, sizeof attributes, "0x%08x", meter.attributes());
    char crc[16] = "-";
    sfx::IntegrityEntry row;
    if (archive.lastIntegrityEntry(&row) && row.type == sfx::kEntryFile)
      snprintf(crc, sizeof crc, "%08x", row.crc);
    fprintf(listing, "%-5s %12s  %s  %-10s  %-8s  %s\n", kind, size.c_str(),
            formatFileTime(meter.fileTime()).c_str(), attributes, crc,
            entryPath.getString());
  }
}

}  // namespace sfxpack
