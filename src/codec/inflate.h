// The inflater: decodes Deflate data, raw or inside the zlib wrapper, and the
// Deflate64 variant with its 64 KB window. It is push-style and resumable:
// input comes in chunks of any size, every partial state lives in an
// InflateState, and decoded bytes pass through a circular window to an
// Output, which checksums them, reports progress and carries an abort.
#ifndef SFX_CODEC_INFLATE_H_
#define SFX_CODEC_INFLATE_H_

#include <cstdint>

namespace sfx {

class DataBuffer;
class DataSource;
class LogBase;
class Output;
class ProgressMonitor;

// ---- Decode tables ----------------------------------------------------------

struct DecodeTable;

// One table entry. A leaf holds the symbol and the number of bits it takes
// at this level. An entry that begins longer codes has symbol -1 and points
// to the sub-table indexed by the following bits. An entry no code reaches
// has symbol -1, no sub-table, and the table's full width as its bit count
// (all of those bits must be present before the code is called invalid).
struct DecodeEntry {
  uint8_t bits;
  int16_t symbol;
  DecodeTable* sub;
};

// Canonical Huffman codes stored bit-reversed, so that the low bits of the
// bit accumulator index the table directly. The root has 2^b entries with
// b = the longest code length capped at 9; a sub-table is as wide as the
// longest remaining length of the codes it holds, capped at 7, and is built
// by the same rule.
struct DecodeTable {
  uint32_t mask;  // entries - 1
  uint8_t width;  // log2 of the entry count
  DecodeEntry* entries;
};

// Which incomplete codes a table may be built from. A complete code is
// always accepted and an over-subscribed one never is. These are the shapes
// zlib's inflate accepts, so that every stream it decodes decodes here too.
enum class CodeShape {
  // The code-length code must be complete.
  kComplete,
  // A literal/length code may also be a single code of length 1 (a block
  // of the end-of-block symbol alone), the other 1-bit code unused.
  kLiteralLength,
  // A distance code may also be a single code of length 1, or empty (the
  // block has only literals).
  kDistance,
};

enum class TableBuild { kBuilt, kBadLengths, kNoMemory };

// Builds the decode table of the canonical code given by `lengths[0 ..
// count - 1]` (0 = symbol unused, at most 15; count at most 320). Returns
// the table, owned by the caller and freed with freeDecodeTable, and stores
// kBuilt in *result. Returns null with kBadLengths for a length above 15, an
// over-subscribed code, or an incomplete one `shape` does not allow, and
// null with kNoMemory when memory runs out. `result` may be null.
DecodeTable* buildDecodeTable(const uint8_t* lengths, uint32_t count,
                              CodeShape shape, TableBuild* result);

// Frees a table and its sub-tables. Null is allowed.
void freeDecodeTable(DecodeTable* table);

// decodeSymbol results besides a symbol (0 or more).
constexpr int32_t kInvalidCode = -1;
constexpr int32_t kNeedMoreBits = -2;

// Decodes one symbol from the low *bitCount bits of *acc (least significant
// first; bits above them must be 0). On success removes the code's bits from
// *acc and *bitCount and returns the symbol. Returns kNeedMoreBits, consuming
// nothing, when the bits in hand are a proper prefix of a longer code (or too
// few to tell), and kInvalidCode when no code of the table begins with them.
int32_t decodeSymbol(uint32_t* acc, int32_t* bitCount,
                     const DecodeTable* table);

// ---- The decoder ------------------------------------------------------------

// The states of the block decoder. Each one names what the decoder waits
// for when a call returns, so that the next call resumes exactly there.
enum InflateMode : int32_t {
  kZlibHeader = 0,       // CMF and FLG
  kBlockHeader = 1,      // BFINAL and BTYPE
  kDynamicHeader = 2,    // HLIT, HDIST, HCLEN
  kCodeLengthCodes = 3,  // the HCLEN 3-bit lengths of the code-length code
  kCodeLengths = 4,      // the next literal/length or distance code length
  kRepeat = 5,           // the extra bits of a code-length repeat
  kLiteralLength = 6,    // a literal/length symbol
  kLengthExtra = 7,      // the extra bits of a match length
  kDistance = 8,         // a distance symbol
  kDistanceExtra = 9,    // the extra bits of a distance, then the copy
  kStoredLength = 10,    // LEN of a stored block
  kStoredCheck = 11,     // NLEN of a stored block
  kStoredData = 12,      // the bytes of a stored block
  kZlibTrailer = 13,     // the Adler-32 after the last block
};

// The numbers logged as "decodeErrNum" before "inflate decode error.".
enum InflateError : int32_t {
  kErrZlibHeader = 1,         // zlib header rejected
  kErrCodeLengthSymbol = 2,   // invalid code while reading the code lengths
  kErrLiteralLengthCode = 3,  // invalid literal/length code
  kErrWriteLiteral = 4,       // output failed while writing a literal
  kErrDistanceCode = 5,       // invalid distance code
  kErrWriteMatch = 6,         // output failed while copying a back-reference
  kErrStoredLength = 7,       // stored block LEN and NLEN disagree
  kErrWriteStored = 8,        // output failed while copying a stored block
  kErrReservedBlockType = 9,  // block type 3
  kErrLengthSymbol = 10,      // literal/length symbol 286 or 287
  kErrDistanceSymbol = 11,    // distance symbol 30 or 31 with the 32 KB window
  kErrDistanceTooFar = 12,    // distance beyond the bytes output so far
  kErrCodeLengthCode = 13,    // code-length code over-subscribed or incomplete
  kErrLiteralLengthLengths = 14,  // literal/length code lengths, the same
  kErrDistanceLengths = 15,       // distance code lengths, the same
  kErrNoTableMemory = 16,         // no memory for a decode table
  kErrCodeCounts = 17,      // HLIT above 286, or HDIST above 30 (32 KB window)
  kErrLengthRepeat = 18,    // code length 16 first, or a repeat past the end
  kErrNoEndOfBlock = 19,    // the literal/length code lacks symbol 256
};

// Everything one stream needs between calls. Made for one stream and
// destroyed after it; the destructor frees the window and the tables.
//
// The literal/length and distance codes of the current block are held as
// packed tables, built straight from the code lengths: two levels with a
// 9-bit root as in a DecodeTable (a code of up to 9 bits takes one lookup,
// a longer one two), each entry one 32-bit word that carries what the
// symbol means: a literal byte, a length or distance base with its
// extra-bit count, the end of the block, or an error. The root always has
// 512 entries and a sub-table 64, so that they are indexed with fixed
// masks; a narrower level repeats its entries. Both decode loops read them;
// the code-length code of a dynamic header is an ordinary DecodeTable.
struct InflateState {
  // `deflate64` selects the 64 KB window and the Deflate64 length and
  // distance codes; `zlibWrapped` starts at the zlib header.
  InflateState(bool zlibWrapped, bool deflate64);
  virtual ~InflateState();
  InflateState(const InflateState&) = delete;
  InflateState& operator=(const InflateState&) = delete;

