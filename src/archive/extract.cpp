// Extraction of one entry record: a directory, a file (its chunks stored or
// deflated, decrypted when the payload is encrypted), or an entry of another
// type that is read and skipped.
#include <cstring>
#include <memory>
#include <new>

#include "archive/simple_archive.h"
#include "codec/inflate.h"
#include "fs/file.h"
#include "fs/file_time.h"
#include "fs/path_rules.h"
#include "log/log_base.h"
#include "os/os.h"
#include "stream/data_source.h"
#include "stream/output.h"
#include "stream/output_file.h"
#include "stream/progress_monitor.h"
#include "text/data_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace {

constexpr uint32_t kStoredBit = 0x80000000u;
constexpr uint32_t kAttrHidden = 0x2;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint8_t kTypeEnd = 0;
constexpr uint8_t kTypeDirectory = 1;
constexpr uint8_t kTypeFile = 2;

uint32_t le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// A component that Windows would read as ".." once it drops the trailing
// dots and spaces of each component ("..", "...", ".. ").
bool isParentComponent(const char* begin, const char* end) {
  if (end - begin < 2) return false;
  for (const char* p = begin; p < end; ++p) {
    if (*p != '.' && *p != ' ') return false;
  }
  return begin[0] == '.' && begin[1] == '.';
}

}  // namespace

bool isSafeEntryName(const char* name) {
  if (!name || !*name) return false;
  if (isSeparator(name[0])) return false;  // rooted, UNC or device namespace
  if (name[1] == ':') return false;        // drive-qualified
  const char* start = name;
  for (const char* p = name;; ++p) {
    if (*p == '\0' || isSeparator(*p)) {
      if (isParentComponent(start, p)) return false;
      if (*p == '\0') return true;
      start = p + 1;
    }
  }
}

