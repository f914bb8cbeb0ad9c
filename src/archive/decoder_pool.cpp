// The decoder threads and the chunk slots they share with the entry's
// thread; see decoder_pool.h.
#include "archive/decoder_pool.h"

#include <cstring>
#include <new>

#include "archive/simple_archive.h"
#include "codec/inflate.h"
#include "log/log_base.h"

namespace sfx {
namespace {

// The slot states, changed under the pool's mutex.
constexpr int kIdle = 0;     // the entry thread's
constexpr int kQueued = 1;   // waiting for a decoder
constexpr int kBusy = 2;     // being decoded
constexpr int kDecoded = 3;  // done; the entry thread's once it has seen it

constexpr uint32_t kInputGranule = 65536;

}  // namespace

uint32_t resolveDecoderCount(int configured) {
  if (configured == 1) return 1;
  if (configured > 1) {
    return static_cast<uint32_t>(configured) < kMaxDecoders
               ? static_cast<uint32_t>(configured)
               : kMaxDecoders;
  }
  // Asked once: the answer is a system call, and the count is resolved for
  // every file entry.
  static const uint32_t cores = processorCount();
  return cores < kDefaultDecoderCap ? cores : kDefaultDecoderCap;
}

ChunkSlot::~ChunkSlot() {
  if (ownsInput) delete[] input;
}

bool ChunkSlot::reserveInput(uint32_t need) {
  if (need <= inputCapacity) return true;
  uint64_t rounded = (static_cast<uint64_t>(need) + kInputGranule - 1) /
                     kInputGranule * kInputGranule;
  if (rounded > kChunkBufferSize) rounded = kChunkBufferSize;
  if (rounded < need) rounded = need;
  uint8_t* fresh = new (std::nothrow) uint8_t[rounded];
  if (!fresh) return false;
  if (ownsInput) delete[] input;
  input = fresh;
  inputCapacity = static_cast<uint32_t>(rounded);
  ownsInput = true;
  return true;
}

void ChunkSlot::lendInput(uint8_t* buffer, uint32_t capacity) {
  if (ownsInput) delete[] input;
  input = buffer;
  inputCapacity = buffer ? capacity : 0;
  ownsInput = false;
}

void decodeChunk(ChunkSlot& s) {
  s.outcome = ChunkSlot::kPlain;
  s.inflated = false;
  s.data = s.input;
  s.count = s.size;
  const uint32_t outputBytes = kSlotOutputCapacity + kWholeOutputSlack;
  if (s.encrypted && s.size > 0) {
    // Into the output buffer, so that the ciphertext stays for the entry
    // thread should this fail. The plaintext is never longer.
    DataBuffer cipherText;
    cipherText.borrowData(s.input, s.size);
    LogNull quiet;
    if (!s.output.ensureCapacity(outputBytes) ||
        !s.cipher.decryptBuffer(cipherText, s.output, quiet)) {
      s.outcome = ChunkSlot::kStreamCipher;
      return;
    }
    s.count = s.output.getSize();
    if (s.stored) {
      s.data = s.output.getData();
      return;
    }
    if (s.count) memcpy(s.input, s.output.getData(), s.count);
  }
  if (s.stored) return;
  uint32_t produced = 0;
  if (s.output.ensureCapacity(outputBytes) &&
      inflateWhole(s.data, s.count, s.output.getData(), kSlotOutputCapacity,
                   &produced) == WholeInflate::kDone) {
    s.inflated = true;
    s.data = s.output.getData();
    s.count = produced;
    return;
  }
  s.outcome = ChunkSlot::kStreamPlain;
}

DecoderPool::~DecoderPool() {
  if (threads_) {
    {
      OsMutexLock hold(mutex_);
      stopping_ = true;
      workReady_.signalAll();
    }
    for (uint32_t i = 0; i < threadCount_; ++i) threads_[i].join();
  }
  delete[] threads_;
  delete[] queue_;
  delete[] slots_;
}

uint32_t DecoderPool::start(uint32_t decoders) {
  if (threads_ || decoders == 0) return threadCount_;
  slots_ = new (std::nothrow) ChunkSlot[decoders + 1];
  queue_ = new (std::nothrow) ChunkSlot*[decoders + 1];
  threads_ = new (std::nothrow) OsThread[decoders];
  if (!slots_ || !queue_ || !threads_) return 0;
  slotCount_ = decoders + 1;
  // The processor test behind the AES code is made once, here, before any
  // decoder could race to make it.
  AesCipher::hardwareAvailable();
  for (uint32_t i = 0; i < decoders; ++i) {
    if (!threads_[i].start(decoderMain, this)) break;
    ++threadCount_;
  }
  return threadCount_;
}

void DecoderPool::submit(ChunkSlot& slot) {
  OsMutexLock hold(mutex_);
  slot.state = kQueued;
  queue_[(queueHead_ + queueLength_) % slotCount_] = &slot;
  ++queueLength_;
  workReady_.signalOne();
}

void DecoderPool::waitDecoded(ChunkSlot& slot) {
  OsMutexLock hold(mutex_);
  while (slot.state != kDecoded) slotDone_.wait(mutex_);
  slot.state = kIdle;
}

void DecoderPool::cancel() {
  OsMutexLock hold(mutex_);
  while (queueLength_ > 0) {
    queue_[queueHead_]->state = kIdle;
    queueHead_ = (queueHead_ + 1) % slotCount_;
    --queueLength_;
  }
  for (uint32_t i = 0; i < slotCount_; ++i) {
    while (slots_[i].state == kBusy) slotDone_.wait(mutex_);
    slots_[i].state = kIdle;
  }
}

void DecoderPool::decoderMain(void* pool) {
  static_cast<DecoderPool*>(pool)->run();
}

void DecoderPool::run() {
  OsMutexLock hold(mutex_);
  for (;;) {
    while (queueLength_ == 0 && !stopping_) workReady_.wait(mutex_);
    if (queueLength_ == 0) return;  // stopping, nothing left
    ChunkSlot* slot = queue_[queueHead_];
    queueHead_ = (queueHead_ + 1) % slotCount_;
    --queueLength_;
    slot->state = kBusy;
    mutex_.unlock();
    decodeChunk(*slot);
    mutex_.lock();
    slot->state = kDecoded;
    slotDone_.signalAll();
  }
}

}  // namespace sfx