  DecodeTable* codeLengthTable = nullptr;  // owned, during a dynamic header
  uint32_t zlibSeen = 0;
  uint32_t receivedAdler = 0;
  bool finalBlock = false;
  bool finished = false;
  bool deflate64 = false;
  uint32_t windowSize = 32768;
  int32_t mode = kBlockHeader;
  int32_t hlit = 0;
  int32_t hdist = 0;
  int32_t hclen = 0;
  int32_t index = 0;
  int32_t repeatBits = 0;
  int32_t repeatBase = 0;
  int32_t matchLength = 0;
  int32_t repeatValue = 0;
  int32_t storedLength = 0;
  // The packed entry of a length or distance whose extra bits are awaited.
  uint32_t pendingEntry = 0;
  uint8_t codeLengthLengths[19] = {};
  uint8_t codeLengths[320] = {};
  uint32_t bitAcc = 0;
  int32_t bitCount = 0;
  // The window: a ring of twice windowSize bytes, each half passed on to
  // the output when it is full, and some spare bytes after it for the fast
  // loop's writes; cleared when allocated.
  uint8_t* window = nullptr;
  int32_t writePos = 0;
  int32_t flushPos = 0;
  // Bytes decoded so far; a distance may reach back no further.
  uint64_t totalOut = 0;
  // The packed literal/length table followed by the distance table,
  // allocated with the window.
  uint32_t* tables = nullptr;
  bool fixedTables = false;  // the tables hold the fixed code
};

// Decodes `count` bytes at `input` (null only with count 0) as far as their
// bits allow and keeps every partial state in `state`. Decoded bytes go to
// `out` through its progress-aware write: whenever the window fills and once
// more at the end of the call. Sets *surplus to 0 and, once the stream is
// finished, to the number of input bytes after the end of the Deflate data
// (a call on a finished stream gives all of its bytes back). On a decode
// error logs "decodeErrNum" (an InflateError) and "inflate decode error."
// and returns false. When the final flush of the call fails it logs
// "Failed to flush to output." and still returns true; the output stays
// marked failed. Returns false without a decode error when the window
// cannot be allocated.
bool inflateBlock(InflateState& state, const uint8_t* input, uint32_t count,
                  uint32_t* surplus, Output& out, ProgressMonitor* pm,
                  LogBase& log);

// Reads `source` in chunks of `chunkSize` bytes (0 means 32768; kept within
// 256 .. 262144) and feeds them to inflateBlock until the stream finishes,
// the source ends, or the monitor asks to abort (also when it does so
// during a read); all three return true. When
// the stream finishes inside a chunk, seeks the source back so that it
// stands just after the Deflate data. Sends `out` its begin and end
// notifications around the transfer. Returns false when the source read
// fails ("Data source read failed."), when decoding fails ("inflateBlock
// failed."), when the seek back fails, or (without a message) when no input
// buffer can be had.
bool inflateSource(InflateState& state, DataSource& source, uint32_t chunkSize,
                   Output& out, ProgressMonitor* pm, LogBase& log);

// Decodes the whole Deflate stream read from `source` into `out`, raw or
// zlib-wrapped, with the 32 KB or (deflate64) 64 KB window. For zlib data
// the output's running Adler-32 is switched on and compared with the
// trailer's; a mismatch (also when the input ends before the trailer) logs
// "Computed and received Adler checksums do NOT match." and returns false.
// Raw input that ends early is not detected. Other failures log "Inflate
// from source failed." and return false.
bool inflateFromSource(bool zlibWrapped, DataSource& source, Output& out,
                       bool deflate64, ProgressMonitor* pm, LogBase& log);

// inflateFromSource over the bytes of `input`, appending the decoded bytes
// to `output`.
bool inflateFromMemory(bool zlibWrapped, const DataBuffer& input,
                       DataBuffer& output, bool deflate64, ProgressMonitor* pm,
                       LogBase& log);

// ---- Whole-buffer decoding ----------------------------------------------------

// The outcome of inflateWhole.
enum class WholeInflate {
  kDone,      // the final block ended; *produced holds the byte count
  kTooLarge,  // the output would not fit in the capacity given
  kBadData,   // data the streaming decoder refuses, or input that ends
              // before the final block
};

// Bytes the caller allocates after `capacity` in inflateWhole's output
// buffer; the decoder may write them (their contents are then undefined).
constexpr uint32_t kWholeOutputSlack = 64;

// Decodes one complete raw Deflate stream with the 32 KB window, held whole
// at input[0 .. count), into out[0 .. capacity). Bytes after the end of the
// final block are ignored, as the streaming decoder gives them back. It has
// no output, log or monitor and touches nothing but its arguments, so any
// thread may call it (it takes about 24 KB of stack). On kTooLarge and
// kBadData neither *produced nor the
// buffer says anything; the caller decodes the same bytes again with the
// streaming decoder, which reports what it always reported. Both decoders
// accept and refuse exactly the same streams and give the same bytes.
WholeInflate inflateWhole(const uint8_t* input, uint32_t count, uint8_t* out,
                          uint32_t capacity, uint32_t* produced);

// The loops inflateWhole decodes with, built from one source: the portable
// one, and on x86-64 one compiled for BMI2 (flagless shifts and bit
// extraction). Both give the same verdicts and bytes.
enum class WholeLoop { kPortable, kBmi2 };

// Whether `loop` runs here: kPortable always, kBmi2 on a processor with
// BMI2 in a build that has that loop (x86-64).
bool wholeLoopAvailable(WholeLoop loop);

// The loop inflateWhole uses, chosen once per process: kBmi2 where it is
// available, unless the environment variable SFX_INFLATE_PORTABLE is set
// to anything but "" or "0" (which forces the portable loop).
WholeLoop wholeLoopInUse();

// inflateWhole with the given loop, or the portable one where `loop` is
// not available; for the tests and the benchmark.
WholeInflate inflateWholeWith(WholeLoop loop, const uint8_t* input,
                              uint32_t count, uint8_t* out, uint32_t capacity,
                              uint32_t* produced);

}  // namespace sfx

#endif  // SFX_CODEC_INFLATE_H_
