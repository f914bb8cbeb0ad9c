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
  if (in.ownsBuffer) delete[] in.buffer;
}

bool ChunkSlot::reserveInput(uint32_t need) {
  if (need <= in.capacity) return true;
  uint64_t rounded = (static_cast<uint64_t>(need) + kInputGranule - 1) /
                     kInputGranule * kInputGranule;
  if (rounded > kChunkBufferSize) rounded = kChunkBufferSize;
  if (rounded < need) rounded = need;
  uint8_t* fresh = new (std::nothrow) uint8_t[rounded];
  if (!fresh) return false;
  if (in.ownsBuffer) delete[] in.buffer;
  in.buffer = fresh;
  in.capacity = static_cast<uint32_t>(rounded);
  in.ownsBuffer = true;
  return true;
}

void ChunkSlot::lendInput(uint8_t* buffer, uint32_t capacity) {
  if (in.ownsBuffer) delete[] in.buffer;
  in.buffer = buffer;
  in.capacity = buffer ? capacity : 0;
  in.ownsBuffer = false;
}

void decodeChunk(ChunkSlot& s) {
  const ChunkSlot::Input& in = s.in;
  ChunkSlot::Decoded& out = s.out;
  out.outcome = ChunkSlot::kPlain;
  out.inflated = false;
  out.data = in.buffer;
  out.count = in.size;
  const uint32_t outputBytes = kSlotOutputCapacity + kWholeOutputSlack;
  if (in.encrypted && in.size > 0) {
    // Into the output buffer, so that the ciphertext stays for the entry
    // thread should this fail. The plaintext is never longer.
    DataBuffer cipherText;
    cipherText.borrowData(in.buffer, in.size);
    LogNull quiet;
    if (!out.buffer.ensureCapacity(outputBytes) ||
        !s.in.cipher.decryptBuffer(cipherText, out.buffer, quiet)) {
      out.outcome = ChunkSlot::kStreamCipher;
      return;
    }
    out.count = out.buffer.getSize();
    if (in.stored) {
      out.data = out.buffer.getData();
      return;
    }
    if (out.count) memcpy(in.buffer, out.buffer.getData(), out.count);
  }
  if (in.stored) return;
  uint32_t produced = 0;
  if (out.buffer.ensureCapacity(outputBytes) &&
      inflateWhole(out.data, out.count, out.buffer.getData(),
                   kSlotOutputCapacity, &produced) == WholeInflate::kDone) {
    out.inflated = true;
    out.data = out.buffer.getData();
    out.count = produced;
    return;
  }
  out.outcome = ChunkSlot::kStreamDeflated;
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
  slot.state = SlotState::kQueued;
  queue_[(queueHead_ + queueLength_) % slotCount_] = &slot;
  ++queueLength_;
  workReady_.signalOne();
}

void DecoderPool::waitDecoded(ChunkSlot& slot) {
  OsMutexLock hold(mutex_);
  while (slot.state != SlotState::kDecoded) slotDone_.wait(mutex_);
  slot.state = SlotState::kIdle;
}

void DecoderPool::cancel() {
  OsMutexLock hold(mutex_);
  while (queueLength_ > 0) {
    queue_[queueHead_]->state = SlotState::kIdle;
    queueHead_ = (queueHead_ + 1) % slotCount_;
    --queueLength_;
  }
  for (uint32_t i = 0; i < slotCount_; ++i) {
    while (slots_[i].state == SlotState::kBusy) slotDone_.wait(mutex_);
    slots_[i].state = SlotState::kIdle;
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
    slot->state = SlotState::kBusy;
    mutex_.unlock();
    decodeChunk(*slot);
    mutex_.lock();
    slot->state = SlotState::kDecoded;
    slotDone_.signalAll();
  }
}

}  // namespace sfx
