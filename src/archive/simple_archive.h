// The payload reader. A payload follows the stub in its own executable:
// marker, header, argument block, optional password verifier, entry records
// and the end-of-archive record. SimpleArchive reads it in order through a
// DataSource. With decoder threads it reads ahead over the entry records
// that follow a file, and seeks back only within the entry records: to a
// record it leaves to its own call (the end of the archive, another type),
// to a file's first chunk after decoding it once for a file that exists
// already, and, when an entry fails, to where reading one entry and one
// chunk at a time would have stopped.
#ifndef SFX_ARCHIVE_SIMPLE_ARCHIVE_H_
#define SFX_ARCHIVE_SIMPLE_ARCHIVE_H_

#include <cstdint>
#include "archive/integrity_record.h"
#include "archive/payload_format.h"
#include "codec/aes.h"
#include "codec/kdf.h"
#include "text/data_buffer.h"
#include "text/hash_map.h"
#include "text/string_buffer.h"

namespace sfx {

class DataSource;
class DecoderPool;
class ExtPtrArray;
class LogBase;
class Output;
class ProgressMonitor;
class XString;
struct ChunkSlot;
struct PendingEntry;
struct ReadAhead;

// Word 0 (0xBF6CD207) or word 1 (0xAAAB5921) of the payload marker.
uint32_t payloadMarkerWord(int index);

// False for an entry name that could leave the directory it is extracted
// into: empty, absolute ("\x", "/x"), drive-qualified ("C:x"), UNC or in a
// device namespace ("\\srv", "\\?\", "//?/"), or with a ".." component
// when both "/" and "\" separate components.
bool isSafeEntryName(const char* name);

class SimpleArchive {
 public:
  // Allocates the chunk buffer; chunkBuffer() is null if that failed.
  SimpleArchive();
  virtual ~SimpleArchive();
  SimpleArchive(const SimpleArchive&) = delete;
  SimpleArchive& operator=(const SimpleArchive&) = delete;

  // Attaches the source every read goes through. Not owned; nothing is read.
  // Drops whatever was read ahead from the source before.
  void setSource(DataSource* source);
  DataSource* source() const { return source_; }

  // Scans from the source's position for the payload marker and leaves the
  // source just after it. Returns false when the source ends first.
  bool findMarker(LogBase& log, ProgressMonitor* pm);

  // Reads the 6-byte header. Clears *errorText first; on failure puts the
  // reason into it ("No source", "Failed to get 1st 6 bytes.").
  bool readHeader(StringBuffer& errorText, LogBase& log, ProgressMonitor* pm);

  // Reads the argument block: at most 200 records, a later record replacing
  // an earlier one of the same name. Stops after record 200 without reading
  // the terminator.
  bool readArgs(LogBase& log, ProgressMonitor* pm);

  // Clears `out`; if an argument of exactly that name was read, sets `out`
  // from its value taken as UTF-8 and returns true.
  bool getArg(const char* name, XString& out) const;

  // The password scheme of an encrypted payload, known after readArgs:
  // kdf() is null for the earlier, unsalted scheme (no `kdf` argument, or a
  // plain payload) and the salted scheme's settings otherwise. A `kdf`
  // argument that is malformed, names an unknown scheme or an iteration
  // count out of range makes kdfRefused() true, with the reason (one line)
  // in kdfError(); checkPassword then fails for every password, so callers
  // refuse the run before asking for one.
  const KdfSettings* kdf() const { return hasKdf_ ? &kdf_ : nullptr; }
  bool kdfRefused() const { return !kdfError_.isEmpty(); }
  const StringBuffer& kdfError() const { return kdfError_; }

  // Stores the password (8-bit text; null is the empty password) that
  // checkPassword tries.
  void setPassword(const char* password);

