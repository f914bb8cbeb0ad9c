#include "archive/simple_archive.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "archive/decoder_pool.h"
#include "codec/crc32.h"
#include "log/log_base.h"
#include "stream/data_source.h"
#include "text/data_buffer.h"
#include "text/little_endian.h"
#include "text/xstring.h"

namespace sfx {
namespace {

// The marker words' top bytes live apart from their 24-bit bodies, in data,
// so the compiler cannot fold them into the 32-bit constants.
volatile uint32_t g_markerTopBytes[2] = {kMarkerLowTop, kMarkerHighTop};

}  // namespace

uint32_t payloadMarkerWord(int index) {
  uint32_t body = index == 0 ? kMarkerLow24 : kMarkerHigh24;
  return body | (g_markerTopBytes[index == 0 ? 0 : 1] << 24);
}

SimpleArchive::SimpleArchive() : chunkBuffer_(new (std::nothrow) unsigned char[kChunkBufferSize]) {}

SimpleArchive::~SimpleArchive() {
  delete pool_;
  delete inlineSlot_;
  delete ahead_;
  delete[] chunkBuffer_;
  plain_.secureClear();
  password_.secureClear();
}

void SimpleArchive::setSource(DataSource* source) {
  if (ahead_) abandonReadAhead(-1);
  source_ = source;
}

bool SimpleArchive::readExact(void* buf, uint32_t count, ProgressMonitor* pm, LogBase& log) {
  if (count == 0) return true;
  uint32_t got = 0;
  return source_->readSourcePM(buf, count, &got, pm, log) && got == count;
}

bool SimpleArchive::findMarker(LogBase& log, ProgressMonitor* pm) {
  if (!source_) return false;
  const uint32_t first = payloadMarkerWord(0);
  const uint32_t second = payloadMarkerWord(1);
  for (;;) {
    if (!source_->scanForUint32(first, log)) return false;
    unsigned char next[4];
    if (!readExact(next, 4, pm, log)) return false;
    // A run of first words: the last of them may begin the real marker.
    while (loadLe32(next) == first) {
      if (!readExact(next, 4, pm, log)) return false;
    }
    if (loadLe32(next) == second) return true;
    // A false first half: go on scanning after the 4 bytes just read.
  }
}

bool SimpleArchive::readHeader(StringBuffer& errorText, LogBase& log, ProgressMonitor* pm) {
  LogContextExitor ctx(log, "readHeader");
  errorText.clear();
  if (!source_) {
    errorText.setString("No source");
    return false;
  }
  unsigned char header[6];
  if (!readExact(header, 6, pm, log)) {
    errorText.setString("Failed to get 1st 6 bytes.");
    return false;
  }
  encrypted_ = header[4] != 0;
  keyLengthBits_ = header[5] == 0 ? 128 : (header[5] == 1 ? 192 : 256);
  if (log.verbose()) {
    log.logDataLong("aes", encrypted_ ? 1 : 0);
    if (encrypted_) log.logDataLong("keyLength", keyLengthBits_);
  }
  return true;
}

bool SimpleArchive::readArgs(LogBase& log, ProgressMonitor* pm) {
  LogContextExitor ctx(log, "readArgs");
  if (!source_) {
    log.logError("no source");
    return false;
  }
  for (int record = 1; record <= kMaxArgRecords; ++record) {
    unsigned char len[2];
    if (!readExact(len, 2, pm, log)) {
      log.logError("Failed to read arg name len");
      return false;
    }
    uint16_t nameLen = loadLe16(len);
    if (nameLen == 0) break;
    std::unique_ptr<char[]> name(new (std::nothrow) char[nameLen + 1u]);
    if (!name) return false;
    if (!readExact(name.get(), nameLen, pm, log)) {
      log.logError("Failed to read arg name");
      return false;
    }
    name[nameLen] = '\0';
    if (!readExact(len, 2, pm, log)) {
      log.logError("Failed to read arg value len");
      return false;
    }
    uint16_t valueLen = loadLe16(len);
    StringBuffer value;
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[valueLen + 1u]);
    if (!bytes) return false;
    if (valueLen != 0 && !readExact(bytes.get(), valueLen, pm, log)) {
      log.logError("Failed to read arg value");
      return false;
    }
    if (!value.appendN(bytes.get(), valueLen)) return false;
    if (log.verbose()) {
      // The integrity record is binary: its size only.
      if (strncmp(name.get(), kIntegrityArg, sizeof kIntegrityArg - 1) == 0)
        log.logDataLong(name.get(), valueLen);
      else
        log.logData(name.get(), value.getString());
    }
    if (!args_.insert(name.get(), value)) return false;
  }
  loadKdf(log);
  return true;
}

