// Extraction of one entry record: a directory, a file (its chunks stored or
// deflated, decrypted when the payload is encrypted), or an entry of another
// type that is read and skipped.
#include <cstring>
#include <memory>
#include <new>

#include "archive/simple_archive.h"
#include "archive/payload_format.h"
#include "archive/decoder_pool.h"
#include "codec/crc32.h"
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
#include "text/little_endian.h"
#include "text/xstring.h"

namespace sfx {
namespace {

// Passes every write on to another output and keeps the CRC-32 of the
// bytes, so that a file's CRC is taken while it is written.
class CrcOutput : public Output {
 public:
  CrcOutput(Output* inner, bool on) : inner_(inner), on_(on) {}
  bool writeBytes(const void* data, uint32_t count, ProgressMonitor* pm,
                  LogBase& log) override {
    if (on_) state_ = ZipCRC::updateState(state_, data, count);
    if (inner_->writeBytes(data, count, pm, log)) return true;
    writeFailed_ = true;
    return false;
  }
  uint32_t crc() const { return ~state_; }
  // The file itself refused bytes (a full disk, a failed write), as opposed
  // to data that could not be read or decoded.
  bool writeFailed() const { return writeFailed_; }

 private:
  Output* inner_;
  bool on_;
  uint32_t state_ = 0xFFFFFFFFu;
  bool writeFailed_ = false;
};

bool sameBytes(const IntegrityEntry& e, const char* bytes, uint32_t count) {
  return e.nameLength == count &&
         (count == 0 || memcmp(e.name, bytes, count) == 0);
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

// Reads the next chunk of the current file entry into `slot`. Returns kEnd
// at the entry's end word. On failure returns kFailed and puts the message
// to log into *failure: the caller logs it once the chunks before this one
// are written, so that their failures come first as they always did. The
// reads report no progress but still see an abort, which fails the read as
// an aborted source read does.
SimpleArchive::ChunkRead SimpleArchive::readChunk(
    ChunkSlot& slot, uint32_t entry, uint32_t chunk, ProgressMonitor* pm,
    LogBase& log, const char** failure, uint32_t* endBytes) {
  auto aborted = [&]() {
    if (!pm || !pm->pollAbort()) return false;
    log.logError("Source read aborted by application callback.");
    return true;
  };
  ChunkSlot::Input& in = slot.in;
  unsigned char word[4];
  uint32_t got = 0;
  if (!source_->readSourcePM(word, 4, &got, nullptr, log) || got < 4 ||
      aborted()) {
    *failure = "Failed to read compressed size.";
    return ChunkRead::kFailed;
  }
  uint32_t sizeWord = loadLe32(word);
  if (sizeWord == 0) {
    *endBytes = 4;
    return ChunkRead::kEnd;
  }
  uint32_t size = sizeWord & kChunkSizeMask;
  if (size >= kChunkBufferSize) {
    *failure = "Too much data.";
    return ChunkRead::kFailed;
  }
  if (!slot.reserveInput(size)) {
    *failure = "Internal memory error.";
    return ChunkRead::kFailed;
  }
  if (!readExact(in.buffer, size, nullptr, log) || aborted()) {
    *failure = "Failed to read compressed data.";
    return ChunkRead::kFailed;
  }
  in.size = size;
  in.stored = (sizeWord & kStoredChunkBit) != 0;
  in.endPosition = source_->getPosition();
  in.encrypted = encrypted_;
  // The slot is idle here, so its cipher may be set up for this chunk.
  if (encrypted_ &&
      (!in.cipher.copySettingsFrom(decryptor_) ||
       (hasKdf_ && !setPieceIv(in.cipher, kdf_, entry, chunkPiece(chunk))))) {
    *failure = "Internal memory error.";
    return ChunkRead::kFailed;
  }
  in.progressBytes = 4 + size;
  return ChunkRead::kChunk;
}

bool SimpleArchive::reportDeferred(uint32_t bytes, ProgressMonitor* pm,
                                   LogBase& log) {
  if (!pm || bytes == 0 || !source_->progressByBytes()) return true;
  if (!pm->consumeBytes(bytes, log)) return true;
  log.logError("Source read aborted by application callback.");
  return false;
}

// Inflates deflated bytes straight into the output, window by window, so
// memory stays bounded however far the chunk expands. This is the path of
// every chunk the whole-buffer decoder did not take, and it writes and logs
// what it always did.
bool SimpleArchive::inflateStreaming(const uint8_t* data, uint32_t count,
                                     Output* output, ProgressMonitor* pm,
                                     LogBase& log) {
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
  return true;
}

// Writes a decoded slot's bytes to the output, or decodes the chunk on this
// thread when the decoder left it to the streaming path.
bool SimpleArchive::writeChunk(ChunkSlot& slot, Output* output,
                               ProgressMonitor* pm, LogBase& log) {
  const ChunkSlot::Decoded& out = slot.out;
  const uint8_t* data = out.data;
  uint32_t count = out.count;
  if (out.outcome == ChunkSlot::kStreamCipher) {
    DataBuffer cipherText;
    cipherText.borrowData(slot.in.buffer, slot.in.size);
    if (!slot.in.cipher.decryptBuffer(cipherText, plain_, log)) return false;
    data = plain_.getData();
    count = plain_.getSize();
  }
  if (out.outcome != ChunkSlot::kPlain && !slot.in.stored) {
    return inflateStreaming(data, count, output, pm, log);
  }
  if (!out.inflated) {
    if (!output->writeBytesPM(data, count, pm, log)) {
      log.logError("Failed to write file data.");
      return false;
    }
    return true;
  }
  // Inflated bytes go out in pieces of the streaming decoder's half window,
  // so that progress and an abort are seen as often as before.
  const uint32_t kPiece = 32768;
  bool ok = true;
  output->beginTransfer();
  for (uint32_t done = 0; ok && done < count; done += kPiece) {
    uint32_t n = count - done < kPiece ? count - done : kPiece;
    ok = output->writeBytesPM(data + done, n, pm, log);
  }
  output->endTransfer();
  if (ok) return true;
  if (!(pm && pm->isAborted())) log.logError("Failed to write file data.");
  return false;
}

bool SimpleArchive::deliverChunk(ChunkSlot& slot, Output* output,
                                 ProgressMonitor* pm, LogBase& log) {
  return writeChunk(slot, output, pm, log) &&
         reportDeferred(slot.in.progressBytes, pm, log);
}

void SimpleArchive::abandonReadAhead(int64_t position) {
  if (pool_) pool_->cancel();
  if (ahead_) {
    ahead_->first = 0;
    ahead_->count = 0;
    ahead_->current = false;
    ahead_->stopped = false;
    ahead_->issued = 0;
    ahead_->written = 0;
  }
  pending_ = nullptr;
  if (position < 0 || !source_) return;
  LogNull quiet;
  source_->seekAbsolute(position, quiet);
}

bool SimpleArchive::readAheadStep(DecoderPool& pool) {
  ReadAhead& a = *ahead_;
  if (a.stopped) return false;
  LogNull quiet;
  if (a.count > 0 && !a.back().ended) {
    PendingEntry& e = a.back();
    ChunkSlot& slot =
        pool.slot(static_cast<uint32_t>(a.issued % pool.slotCount()));
    const char* failure = nullptr;
    uint32_t endBytes = 0;
    ChunkRead r = readChunk(slot, e.number, e.chunksRead, nullptr, quiet,
                            &failure, &endBytes);
    if (r == ChunkRead::kFailed) {
      // Left to the entry's own call, which reads it again and fails.
      e.failed = true;
      a.stopped = true;
      return false;
    }
    if (r == ChunkRead::kEnd) {
      e.ended = true;
      e.endPosition = source_->getPosition();
      return true;
    }
    ++e.chunksRead;
    ++e.inFlight;
    pool.submit(slot);
    ++a.issued;
    return true;
  }
  if (a.count == ReadAhead::kMaxPending) return false;
  const int64_t start = source_->getPosition();
  auto stop = [&]() {
    source_->seekAbsolute(start, quiet);
    a.stopped = true;
    return false;
  };
  // Marker, type and name length; then the name, the time and the
  // attributes.
  unsigned char fixed[kEntryHeadBytes];
  if (!readExact(fixed, kEntryHeadBytes, nullptr, quiet) || loadLe32(fixed) != kEntryMarker ||
      (fixed[4] != kEntryDirectory && fixed[4] != kEntryFile)) {
    return stop();
  }
  const uint32_t rest = loadLe16(fixed + 5) + kEntryTimeAttrBytes;
  PendingEntry& e = a.entries[(a.first + a.count) % ReadAhead::kMaxPending];
  e.header.clear();
  if (!e.header.ensureCapacity(kEntryHeadBytes + rest) ||
      !e.header.append(fixed, kEntryHeadBytes))
    return stop();
  unsigned char small[256];
  std::unique_ptr<unsigned char[]> large;
  unsigned char* bytes = small;
  if (rest > sizeof small) {
    large.reset(new (std::nothrow) unsigned char[rest]);
    if (!large) return stop();
    bytes = large.get();
  }
  if (!readExact(bytes, rest, nullptr, quiet) || !e.header.append(bytes, rest))
    return stop();
  e.start = start;
  e.number = entryCount_ + a.count - (a.current ? 1 : 0);
  e.chunksRead = 0;
  e.inFlight = 0;
  e.failed = false;
  e.ended = fixed[4] == kEntryDirectory;
  e.endPosition = e.ended ? source_->getPosition() : 0;
  ++a.count;
  return true;
}

bool SimpleArchive::readHeaderField(void* buf, uint32_t count,
                                    ProgressMonitor* pm, LogBase& log) {
  if (!pending_) return readExact(buf, count, pm, log);
  if (count == 0) return true;
  PendingEntry& e = *pending_;
  memcpy(buf, e.header.getData() + headerOffset_, count);
  headerOffset_ += count;
  settled_ = e.start + headerOffset_;
  if (!pm) return true;
  bool aborted = source_->progressByBytes() ? pm->consumeBytes(count, log)
                                            : pm->pollAbort();
  if (!aborted) return true;
  log.logError("Source read aborted by application callback.");
  abandonReadAhead(settled_);
  return false;
}

// Reads, decodes and writes one chunk on this thread, its progress
// reported once it is written. kEnd: the end word was read (and counted);
// kFailed: the entry fails, and the reason is logged.
SimpleArchive::ChunkRead SimpleArchive::copyChunkHere(ChunkSlot& slot,
                                                      Output* output,
                                                      ProgressMonitor* pm,
                                                      LogBase& log) {
  const char* failure = nullptr;
  uint32_t endBytes = 0;
  ChunkRead r =
      readChunk(slot, currentEntry_, chunkCount_, pm, log, &failure, &endBytes);
  if (r == ChunkRead::kEnd) {
    return reportDeferred(endBytes, pm, log) ? r : ChunkRead::kFailed;
  }
  if (r == ChunkRead::kFailed) {
    log.logError(failure);
    return r;
  }
  ++chunkCount_;
  decodeChunk(slot);
  return deliverChunk(slot, output, pm, log) ? ChunkRead::kChunk
                                             : ChunkRead::kFailed;
}

DecoderPool* SimpleArchive::decoderPool() {
  uint32_t wanted = resolveDecoderCount(decoderThreads_);
  if (pool_ && poolWanted_ == wanted) return pool_->decoders() ? pool_ : nullptr;
  if (ahead_ && ahead_->active()) abandonReadAhead(settled_);
  delete pool_;
  pool_ = nullptr;
  poolWanted_ = wanted;
  if (wanted < 2) return nullptr;
  pool_ = new (std::nothrow) DecoderPool();
  if (!pool_) return nullptr;
  return pool_->start(wanted) ? pool_ : nullptr;
}

uint32_t SimpleArchive::decoderCount() {
  DecoderPool* pool = decoderPool();
  return pool ? pool->decoders() : 1;
}

uint64_t SimpleArchive::decodeMemory() const {
  uint64_t total = 0;
  auto add = [&total](const ChunkSlot& s) {
    if (s.in.ownsBuffer) total += s.in.capacity;
    total += s.out.buffer.getCapacity();
  };
  if (inlineSlot_) add(*inlineSlot_);
  if (pool_) {
    for (uint32_t i = 0; i < pool_->slotCount(); ++i) add(pool_->slot(i));
  }
  return total;
}

// Reads the chunks of the current file entry up to its end word and writes
// their plain bytes to `output`, in order. With decoders, chunks are read
// ahead, up to one per slot, and decoded on the pool while earlier ones are
// written; once the entry's end word is read, the reading goes on into the
// records after it (readAheadStep). A failure or an abort stops the
// reading, and the chunks being decoded are waited for before returning.
bool SimpleArchive::copyChunks(Output* output, ProgressMonitor* pm,
                               LogBase& log, bool lookAhead) {
  const char* failure = nullptr;
  DecoderPool* pool = decoderPool();
  if (!pool) {
    chunkCount_ = 0;
    if (!inlineSlot_) inlineSlot_ = new (std::nothrow) ChunkSlot();
    if (!inlineSlot_ || !chunkBuffer_) {
      log.logError("Internal memory error.");
      return false;
    }
    ChunkSlot& slot = *inlineSlot_;
    if (slot.in.buffer != chunkBuffer_) slot.lendInput(chunkBuffer_, kChunkBufferSize);
    for (;;) {
      ChunkRead r = copyChunkHere(slot, output, pm, log);
      if (r != ChunkRead::kChunk) return r == ChunkRead::kEnd;
    }
  }
  if (!ahead_) ahead_ = new (std::nothrow) ReadAhead();
  if (!ahead_) {
    log.logError("Internal memory error.");
    return false;
  }
  ReadAhead& a = *ahead_;
  const uint32_t slots = pool->slotCount();
  // The entry as far as it was read ahead, if it was.
  PendingEntry* cur = a.current ? &a.front() : nullptr;
  uint32_t chunk = cur ? cur->chunksRead : 0;
  uint32_t inFlight = cur ? cur->inFlight : 0;
  bool ended = cur && cur->ended;
  int64_t endPosition = cur ? cur->endPosition : 0;
  // The progress of each chunk is reported once it is written, so that it
  // counts what is on disk; the end word's after the last chunk.
  uint32_t endBytes = ended ? 4 : 0;
  // Takes back the oldest chunk submitted, which is this entry's, and
  // writes it. A chunk that fails leaves the source just after it, as when
  // chunks are read one at a time; everything read ahead is dropped.
  auto writeOldest = [&]() {
    ChunkSlot& oldest = pool->slot(static_cast<uint32_t>(a.written % slots));
    pool->waitDecoded(oldest);
    ++a.written;
    --inFlight;
    if (deliverChunk(oldest, output, pm, log)) return true;
    abandonReadAhead(oldest.in.endPosition);
    return false;
  };
  while (!ended) {
    if (a.issued - a.written == slots && !writeOldest()) return false;
    ChunkSlot& next = pool->slot(static_cast<uint32_t>(a.issued % slots));
    ChunkRead r = readChunk(next, currentEntry_, chunk, pm, log, &failure,
                            &endBytes);
    if (r == ChunkRead::kFailed) break;
    if (r == ChunkRead::kEnd) {
      ended = true;
      endPosition = source_->getPosition();
      break;
    }
    ++chunk;
    pool->submit(next);
    ++a.issued;
    ++inFlight;
  }
  if (failure) {
    // An abort ends the entry at once; a chunk that could not be read is
    // reported after the chunks before it. Nothing lies read ahead beyond
    // this entry, and the source stays where the read failed.
    if (!(pm && pm->isAborted())) {
      while (inFlight > 0) {
        if (!writeOldest()) return false;
      }
    }
    abandonReadAhead(-1);
    log.logError(failure);
    return false;
  }
  // The entry is read: its remaining chunks are written while the records
  // after it are read ahead into the slots that come free.
  if (cur) cur->ended = true;
  while (inFlight > 0) {
    if (lookAhead && a.issued - a.written < slots && readAheadStep(*pool))
      continue;
    if (!writeOldest()) return false;
  }
  if (cur) {
    a.first = (a.first + 1) % ReadAhead::kMaxPending;
    --a.count;
  }
  a.current = false;
  pending_ = nullptr;
  settled_ = endPosition;
  if (lookAhead) {
    while (a.issued - a.written < slots && readAheadStep(*pool)) {
    }
  }
  return reportDeferred(endBytes, pm, log);
}

bool SimpleArchive::integrityDataFault(const StringBuffer& name) {
  integrityDamaged_ = true;
  damagedName_.setStringN(name.getString(), name.getSize());
  damagedWhat_ = "data";
  return false;
}

bool SimpleArchive::extractSaToFile(bool dryRun, bool* endOfArchive,
                                    const XString* baseDir, StringBuffer& path,
                                    bool* isDirectory, ExtPtrArray* undo,
                                    bool* skipped, ProgressMonitor* pm,
                                    LogBase& log) {
  LogContextExitor ctx(log, "extractSaToFile");
  bool ok = extractEntry(dryRun, endOfArchive, baseDir, path, isDirectory,
                         undo, skipped, pm, log);
  // A failed entry leaves nothing read ahead, and the source where reading
  // one entry at a time would have left it.
  if (!ok && ahead_ && ahead_->active()) abandonReadAhead(settled_);
  return ok;
}

bool SimpleArchive::extractEntry(bool dryRun, bool* endOfArchive,
                                 const XString* baseDir, StringBuffer& path,
                                 bool* isDirectory, ExtPtrArray* undo,
                                 bool* skipped, ProgressMonitor* pm,
                                 LogBase& log) {
  path.clear();
  *isDirectory = false;
  *skipped = false;
  *endOfArchive = true;
  if (!source_) {
    log.logError("No source.");
    return false;
  }
  resumable_ = false;
  lastFileCreated_ = false;
  haveLastEntry_ = false;
  if (!integrityLoaded_ && !loadIntegrity(log)) return false;

  // The record may have been read ahead while the one before was written.
  pending_ = nullptr;
  if (ahead_ && ahead_->count > 0) {
    if (ahead_->front().failed) {
      abandonReadAhead(ahead_->front().start);
    } else {
      pending_ = &ahead_->front();
      headerOffset_ = 0;
      ahead_->current = true;
    }
  } else if (ahead_) {
    ahead_->stopped = false;
  }

  unsigned char word[8];
  if (!readHeaderField(word, 4, pm, log)) {
    log.logError("Failed to find file marker");
    if (source_->endOfStream()) log.logError("End of stream.");
    return false;
  }
  uint32_t marker = loadLe32(word);
  if (marker != kEntryMarker) {
    log.logError("File marker is invalid.");
    log.logDataUint32("marker", marker);
    return false;
  }
  unsigned char type = 0;
  if (!readHeaderField(&type, 1, pm, log)) {
    log.logError("Failed to get entry type.");
    return false;
  }
  if (type != kEntryEnd) currentEntry_ = entryCount_++;
  if (type == kEntryEnd) {
    IntegrityEntry missing;
    if (integrityActive_ && integrityLeft_ > 0 &&
        readIntegrityEntry(integrity_.getData(), integrity_.getSize(),
                           &integrityPos_, &missing)) {
      StringBuffer missingName;
      missingName.appendN(reinterpret_cast<const char*>(missing.name),
                          missing.nameLength);
      return integrityMismatch(missingName, "missing", log);
    }
    log.logInfo("Found end of archive.");
    return true;
  }

  if (!readHeaderField(word, 2, pm, log)) {
    log.logError("Failed to get filename length");
    return false;
  }
  uint32_t nameLen = loadLe16(word);
  std::unique_ptr<char[]> stored(new (std::nothrow) char[nameLen + 1u]);
  if (!stored) return false;
  if (!readHeaderField(stored.get(), nameLen, pm, log)) {
    log.logError("Failed to get filename");
    return false;
  }
  XString name;
  DataBuffer plainName;
  const char* nameBytes = stored.get();
  uint32_t nameCount = nameLen;
  if (encrypted_) {
    DataBuffer cipherText;
    if (!cipherText.append(stored.get(), nameLen) ||
        (hasKdf_ &&
         !setPieceIv(decryptor_, kdf_, currentEntry_, kPieceName)) ||
        !decryptor_.decryptBuffer(cipherText, plainName, log)) {
      return false;
    }
    nameBytes = reinterpret_cast<const char*>(plainName.getData());
    nameCount = plainName.getSize();
  }
  name.setFromUtf8N(nameBytes, nameCount);

  if (!readHeaderField(word, 8, pm, log)) {
    log.logError("Failed to get filetime");
    return false;
  }
  uint64_t localTime = static_cast<uint64_t>(loadLe32(word)) |
                       static_cast<uint64_t>(loadLe32(word + 4)) << 32;
  uint64_t utcTime = localTime;
  localFileTimeToUtc(localTime, &utcTime);
  if (!readHeaderField(word, 4, pm, log)) {
    log.logError("Failed to get file attributes");
    return false;
  }
  uint32_t attributes = loadLe32(word);
  if (pending_ && type == kEntryDirectory) {
    // A directory has no chunks: the record read ahead is used up.
    ahead_->first = (ahead_->first + 1) % ReadAhead::kMaxPending;
    --ahead_->count;
    ahead_->current = false;
    pending_ = nullptr;
  }

  // Against the integrity record: an entry that differs is read to its end
  // as a dry run, so nothing is created for it, and then fails.
  const char* mismatch = nullptr;
  StringBuffer packedName;
  packedName.appendN(nameBytes, nameCount);
  if (integrityActive_) {
    if (integrityLeft_ == 0 ||
        !readIntegrityEntry(integrity_.getData(), integrity_.getSize(),
                            &integrityPos_, &lastEntry_)) {
      mismatch = "extra";
    } else {
      --integrityLeft_;
      haveLastEntry_ = true;
      if (lastEntry_.type != type) {
        mismatch = "type";
      } else if (!sameBytes(lastEntry_, nameBytes, nameCount)) {
        mismatch = "name";
      } else if (lastEntry_.fileTime != localTime) {
        mismatch = "time";
      } else if (lastEntry_.attributes != attributes) {
        mismatch = "attributes";
      }
      if (mismatch) {
        packedName.clear();
        packedName.appendN(reinterpret_cast<const char*>(lastEntry_.name),
                           lastEntry_.nameLength);
      }
    }
    if (mismatch) dryRun = true;
  }

  if (type != kEntryDirectory && type != kEntryFile) {
    if (mismatch) {
      resumable_ = true;
      return integrityMismatch(packedName, mismatch, log);
    }
    *endOfArchive = false;
    return true;
  }

  // The name must stay inside the unzip directory; a ":" in it would name
  // an alternate data stream, so it is repaired like other refused bytes.
  if (!isSafeEntryName(name.getUtf8())) {
    if (mismatch) return integrityMismatch(packedName, mismatch, log);
    path.setString(name.getUtf8());  // names the entry in the caller's report
    log.logError("Unsafe path in archive entry.");
    log.logData("filename", name.getUtf8());
    return false;
  }
  StringBuffer repaired(name.getUtf8());
  repaired.replaceChar(':', '_');
  name.setFromUtf8Sb(repaired);
  // Only the name from the payload is repaired; the base directory is the
  // caller's and stays as given.
  sanitizeFileName(name, true, nullptr);
  XString full;
  if (baseDir) {
    joinPath(*baseDir, name, full);
  } else {
    full.copyFrom(name);
  }

  if (type == kEntryDirectory) {
    *isDirectory = true;
    if (!dryRun && !ensureDir(full, undo, log)) {
      log.logError("Failed to ensure directory exists.");
      return false;
    }
    path.setString(full.getUtf8());
    if (mismatch) {
      resumable_ = true;
      return integrityMismatch(packedName, mismatch, log);
    }
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
  bool created = false;
  if (!dryRun && keepExisting_ && fileExists(full, nullptr)) *skipped = true;
  if (!dryRun && !*skipped) {
    created = !fileExists(full, nullptr);
    // A file that exists already is replaced only by data that decodes (and
    // matches the record, when there is one): the entry's chunks are decoded
    // once without writing, and the file is opened (and so truncated) only
    // when that worked. A new file costs no second pass.
    if (!created) {
      // The probe reads the entry from the source, and nothing beyond it.
      if (ahead_ && ahead_->active()) abandonReadAhead(settled_);
      int64_t start = source_->getPosition();
      Output discard;
      CrcOutput probe(&discard, integrityActive_ && !mismatch);
      if (!copyChunks(&probe, nullptr, log, false)) {
        if (integrityActive_ && !mismatch)
          return integrityDataFault(packedName);
        return false;
      }
      if (!integrityActive_ || mismatch) {
        // Nothing to compare.
      } else if (probe.totalWritten() != lastEntry_.size) {
        mismatch = "size";
      } else if (probe.crc() != lastEntry_.crc) {
        mismatch = "crc";
      }
      if (mismatch) {
        resumable_ = true;
        return integrityMismatch(packedName, mismatch, log);
      }
      if (!source_->seekAbsolute(start, log)) return false;
    }
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
  std::unique_ptr<Output> sink;
  OutputFile* file = nullptr;
  if (dryRun || *skipped) {
    sink.reset(new (std::nothrow) Output());
  } else {
    file = new (std::nothrow) OutputFile(path.getString(), handle);
    sink.reset(file);
  }
  if (!sink) return false;
  // Every write goes through the CRC, which is kept only when there is a
  // record to check it against.
  CrcOutput checked(sink.get(), integrityActive_ && !mismatch);
  Output* output = &checked;

  // Reading ahead across entries stays off until the packer's entry meter,
  // which counts the bytes each entry reads from the source, allows it.
  if (!copyChunks(output, pm, log, false)) {
    // A failed entry leaves no half-written file: one this call created is
    // deleted again (an existing one was opened only after its data
    // decoded). With the record, data that cannot be read or decoded is
    // damage; a write the disk refused, or an abort, is not.
    if (file && file->isOpen()) file->close();
    if (created && file) deleteFile(full, nullptr);
    bool aborted = pm && pm->isAborted();
    if (integrityActive_ && !mismatch && !aborted && !checked.writeFailed())
      return integrityDataFault(packedName);
    return false;
  }

  if (integrityActive_ && !mismatch) {
    if (checked.totalWritten() != lastEntry_.size) {
      mismatch = "size";
    } else if (checked.crc() != lastEntry_.crc) {
      mismatch = "crc";
    }
  }
  if (mismatch) {
    if (file && file->isOpen()) file->close();
    if (created) deleteFile(full, nullptr);
    resumable_ = true;
    return integrityMismatch(packedName, mismatch, log);
  }
  if (file && file->isOpen()) {
    file->setFileTime(FileTime::fromFileTime(utcTime), &log);
    file->close();
    if (attributes != kAttrArchive) setFileAttributes(full, attributes, &log);
  }
  lastFileCreated_ = created;
  *endOfArchive = false;
  return true;
}

}  // namespace sfx