  // Tests the stored password against the payload's verifier block. Returns
  // false at once when the payload is not encrypted. Otherwise sets up the
  // decryptor (key length from the header, the key derived from the
  // password by deriveArchiveKey once, CBC) and decrypts the verifier: from `verifierCache` when that
  // holds bytes, else read from the source (a length byte and that many
  // bytes) and then appended to the cache. The cache belongs to the caller,
  // who keeps one for all attempts, so the block is read only once. True
  // exactly when the verifier decrypts to the 4 bytes "qmzv"; a wrong
  // password, a failed or short read and a failed decryption give false.
  bool checkPassword(LogBase& log, DataBuffer& verifierCache);

  // Reads one entry record and turns it into a directory or a file; see
  // extract.cpp for the order of work. Out values: *endOfArchive is true on
  // entry and cleared once an entry was handled (it stays true at the
  // end-of-archive record and after a failure); `path` gets the entry's
  // full path (UTF-8) once known; *isDirectory and *skipped (a "Thumbs.db"
  // that could not be opened) start false. With `dryRun` nothing is created
  // or written, yet all data is read, decrypted and inflated. `baseDir`, when
  // given, is joined in front of the name; `undo` collects the directories
  // created. Returns false, with the reason logged, on any failure,
  // including an entry name that would leave the unzip directory ("Unsafe
  // path in archive entry."), a chunk that does not decode and a write that
  // fails: a failed entry never counts as extracted, and the file created
  // for it is deleted again. A file that existed before is opened (and so
  // truncated) only after the entry's data was decoded once without
  // writing, so a decode error or a cut payload keeps its old content.
  //
  // When the payload carries an integrity record (integrity_record.h), the
  // first call checks it before reading anything (a damaged record, or a
  // configuration argument other than the packed one, fails the call), and
  // every call checks its entry against the record's next entry: type,
  // name, time and attributes before anything is created, and the size and
  // CRC-32 of the data while it is written. An entry that differs, an entry
  // beyond the record's list and an end of archive before its end fail the
  // call with "Entry does not match the integrity record."; a file written
  // for such an entry is deleted again when this call created it, a file
  // that existed before is opened only after the entry's data was decoded
  // once and matched, so damage never replaces it, and integrityDamaged()
  // is set. Without the record nothing is checked.
  //
  // With decoder threads, a call may read the records after its entry,
  // and their chunks, ahead into the decoders' slots; the next calls take
  // them in order, with the same results, messages and progress as when
  // they read them. A failed call drops what was read ahead and leaves the
  // source where reading one entry at a time would have left it. Reading
  // another payload (readArgs) or another source (setSource) drops it too.
  bool extractSaToFile(bool dryRun, bool* endOfArchive, const XString* baseDir,
                       StringBuffer& path, bool* isDirectory, ExtPtrArray* undo,
                       bool* skipped, ProgressMonitor* pm, LogBase& log);

  // The number of threads that decode the files' chunks (the configuration's
  // DecoderThreads): 0 or less is one per core (at most 2, so that memory
  // stays bounded), 1 decodes on the calling thread alone, more is that
  // many (at most 8). The decoders start with the first file that needs
  // them and are kept until the archive is destroyed; files are written
  // the same way whatever the count.
  void setDecoderThreads(int count) { decoderThreads_ = count; }
  int decoderThreads() const { return decoderThreads_; }
  // With false, a call reads nothing of the records after its entry: the
  // decoders still work ahead within a file, but the source delivers each
  // entry record's bytes during that entry's own call, as a reader that
  // watches the bytes between the source and the archive needs (the
  // packer's listing). True (reading ahead across entries) by default.
  void setReadAheadAcrossEntries(bool on) { readAheadAcrossEntries_ = on; }
  // With `keep`, a file entry whose path exists already is read without
  // writing it and reported through *skipped (the packer's
  // --skip-existing).
  void setKeepExistingFiles(bool keep) { keepExisting_ = keep; }
  // The decoders that run for the current setting (starting them when
  // they are not yet running); 1 when the calling thread decodes alone.
  uint32_t decoderCount();
  // Bytes held by the chunk buffers of the decoders and of the calling
  // thread, beyond the chunk buffer allocated with the archive.
  uint64_t decodeMemory() const;

