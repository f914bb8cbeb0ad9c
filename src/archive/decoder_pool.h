// The slots and threads that decode the chunks of file entries ahead of the
// thread that writes them. The entry's thread reads a chunk into a free
// slot and submits it, in payload order and across entries (ReadAhead);
// a decoder decrypts and inflates it into the slot's output buffer; the
// entry's thread takes the slots back in the order it submitted them and
// writes their bytes. A slot keeps its buffers from one
// chunk to the next, so memory stays that of the slots however long the
// payload is.
#ifndef SFX_ARCHIVE_DECODER_POOL_H_
#define SFX_ARCHIVE_DECODER_POOL_H_

#include <cstdint>

#include "codec/aes.h"
#include "os/thread.h"
#include "text/data_buffer.h"

namespace sfx {

// The inflated size a slot takes whole: 2 MiB, above the 2,000,000 input
// bytes of the packer's largest chunk. A chunk that inflates to more is
// decoded again by the streaming decoder.
constexpr uint32_t kSlotOutputCapacity = 2097152;

// Decoders a pool may have. The default (one per core) stops at
// kDefaultDecoderCap so that the slots stay within about 12.5 MB for any
// payload: 3 slots of at most 2,048,575 input and 2,097,216 output bytes.
// A configured count may go up to kMaxDecoders; each decoder adds a slot.
constexpr uint32_t kDefaultDecoderCap = 2;
constexpr uint32_t kMaxDecoders = 8;

// The decoder count for a configured value: 0 (or less) is one per core
// up to kDefaultDecoderCap, 1 is none (the entry's thread decodes), more
// is that many up to kMaxDecoders.
uint32_t resolveDecoderCount(int configured);

// Where a slot stands. Changed under the pool's mutex; a slot is the entry
// thread's to fill or to read while kIdle.
enum class SlotState {
  kIdle,     // the entry thread's
  kQueued,   // submitted, waiting for a decoder
  kBusy,     // being decoded
  kDecoded,  // done; the entry thread's again once waitDecoded saw it
};

// One chunk in flight and the buffers it keeps. `in` is written by the
// entry's thread before it submits the slot, `out` by decodeChunk; each
// side only reads the other's half.
struct ChunkSlot {
  ChunkSlot() = default;
  ~ChunkSlot();
  ChunkSlot(const ChunkSlot&) = delete;
  ChunkSlot& operator=(const ChunkSlot&) = delete;

  // Makes in.buffer hold at least `size` bytes (rounded up to 64 KB, never
  // beyond kChunkBufferSize); false when memory runs out.
  bool reserveInput(uint32_t size);
  // Lends the slot a buffer of `capacity` bytes it does not own.
  void lendInput(uint8_t* buffer, uint32_t capacity);

  // What the decoding made of the chunk.
  enum Outcome {
    kPlain,          // data[0 .. count) are the chunk's plain bytes
    kStreamDeflated, // data[0 .. count) are still deflated: inflate them
                     // streaming into the file
    kStreamCipher,   // decryption failed: decrypt and inflate the input again
  };

  // The chunk as read, filled by the entry's thread before submitting.
  struct Input {
    uint8_t* buffer = nullptr;  // the chunk's bytes as stored: [0 .. size)
    uint32_t capacity = 0;
    bool ownsBuffer = false;
    uint32_t size = 0;
    bool stored = false;
    bool encrypted = false;
    int64_t endPosition = 0;     // the source's position after the chunk
    uint32_t progressBytes = 0;  // bytes read whose progress is held back
    AesCipher cipher;  // the payload's settings, this slot's own context
  } in;

  // What decodeChunk made of it.
  struct Decoded {
    Outcome outcome = kPlain;
    bool inflated = false;  // kPlain: the bytes came out of inflateWhole
    const uint8_t* data = nullptr;
    uint32_t count = 0;
    // The decryption target and the inflated bytes; allocated on first
    // need with kSlotOutputCapacity + kWholeOutputSlack bytes.
    DataBuffer buffer;
  } out;

