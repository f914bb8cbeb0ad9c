// Fuzz target for the inflater, differential against zlib. The first byte
// picks the form: bit 0 zlib-wrapped or raw, bit 1 the 64 KB window of
// Deflate64. For the 32 KB window a stream must be taken exactly when zlib
// takes it (decoded to its end, and for zlib data with a matching Adler-32)
// and decode to the same bytes; Deflate64 input only must not crash. Raw
// 32 KB input also goes through inflateWhole, with each of its loops that
// runs on this processor (portable, BMI2), which must give the streaming
// decoder's verdict and bytes, take exactly that much room, and refuse one
// byte less.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/inflate.h"
#include "log/log_base.h"
#include "stream/output.h"
#include "text/data_buffer.h"

namespace {

constexpr size_t kMaxOutput = 8u << 20;

// Inflates with zlib; true when the stream ends inside the input and its
// output stays below kMaxOutput.
bool zlibInflate(bool wrapped, const uint8_t* data, size_t size,
                 std::vector<uint8_t>& out) {
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  if (inflateInit2(&zs, wrapped ? 15 : -15) != Z_OK) return false;
  zs.next_in = const_cast<uint8_t*>(data);
  zs.avail_in = static_cast<uInt>(size);
  uint8_t buf[16384];
  int rc;
  do {
    zs.next_out = buf;
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof buf - zs.avail_out));
  } while (rc == Z_OK && out.size() < kMaxOutput);
  inflateEnd(&zs);
  return rc == Z_STREAM_END;
}

// Inflates here; true when the stream ends inside the input without an
// error (for zlib data, with a matching Adler-32).
bool oursInflate(bool wrapped, const uint8_t* data, size_t size,
                 sfx::DataBuffer& out) {
  sfx::LogNull log;
  if (wrapped) {
    sfx::DataBuffer in;
    if (!in.append(data, static_cast<uint32_t>(size))) abort();
    return sfx::inflateFromMemory(true, in, out, false, nullptr, log);
  }
  sfx::InflateState state(false, false);
  sfx::OutputDataBuffer sink(&out);
  uint32_t surplus = 0;
  const bool ok = sfx::inflateBlock(state, size ? data : nullptr,
                                    static_cast<uint32_t>(size), &surplus, sink,
                                    nullptr, log);
  return ok && state.finished;
}

// inflateWhole over a copy of the input in a buffer of exactly its size,
// into one of `capacity` + kWholeOutputSlack bytes.
sfx::WholeInflate wholeInflate(sfx::WholeLoop loop, const uint8_t* data,
                               size_t size, uint32_t capacity,
                               std::vector<uint8_t>& out) {
  std::unique_ptr<uint8_t[]> in(new uint8_t[size]);
  if (size) memcpy(in.get(), data, size);
  std::unique_ptr<uint8_t[]> buf(
      new uint8_t[capacity + sfx::kWholeOutputSlack]);
  uint32_t produced = 0;
  const sfx::WholeInflate v =
      sfx::inflateWholeWith(loop, in.get(), static_cast<uint32_t>(size),
                            buf.get(), capacity, &produced);
  if (v == sfx::WholeInflate::kDone) {
    if (produced > capacity) {
      fprintf(stderr, "inflateWhole produced %u bytes in %u\n", produced,
              capacity);
      abort();
    }
    out.assign(buf.get(), buf.get() + produced);
  }
  return v;
}

// The whole-buffer decoder with `loop` against the streaming one, which
// took `oursTakes` and decoded `streamed` (all of it when taken).
void checkWhole(sfx::WholeLoop loop, const uint8_t* data, size_t size,
                bool oursTakes, const sfx::DataBuffer& streamed) {
  const uint32_t n = streamed.getSize();
  std::vector<uint8_t> out;
  if (!oursTakes) {
    // The streaming decoder holds back at most one window on an error.
    if (wholeInflate(loop, data, size, n + 2 * 65536, out) !=
        sfx::WholeInflate::kBadData) {
      fprintf(stderr, "inflateWhole does not refuse a refused stream\n");
      abort();
    }
    return;
  }
  if (wholeInflate(loop, data, size, n, out) != sfx::WholeInflate::kDone ||
      out.size() != n ||
      (n && memcmp(out.data(), streamed.getData(), n) != 0)) {
    fprintf(stderr, "inflateWhole differs from the streaming decoder\n");
    abort();
  }
  if (n && wholeInflate(loop, data, size, n - 1, out) !=
               sfx::WholeInflate::kTooLarge) {
    fprintf(stderr, "inflateWhole fits %u bytes in one less\n", n);
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool wrapped = data[0] & 1;
  const bool deflate64 = data[0] & 2;
  ++data;
  --size;
  if (deflate64) {
    sfx::DataBuffer in, out;
    if (!in.append(data, static_cast<uint32_t>(size))) return 0;
    sfx::LogNull log;
    sfx::inflateFromMemory(wrapped, in, out, true, nullptr, log);
    return 0;
  }
  std::vector<uint8_t> expected;
  const bool zlibTakes = zlibInflate(wrapped, data, size, expected);
  if (!zlibTakes && expected.size() >= kMaxOutput) return 0;  // undecided
  sfx::DataBuffer out;
  const bool oursTakes = oursInflate(wrapped, data, size, out);
  if (oursTakes != zlibTakes) {
    fprintf(stderr, "inflater %s a stream zlib %s\n",
            oursTakes ? "takes" : "refuses", zlibTakes ? "takes" : "refuses");
    abort();
  }
  if (!wrapped) {
    for (sfx::WholeLoop loop :
         {sfx::WholeLoop::kPortable, sfx::WholeLoop::kBmi2})
      if (sfx::wholeLoopAvailable(loop))
        checkWhole(loop, data, size, oursTakes, out);
  }
  if (zlibTakes && (out.getSize() != expected.size() ||
                    (!expected.empty() && memcmp(out.getData(), expected.data(),
                                                 expected.size()) != 0))) {
    fprintf(stderr, "inflater differs from zlib: size %u, zlib %zu\n",
            static_cast<unsigned>(out.getSize()), expected.size());
    abort();
  }
  return 0;
}