void SimpleArchive::loadKdf(LogBase& log) {
  hasKdf_ = false;
  kdfError_.clear();
  entryCount_ = 0;  // the entries that follow are numbered from 0
  if (ahead_) abandonReadAhead(-1);
  const StringBuffer* value = encrypted_ ? args_.lookup(kKdfArg) : nullptr;
  if (!value) return;
  if (!parseKdfArg(value->getString(), value->getSize(), &kdf_, kdfError_)) {
    log.logError(kdfError_.getString());
    return;
  }
  hasKdf_ = true;
  if (log.verbose()) log.logDataLong("kdfIterations", kdf_.iterations);
}

bool SimpleArchive::getArg(const char* name, XString& out) const {
  out.clear();
  const StringBuffer* value = args_.lookup(name);
  if (!value) return false;
  out.setFromUtf8Sb(*value);
  return true;
}

void SimpleArchive::setPassword(const char* password) {
  password_.secureClear();
  password_.append(password);
}

bool SimpleArchive::checkPassword(LogBase& log, DataBuffer& verifierCache) {
  LogContextExitor ctx(log, "checkPassword");
  if (!encrypted_) return false;
  if (kdfRefused()) {
    log.logError(kdfError_.getString());
    return false;
  }
  decryptor_.setKeyLength(static_cast<uint32_t>(keyLengthBits_));
  decryptor_.setMode(AesCipher::kModeCbc);
  DataBuffer key;
  if (!deriveArchiveKey(password_.getString(), password_.getSize(), kdf(),
                        decryptor_.keyLength(), key))
    return false;
  bool keySet = decryptor_.setKey(key);
  key.secureClear();
  if (!keySet) return false;
  if (hasKdf_ && !setPieceIv(decryptor_, kdf_, kPieceNoEntry, kPieceVerifier))
    return false;

  if (verifierCache.getSize() == 0) {
    if (!source_) return false;
    unsigned char len = 0;
    if (!readExact(&len, 1, nullptr, log)) return false;
    unsigned char bytes[255] = {};
    if (len != 0 && !readExact(bytes, len, nullptr, log)) return false;
    if (!verifierCache.append(bytes, len)) return false;
  }
  DataBuffer plain;
  if (!decryptor_.decryptBuffer(verifierCache, plain, log)) return false;
  bool ok = plain.getSize() == kVerifierTextBytes &&
            memcmp(plain.getData(), kVerifierText, kVerifierTextBytes) == 0;
  plain.secureClear();
  return ok;
}

bool SimpleArchive::loadIntegrity(LogBase& log) {
  integrityLoaded_ = true;
  const StringBuffer* first = args_.lookup(kIntegrityArg);
  if (!first) return true;
  LogContextExitor ctx(log, "checkIntegrityRecord");
  DataBuffer stored;
  bool ok = stored.append(first->getString(), first->getSize());
  for (int piece = 2; ok && piece <= kIntegrityMaxPieces; ++piece) {
    char name[32];
    snprintf(name, sizeof name, "%s%d", kIntegrityArg, piece);
    const StringBuffer* more = args_.lookup(name);
    if (!more) break;
    ok = stored.append(more->getString(), more->getSize());
  }
  if (ok) {
    integrity_.clear();
    if (encrypted_ && hasKdf_)
      ok = setPieceIv(decryptor_, kdf_, kPieceNoEntry, kPieceIntegrity);
    ok = ok && (encrypted_ ? decryptor_.decryptBuffer(stored, integrity_, log)
                           : integrity_.appendDb(stored));
  }
  uint8_t version = 0;
  uint32_t count = 0, configCrc = 0;
  if (!ok || !checkIntegrityFrame(integrity_.getData(), integrity_.getSize(),
                                  &version, &count, &configCrc)) {
    log.logError("The integrity record is damaged.");
    integrityDamaged_ = true;
    return false;
  }
  if (version != kIntegrityVersion) {
    log.logInfo("Integrity record of another version, not checked.");
    log.logDataLong("version", version);
    return true;
  }
  const StringBuffer* config = args_.lookup(kConfigArg);
  uint32_t crc =
      config ? ZipCRC::oneShot(config->getString(), config->getSize()) : 0;
  if (crc != configCrc) {
    log.logError("The configuration does not match the integrity record.");
    integrityDamaged_ = true;
    return false;
  }
  integrityActive_ = true;
  integrityPos_ = kIntegrityHeadBytes;
  integrityLeft_ = count;
  return true;
}

bool SimpleArchive::integrityMismatch(const StringBuffer& name,
                                      const char* what, LogBase& log) {
  log.logError("Entry does not match the integrity record.");
  log.logData("filename", name.getString());
  log.logData("mismatch", what);
  integrityDamaged_ = true;
  damagedName_.setStringN(name.getString(), name.getSize());
  damagedWhat_ = what;
  return false;
}

bool SimpleArchive::lastIntegrityEntry(IntegrityEntry* out) const {
  if (!haveLastEntry_) return false;
  *out = lastEntry_;
  return true;
}

}  // namespace sfx
