// Follows the entry records that pass through it and measures each one.
#include "read/entry_meter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "archive/payload_format.h"
#include "archive/simple_archive.h"
#include "codec/aes.h"
#include "codec/inflate.h"
#include "codec/kdf.h"
#include "log/log_base.h"
#include "stream/output.h"
#include "text/data_buffer.h"
#include "text/little_endian.h"

namespace sfxpack {
EntryMeter::EntryMeter(sfx::DataSource* inner,
                       const sfx::AesCipher* decryptor,
                       const sfx::KdfSettings* kdf)
    : sfx::DataSource(kFileSource),
      inner_(inner),
      kdf_(kdf),
      chunk_(new (std::nothrow) uint8_t[sfx::kChunkBufferSize]) {
  if (decryptor) {
    decryptor_.reset(new (std::nothrow) sfx::AesCipher());
    if (decryptor_ && !decryptor_->copySettingsFrom(*decryptor))
      decryptor_.reset();
  }
}

EntryMeter::~EntryMeter() = default;

void EntryMeter::beginEntry() {
  state_ = State::kHead;
  fieldFill_ = 0;
  remaining_ = 0;
  chunkFill_ = 0;
  type_ = 0;
  fileTime_ = 0;
  attributes_ = 0;
  plainSize_ = 0;
}

bool EntryMeter::readSource(void* buf, uint32_t maxCount, uint32_t* numRead,
                            bool* endReached, sfx::ProgressMonitor* pm,
                            sfx::LogBase& log) {
  bool ok = inner_->readSource(buf, maxCount, numRead, endReached, pm, log);
  if (ok) feed(static_cast<const uint8_t*>(buf), *numRead);
  return ok;
}

bool EntryMeter::endOfStream() { return inner_->endOfStream(); }

void EntryMeter::feed(const uint8_t* data, uint32_t count) {
  while (count > 0 && state_ != State::kDone) {
    uint32_t take = 0;
    switch (state_) {
      case State::kHead:
      case State::kTimeAttr:
      case State::kSize: {
        uint32_t want = state_ == State::kHead       ? sfx::kEntryHeadBytes
                        : state_ == State::kTimeAttr ? sfx::kEntryTimeAttrBytes
                                                     : 4;
        take = std::min(want - fieldFill_, count);
        memcpy(field_ + fieldFill_, data, take);
        fieldFill_ += take;
        if (fieldFill_ < want) break;
        fieldFill_ = 0;
        if (state_ == State::kHead) {
          type_ = field_[4];
          if (type_ != sfx::kEntryEnd) entry_ = entries_++;
          chunks_ = 0;
          remaining_ = sfx::loadLe16(field_ + 5);
          state_ = type_ == sfx::kEntryEnd ? State::kDone
                   : remaining_ == 0       ? State::kTimeAttr
                                           : State::kName;
        } else if (state_ == State::kTimeAttr) {
          fileTime_ = sfx::loadLe64(field_);
          attributes_ = sfx::loadLe32(field_ + 8);
          state_ = type_ == sfx::kEntryFile ? State::kSize : State::kDone;
        } else {
          uint32_t word = sfx::loadLe32(field_);
          remaining_ = word & sfx::kChunkSizeMask;
          storedChunk_ = (word & sfx::kStoredChunkBit) != 0;
          chunkFill_ = 0;
          if (word == 0 || remaining_ >= sfx::kChunkBufferSize || !chunk_) {
            state_ = State::kDone;  // end of the file, or a chunk refused
          } else if (remaining_ == 0) {
            measureChunk();
          } else {
            state_ = State::kChunk;
          }
        }
        break;
      }
      case State::kName:
        take = std::min(remaining_, count);
        remaining_ -= take;
        if (remaining_ == 0) state_ = State::kTimeAttr;
        break;
      case State::kChunk:
        take = std::min(remaining_, count);
        memcpy(chunk_.get() + chunkFill_, data, take);
        chunkFill_ += take;
        remaining_ -= take;
        if (remaining_ == 0) {
          measureChunk();
          state_ = State::kSize;
        }
        break;
      case State::kDone:
        break;
    }
    data += take;
    count -= take;
  }
}

void EntryMeter::measureChunk() {
  sfx::LogNull quiet;
  const uint8_t* data = chunk_.get();
  uint32_t count = chunkFill_;
  sfx::DataBuffer plain;
  const uint32_t piece = sfx::chunkPiece(chunks_++);
  if (decryptor_) {
    sfx::DataBuffer cipherText;
    cipherText.borrowData(data, count);
    if ((kdf_ && !sfx::setPieceIv(*decryptor_, *kdf_, entry_, piece)) ||
        !decryptor_->decryptBuffer(cipherText, plain, quiet))
      return;
    data = plain.getData();
    count = plain.getSize();
  }
  if (storedChunk_) {
    plainSize_ += count;
    return;
  }
  sfx::Output counter;  // discards, counts what it is given
  sfx::InflateState state(false, false);
  sfx::MemoryDataSource source;
  source.setData(data, count);
  sfx::inflateSource(state, source, 0, counter, nullptr, quiet);
  plainSize_ += counter.totalWritten();
}

}  // namespace sfxpack