  SlotState state = SlotState::kIdle;  // the pool's, under its mutex
};

// Decrypts (when slot.in.encrypted) and inflates (unless slot.in.stored)
// the chunk in slot.in.buffer[0 .. slot.in.size) and fills slot.out. Touches
// nothing but the slot, so any thread may run it for a slot it holds.
void decodeChunk(ChunkSlot& slot);

// An entry record read ahead of the entry being written: its header bytes
// as stored (marker to attributes), and how far its chunks were read.
struct PendingEntry {
  int64_t start = 0;       // the source's position at its marker
  int64_t endPosition = 0;  // after its end word, once `ended`
  uint32_t number = 0;     // its place among the entries, from 0
  DataBuffer header;
  uint32_t chunksRead = 0;  // chunks read into slots so far
  uint32_t inFlight = 0;    // of those, submitted and not yet written
  bool ended = false;       // its end word was read (a directory: at once)
  // The chunks could not be read ahead: the entry is read again from
  // `start` by its own call, so that it fails there as it would have.
  bool failed = false;
};

// The reading ahead across entries. The entry's thread reads the records
// after the one it writes, and their chunks into free slots, while the
// decoders work; at most one pending entry per slot besides the current
// one, so memory stays that of the slots however many files there are.
struct ReadAhead {
  static constexpr uint32_t kMaxPending = kMaxDecoders + 2;
  PendingEntry entries[kMaxPending];
  uint32_t first = 0;     // the oldest pending entry
  uint32_t count = 0;     // pending entries, the current one included
  bool current = false;   // entries[first] is the entry being extracted
  bool stopped = false;   // met a record left to its own call
  uint64_t issued = 0;    // chunks submitted to the pool, in slot order
  uint64_t written = 0;   // of those, taken back
  PendingEntry& front() { return entries[first]; }
  PendingEntry& back() { return entries[(first + count - 1) % kMaxPending]; }
  bool active() const { return count > 0 || issued != written; }
};

class DecoderPool {
 public:
  DecoderPool() = default;
  // Stops the decoders and joins them; slots in flight are finished first.
  ~DecoderPool();
  DecoderPool(const DecoderPool&) = delete;
  DecoderPool& operator=(const DecoderPool&) = delete;

  // Starts `decoders` threads (at least 1) and makes decoders + 1 slots.
  // Returns the decoders running, 0 when none could be started (the pool
  // is then unusable) or the slots could not be had.
  uint32_t start(uint32_t decoders);
  uint32_t decoders() const { return threadCount_; }
  uint32_t slotCount() const { return slotCount_; }
  ChunkSlot& slot(uint32_t i) { return slots_[i]; }

  // Queues a slot the caller filled; a decoder takes it when free.
  void submit(ChunkSlot& slot);
  // Waits until a submitted slot is decoded; the slot is then the
  // caller's again.
  void waitDecoded(ChunkSlot& slot);
  // Takes back every queued slot a decoder has not begun and waits for
  // those being decoded (at most one per decoder). Every slot is then the
  // caller's.
  void cancel();

 private:
  static void decoderMain(void* pool);
  void run();

  OsMutex mutex_;
  OsCondition workReady_;  // a slot was queued, or the pool stops
  OsCondition slotDone_;   // a slot was decoded
  ChunkSlot* slots_ = nullptr;
  uint32_t slotCount_ = 0;
  OsThread* threads_ = nullptr;
  uint32_t threadCount_ = 0;
  // The queue: a ring of slot pointers in submission order.
  ChunkSlot** queue_ = nullptr;
  uint32_t queueHead_ = 0;
  uint32_t queueLength_ = 0;
  bool stopping_ = false;
};

}  // namespace sfx

#endif  // SFX_ARCHIVE_DECODER_POOL_H_