bool SimpleArchive::extractSaToFile(bool dryRun, bool* endOfArchive,
                                    const XString* baseDir, StringBuffer& path,
                                    bool* isDirectory, ExtPtrArray* undo,
                                    bool* skipped, ProgressMonitor* pm,
                                    LogBase& log) {
  LogContextExitor ctx(log, "extractSaToFile");
  path.clear();
  *isDirectory = false;
  *skipped = false;
  *endOfArchive = true;
  if (!source_) {
    log.logError("No source.");
    return false;
  }

  unsigned char word[8];
  uint32_t got = 0;
  if (!source_->readSourcePM(word, 4, &got, pm, log) || got < 4) {
    log.logError("Failed to find file marker");
    if (source_->endOfStream()) log.logError("End of stream.");
    return false;
  }
  uint32_t marker = le32(word);
  if (marker != kEntryMarker) {
    log.logError("File marker is invalid.");
    log.logDataUint32("marker", marker);
    return false;
  }
  unsigned char type = 0;
  if (!readExact(&type, 1, pm, log)) {
    log.logError("Failed to get entry type.");
    return false;
  }
  if (type == kTypeEnd) {
    log.logInfo("Found end of archive.");
    return true;
  }

  if (!readExact(word, 2, pm, log)) {
    log.logError("Failed to get filename length");
    return false;
  }
  uint32_t nameLen = static_cast<uint32_t>(word[0] | word[1] << 8);
  std::unique_ptr<char[]> stored(new (std::nothrow) char[nameLen + 1u]);
  if (!stored) return false;
  if (!readExact(stored.get(), nameLen, pm, log)) {
    log.logError("Failed to get filename");
    return false;
  }
  XString name;
  if (encrypted_) {
    DataBuffer cipherText, plain;
    if (!cipherText.append(stored.get(), nameLen) ||
        !decryptor_.decryptBuffer(cipherText, plain, log)) {
      return false;
    }
    name.setFromUtf8N(reinterpret_cast<const char*>(plain.getData()),
                      plain.getSize());
  } else {
    name.setFromUtf8N(stored.get(), nameLen);
  }

  if (!readExact(word, 8, pm, log)) {
    log.logError("Failed to get filetime");
    return false;
  }
  uint64_t localTime = static_cast<uint64_t>(le32(word)) |
                       static_cast<uint64_t>(le32(word + 4)) << 32;
  uint64_t utcTime = localTime;
  localFileTimeToUtc(localTime, &utcTime);
  if (!readExact(word, 4, pm, log)) {
    log.logError("Failed to get file attributes");
    return false;
  }
  uint32_t attributes = le32(word);
  if (type != kTypeDirectory && type != kTypeFile) {
    *endOfArchive = false;
    return true;
  }

  // The name must stay inside the unzip directory; a ":" in it would name
  // an alternate data stream, so it is repaired like other refused bytes.
  if (!isSafeEntryName(name.getUtf8())) {
    log.logError("Unsafe path in archive entry.");
    log.logData("filename", name.getUtf8());
    return false;
  }
  StringBuffer repaired(name.getUtf8());
  repaired.replaceChar(':', '_');
  name.setFromUtf8Sb(repaired);
  XString full;
  if (baseDir) {
    joinPath(*baseDir, name, full);
  } else {
    full.copyFrom(name);
  }
  sanitizeFileName(full, true, nullptr);

  if (type == kTypeDirectory) {
    *isDirectory = true;
    if (!dryRun && !ensureDir(full, undo, log)) {
      log.logError("Failed to ensure directory exists.");
      return false;
    }
    path.setString(full.getUtf8());
    if (!dryRun) setDirectoryTime(full, utcTime, nullptr);
    *endOfArchive = false;
    return true;
  }

  if (!dryRun) {
    XString dirPart;
    LogNull quiet;
    if (!ensureFile(full, &dirPart, undo, quiet)) {
      ensureFile(full, &dirPart, nullptr, log);
      log.logError("Failed to ensure file can be created.");
      log.logData("filename", full.getUtf8());
      return false;
    }
  }
  path.setString(full.getUtf8());

  MarlithHandle handle;
  if (!dryRun) {
    int errorKind = 0;
    bool opened = (attributes & kAttrHidden)
                      ? openForWriteHiddenWin32(full, handle, &errorKind, &log)
                      : openForWriteWin32(full, handle, &errorKind, &log);
    if (!opened) {
      if (path.getSize() >= 9 &&
          strcmp(path.getString() + path.getSize() - 9, "Thumbs.db") == 0) {
        *skipped = true;
      } else {
        log.logError("Failed to open file.");
        return false;
      }
    }
  }
  std::unique_ptr<Output> output;
  OutputFile* file = nullptr;
  if (dryRun || *skipped) {
    output.reset(new (std::nothrow) Output());
  } else {
    file = new (std::nothrow) OutputFile(path.getString(), handle);
    output.reset(file);
  }
  if (!output) return false;

  DataBuffer plain;
  for (;;) {
    if (!source_->readSourcePM(word, 4, &got, pm, log) || got < 4) {
      log.logError("Failed to read compressed size.");
      return false;
    }
    uint32_t sizeWord = le32(word);
    if (sizeWord == 0) break;
    bool isStored = (sizeWord & kStoredBit) != 0;
    uint32_t size = sizeWord & ~kStoredBit;
    if (size >= kChunkBufferSize) {
      log.logError("Too much data.");
      return false;
    }
    if (!chunkBuffer_) {
      log.logError("Internal memory error.");
      return false;
    }
    if (!readExact(chunkBuffer_, size, pm, log)) {
      log.logError("Failed to read compressed data.");
      return false;
    }
    const uint8_t* data = chunkBuffer_;
    uint32_t count = size;
    if (encrypted_) {
      DataBuffer cipherText;
      cipherText.borrowData(chunkBuffer_, size);
      if (!decryptor_.decryptBuffer(cipherText, plain, log)) return false;
      data = plain.getData();
      count = plain.getSize();
    }
    if (isStored) {
      if (!output->writeBytesPM(data, count, pm, log)) {
        log.logError("Failed to write file data.");
        return false;
      }
      continue;
    }
    // The chunk is inflated straight into the output, window by window, so
    // memory stays bounded however far the chunk expands.
    InflateState state(false, false);
    MemoryDataSource chunk;
    chunk.setData(data, count);
    bool decoded = inflateSource(state, chunk, 0, *output, pm, log);
    if (pm && pm->isAborted()) return false;
    if (output->failed()) {
      log.logError("Failed to write file data.");
      return false;
    }
    if (!decoded || !state.finished) {
      log.logError("Failed to inflate compressed data.");
      return false;
    }
  }

  if (file && file->isOpen()) {
    file->setFileTime(FileTime::fromFileTime(utcTime), &log);
    file->close();
    if (attributes != kAttrArchive) setFileAttributes(full, attributes, &log);
  }
  *endOfArchive = false;
  return true;
}

}  // namespace sfx
