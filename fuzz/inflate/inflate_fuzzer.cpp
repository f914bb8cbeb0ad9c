// Fuzz target for the inflater, differential against zlib. The first byte
// picks the form: bit 0 zlib-wrapped or raw, bit 1 the 64 KB window of
// Deflate64. For the 32 KB window a stream must be taken exactly when zlib
// takes it (decoded to its end, and for zlib data with a matching Adler-32)
// and decode to the same bytes; Deflate64 input only must not crash.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
  const bool ok =
      sfx::inflateBlock(state, size ? data : nullptr,
                        static_cast<uint32_t>(size), &surplus, sink, nullptr,
                        log);
  return ok && state.finished;
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
  if (zlibTakes &&
      (out.getSize() != expected.size() ||
       (!expected.empty() &&
        memcmp(out.getData(), expected.data(), expected.size()) != 0))) {
    fprintf(stderr, "inflater differs from zlib: size %u, zlib %zu\n",
            static_cast<unsigned>(out.getSize()), expected.size());
    abort();
  }
  return 0;
}