  // The cipher context set up by checkPassword, for the entry names and
  // chunks of an encrypted payload. Under the salted scheme every piece
  // needs its own initialisation vector (setPieceIv) before it decrypts.
  AesCipher& decryptor() { return decryptor_; }

  // The integrity record's state. hasIntegrityRecord: a record of a known
  // version was found and is being enforced. integrityDamaged: the record,
  // the configuration or an entry was found to differ from what was packed;
  // damagedName() then names the entry (empty for the record itself and
  // the configuration).
  bool hasIntegrityRecord() const { return integrityActive_; }
  bool integrityDamaged() const { return integrityDamaged_; }
  const StringBuffer& damagedName() const { return damagedName_; }
  // What differed in the last damaged entry: "type", "name", "time",
  // "attributes", "size", "crc", "extra" or "missing" (empty otherwise).
  const char* damagedWhat() const { return damagedWhat_; }
  // After a failed extractSaToFile: true when the entry was read to its end
  // and only differed from the record, so the next call reads the next
  // entry. After a successful one: lastFileCreated() tells whether the file
  // did not exist before.
  bool lastEntryResumable() const { return resumable_; }
  bool lastFileCreated() const { return lastFileCreated_; }
  // The record's entry for the last entry read; false without a record or
  // when the entry lay beyond the record's list.
  bool lastIntegrityEntry(IntegrityEntry* out) const;

  bool isEncrypted() const { return encrypted_; }
  int keyLengthBits() const { return keyLengthBits_; }
  unsigned char* chunkBuffer() { return chunkBuffer_; }

 private:
  // Reads exactly `count` bytes; false on a failed or short read.
  bool readExact(void* buf, uint32_t count, ProgressMonitor* pm, LogBase& log);
  // Reads the current file entry's chunks up to its end word, decrypting
  // and inflating each, and writes the plain bytes to `output`. False, with
  // the reason logged, on a read, decode or write failure.
  // With `lookAhead` and decoder threads, the records after the entry and
  // their chunks are read ahead into free slots while its chunks are
  // written (readAheadStep).
  bool copyChunks(Output* output, ProgressMonitor* pm, LogBase& log,
                  bool lookAhead);
  // extractSaToFile without the clean-up after a failure.
  bool extractEntry(bool dryRun, bool* endOfArchive, const XString* baseDir,
                    StringBuffer& path, bool* isDirectory, ExtPtrArray* undo,
                    bool* skipped, ProgressMonitor* pm, LogBase& log);
  // Reads `count` bytes of the current entry record's header: from the
  // record read ahead when there is one, its progress reported now as the
  // read would have reported it, else from the source.
  bool readHeaderField(void* buf, uint32_t count, ProgressMonitor* pm,
                       LogBase& log);
  // One step of reading ahead, quietly and without progress: the next
  // chunk of the last pending entry into the next slot, or the next entry
  // record's header. False when nothing more is read ahead for now: no room
  // for another pending entry, or a record left to its own call (the end
  // of the archive, another type, a failed read), before which the source
  // is put back.
  bool readAheadStep(DecoderPool& pool);
  // Drops everything read ahead (the pool's slots taken back) and, unless
  // `position` is negative, puts the source there.
  void abandonReadAhead(int64_t position);
  enum class ChunkRead { kChunk, kEnd, kFailed };
  // Reads a chunk of entry `entry` (its number `chunk` within the entry)
  // into `slot`. The reads report no progress: their byte count is kept in
  // the slot (or in *endBytes for the end word) and reported when the
  // chunk is written, so that progress counts what is on disk even when
  // chunks are read ahead. An abort is still seen at every read.
  ChunkRead readChunk(ChunkSlot& slot, uint32_t entry, uint32_t chunk,
                      ProgressMonitor* pm, LogBase& log, const char** failure,
                      uint32_t* endBytes);
  ChunkRead copyChunkHere(ChunkSlot& slot, Output* output, ProgressMonitor* pm,
                          LogBase& log);
  // Reports progress held back for bytes read ahead; false on an abort.
  bool reportDeferred(uint32_t bytes, ProgressMonitor* pm, LogBase& log);
  bool writeChunk(ChunkSlot& slot, Output* output, ProgressMonitor* pm,
                  LogBase& log);
  // Writes a decoded chunk and then reports its held-back progress; false,
  // with the reason logged, when either fails.
  bool deliverChunk(ChunkSlot& slot, Output* output, ProgressMonitor* pm,
                    LogBase& log);
  bool inflateStreaming(const uint8_t* data, uint32_t count, Output* output,
                        ProgressMonitor* pm, LogBase& log);
  // The pool for the current setting, or null when the calling thread
  // decodes alone (also when no decoder could be started).
  DecoderPool* decoderPool();
  // Gathers the integrity record from its arguments, decrypts it in an
  // encrypted payload and checks its frame and the configuration's CRC.
  // True when there is no record, a record of another version, or a sound
  // one (then enforced); false, with integrityDamaged_ set, otherwise.
  bool loadIntegrity(LogBase& log);
  // Reads the `kdf` argument of an encrypted payload into kdf_ (or the
  // reason for refusing it into kdfError_).
  void loadKdf(LogBase& log);
  // Logs an entry that differs from the record ("what": type, name, time,
  // attributes, size, crc, extra, missing), sets integrityDamaged_ and
  // returns false.
  bool integrityMismatch(const StringBuffer& name, const char* what,
                         LogBase& log);
  // Data of an entry that could not be read or decoded while the record is
  // enforced: damage as well ("data"), its reason already logged. Returns
  // false.
  bool integrityDataFault(const StringBuffer& name);

  DataSource* source_ = nullptr;
  bool encrypted_ = false;
  int keyLengthBits_ = 128;
  HashMap args_{HashMap::kDefaultBuckets};
  unsigned char* chunkBuffer_ = nullptr;
  AesCipher decryptor_;
  DataBuffer plain_;  // a chunk decrypted on the calling thread
  int decoderThreads_ = 0;
  bool keepExisting_ = false;
  DecoderPool* pool_ = nullptr;
  uint32_t poolWanted_ = 0;
  bool readAheadAcrossEntries_ = true;
  ChunkSlot* inlineSlot_ = nullptr;
  ReadAhead* ahead_ = nullptr;
  PendingEntry* pending_ = nullptr;  // the current record, read ahead
  uint32_t headerOffset_ = 0;        // bytes of its header taken so far
  // Where reading one entry, one chunk at a time, would have left the
  // source: a failure puts it back there.
  int64_t settled_ = 0;
  StringBuffer password_;
  KdfSettings kdf_;
  bool hasKdf_ = false;
  StringBuffer kdfError_;
  uint32_t entryCount_ = 0;    // entry records met so far
  uint32_t currentEntry_ = 0;  // the number of the entry being read
  uint32_t chunkCount_ = 0;    // chunks of that entry read so far (alone)
  bool integrityLoaded_ = false;
  bool integrityActive_ = false;
  bool integrityDamaged_ = false;
  bool resumable_ = false;
  bool lastFileCreated_ = false;
  bool haveLastEntry_ = false;
  DataBuffer integrity_;         // the plain record
  uint32_t integrityPos_ = 0;    // offset of the next entry in it
  uint32_t integrityLeft_ = 0;   // entries not yet met
  IntegrityEntry lastEntry_;
  StringBuffer damagedName_;
  const char* damagedWhat_ = "";
};

}  // namespace sfx

#endif  // SFX_ARCHIVE_SIMPLE_ARCHIVE_H_
