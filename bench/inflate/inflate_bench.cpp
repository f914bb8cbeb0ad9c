// Throughput of the inflater beside zlib's inflate on the same pieces in the
// same run. The corpus is read from the folders given on the command line
// (see run.sh): shared libraries, text, and already-compressed .gz files,
// cut into 1 MiB pieces.
// - Default: each piece raw-deflated by zlib at levels 1, 6 and 9, decoded
//   by inflateFromMemory and by zlib.
// - --whole: each piece deflated as the packer does its chunks (libdeflate
//   level 6; zlib level 6 where the build has no libdeflate, or chunks
//   loaded from a file that a native run saved), decoded chunk by chunk
//   into a flat buffer by inflateWhole (with the loop it chooses here, and
//   with the portable loop forced), by the streaming decoder
//   (inflateBlock), by zlib and, natively, by libdeflate, interleaved
//   round by round. Then the verdict on inflateWhole's targets: natively
//   at least 2.1 times zlib's speed and 0.95 of libdeflate's, in the
//   Windows build (run under Wine) at least 1.9 times the MinGW zlib's;
//   the exit code is 3 when a target is missed.
// Prints the median of several rounds in MB/s of decoded output per second
// of processor time, with the slowest and fastest round, and the ratios
// against zlib.
#include <zlib.h>
#if defined(SFX_BENCH_LIBDEFLATE)
#include <libdeflate.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codec/inflate.h"
#include "log/log_base.h"
#include "stream/output.h"
#include "text/data_buffer.h"

namespace sfx {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr size_t kPiece = 1u << 20;
constexpr int kRounds = 7;

// Processor time of this process, in seconds: other work on a shared
// machine does not count against either decoder.
double cpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Appends whole files under `dir` that `want` accepts until `budget` bytes
// were taken.
template <typename Pred>
size_t gather(const std::string& dir, size_t budget, Pred want, Bytes& out) {
  size_t taken = 0;
  std::error_code ec;
  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator
           it(dir, fs::directory_options::skip_permission_denied, ec),
       end;
       !ec && it != end; it.increment(ec)) {
    std::error_code fec;
    if (it->is_symlink(fec) || !it->is_regular_file(fec)) continue;
    if (want(it->path())) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& p : files) {
    if (taken >= budget) break;
    std::ifstream f(p, std::ios::binary);
    Bytes data((std::istreambuf_iterator<char>(f)),
               std::istreambuf_iterator<char>());
    if (data.size() > budget - taken) data.resize(budget - taken);
    out.insert(out.end(), data.begin(), data.end());
    taken += data.size();
  }
  return taken;
}

bool hasExt(const fs::path& p, const char* ext) {
  return p.filename().string().find(ext) != std::string::npos;
}

Bytes rawDeflate(const uint8_t* data, size_t size, int level) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, size) + 16);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct Piece {
  Bytes packed;
  size_t plainOffset;
  size_t plainSize;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// ---- Whole chunks
// --------------------------------------------------------------

struct Chunk {
  Bytes packed;
  Bytes plain;
};

Bytes deflateChunk(const uint8_t* data, size_t size) {
#if defined(SFX_BENCH_LIBDEFLATE)
  libdeflate_compressor* c = libdeflate_alloc_compressor(6);
  Bytes out(libdeflate_deflate_compress_bound(c, size));
  out.resize(
      libdeflate_deflate_compress(c, data, size, out.data(), out.size()));
  libdeflate_free_compressor(c);
  return out;
#else
  return rawDeflate(data, size, 6);
#endif
}

// Chunks saved as records of the plain size, the packed size (4 bytes
// each, little-endian), the plain bytes and the packed bytes.
bool saveChunks(const std::string& path, const std::vector<Chunk>& chunks) {
  std::ofstream f(path, std::ios::binary);
  for (const Chunk& c : chunks) {
    uint8_t head[8];
    const uint32_t sizes[2] = {static_cast<uint32_t>(c.plain.size()),
                               static_cast<uint32_t>(c.packed.size())};
    for (int i = 0; i < 8; ++i)
      head[i] = static_cast<uint8_t>(sizes[i / 4] >> (8 * (i % 4)));
    f.write(reinterpret_cast<const char*>(head), 8);
    f.write(reinterpret_cast<const char*>(c.plain.data()),
            static_cast<std::streamsize>(c.plain.size()));
    f.write(reinterpret_cast<const char*>(c.packed.data()),
            static_cast<std::streamsize>(c.packed.size()));
  }
  return static_cast<bool>(f);
}

bool loadChunks(const std::string& path, std::vector<Chunk>& chunks) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  uint8_t head[8];
  while (f.read(reinterpret_cast<char*>(head), 8)) {
    uint32_t sizes[2] = {0, 0};
    for (int i = 0; i < 8; ++i)
      sizes[i / 4] |= uint32_t{head[i]} << (8 * (i % 4));
    Chunk c;
    c.plain.resize(sizes[0]);
    c.packed.resize(sizes[1]);
    f.read(reinterpret_cast<char*>(c.plain.data()), sizes[0]);
    f.read(reinterpret_cast<char*>(c.packed.data()), sizes[1]);
    if (!f) return false;
    chunks.push_back(std::move(c));
  }
  return !chunks.empty();
}

// The streaming decoder's bytes, copied into a flat buffer.
class FlatOutput : public Output {
 public:
  FlatOutput(uint8_t* out, uint32_t capacity)
      : out_(out), capacity_(capacity) {}
  bool writeBytes(const void* data, uint32_t count, ProgressMonitor*,
                  LogBase&) override {
    if (count > capacity_ - used_) return false;
    std::memcpy(out_ + used_, data, count);
    used_ += count;
    return true;
  }
  uint32_t used() const { return used_; }

 private:
  uint8_t* out_;
  uint32_t capacity_;
  uint32_t used_ = 0;
};

enum Decoder {
  kWhole,
  kWholePortable,
  kStreaming,
  kZlib,
  kLibdeflate,
  kDecoders
};
const char* const kDecoderNames[kDecoders] = {
    "inflateWhole", "inflateWhole, portable", "streaming (inflateBlock)",
    "zlib inflate", "libdeflate"};

// inflateWhole's targets (see the file's head).
#if defined(_WIN32)
constexpr double kTargetXZlib = 1.9;
#else
constexpr double kTargetXZlib = 2.1;
#endif
constexpr double kTargetXLibdeflate = 0.95;

// Decodes `c` into `out` (capacity c.plain.size() + kWholeOutputSlack);
// false when the decoder fails or gives the wrong size.
bool decodeChunk(Decoder d, const Chunk& c, Bytes& out) {
  const uint32_t n = static_cast<uint32_t>(c.plain.size());
  const uint32_t count = static_cast<uint32_t>(c.packed.size());
  switch (d) {
    case kWhole:
    case kWholePortable: {
      uint32_t produced = 0;
      const WholeInflate v =
          d == kWhole
              ? inflateWhole(c.packed.data(), count, out.data(), n, &produced)
              : inflateWholeWith(WholeLoop::kPortable, c.packed.data(), count,
                                 out.data(), n, &produced);
      return v == WholeInflate::kDone && produced == n;
    }
    case kStreaming: {
      InflateState state(false, false);
      FlatOutput flat(out.data(), n);
      LogNull log;
      uint32_t surplus = 0;
      return inflateBlock(state, c.packed.data(), count, &surplus, flat,
                          nullptr, log) &&
             state.finished && flat.used() == n;
    }
    case kZlib: {
      z_stream z;
      std::memset(&z, 0, sizeof z);
      inflateInit2(&z, -15);
      z.next_in = const_cast<Bytef*>(c.packed.data());
      z.avail_in = count;
      z.next_out = out.data();
      z.avail_out = n;
      const bool ok = inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == n;
      inflateEnd(&z);
      return ok;
    }
    case kLibdeflate: {
#if defined(SFX_BENCH_LIBDEFLATE)
      static libdeflate_decompressor* dec = libdeflate_alloc_decompressor();
      size_t got = 0;
      return libdeflate_deflate_decompress(dec, c.packed.data(), count,
                                           out.data(), n,
                                           &got) == LIBDEFLATE_SUCCESS &&
             got == n;
#else
      return false;
#endif
    }
    default:
      return false;
  }
}

int runWhole(int argc, char** argv) {
  std::vector<Chunk> chunks;
  std::string save;
  if (argc >= 2 && std::strcmp(argv[0], "--load") == 0) {
    if (!loadChunks(argv[1], chunks)) {
      std::fprintf(stderr, "cannot load chunks from %s\n", argv[1]);
      return 1;
    }
    std::printf("chunks loaded from %s\n", argv[1]);
  } else {
    if (argc < 2) return 2;
    size_t total = (argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100) << 20;
    if (argc > 4 && std::strcmp(argv[3], "--save") == 0) save = argv[4];
    Bytes corpus;
    size_t libs = gather(
        argv[0], total * 6 / 10,
        [](const fs::path& p) { return hasExt(p, ".so"); }, corpus);
    size_t gz = gather(
        argv[1], total / 10, [](const fs::path& p) { return hasExt(p, ".gz"); },
        corpus);
    size_t text = gather(
        argv[1], total - libs - gz,
        [](const fs::path& p) { return !hasExt(p, ".gz"); }, corpus);
    std::printf("corpus: %.1f MB (libraries %.1f, text %.1f, .gz %.1f)\n",
                corpus.size() / 1e6, libs / 1e6, text / 1e6, gz / 1e6);
    for (size_t off = 0; off < corpus.size(); off += kPiece) {
      const size_t n = std::min(kPiece, corpus.size() - off);
      Chunk c;
      c.plain.assign(corpus.begin() + static_cast<std::ptrdiff_t>(off),
                     corpus.begin() + static_cast<std::ptrdiff_t>(off + n));
      c.packed = deflateChunk(c.plain.data(), n);
      chunks.push_back(std::move(c));
    }
    if (!save.empty() && !saveChunks(save, chunks)) {
      std::fprintf(stderr, "cannot save chunks to %s\n", save.c_str());
      return 1;
    }
  }
  size_t plainTotal = 0, packedTotal = 0;
  for (const Chunk& c : chunks) {
    plainTotal += c.plain.size();
    packedTotal += c.packed.size();
  }
#if defined(SFX_BENCH_LIBDEFLATE)
  const int decoders = kDecoders;
  std::printf("%zu chunks of up to 1 MiB, libdeflate level 6", chunks.size());
#else
  const int decoders = kLibdeflate;
  std::printf("%zu chunks of up to 1 MiB (no libdeflate in this build)",
              chunks.size());
#endif
  std::printf(": %.1f MB -> %.1f MB\n", plainTotal / 1e6, packedTotal / 1e6);

  // Every decoder must give every chunk back.
  Bytes out(kPiece + kWholeOutputSlack);
  for (int d = 0; d < decoders; ++d)
    for (const Chunk& c : chunks)
      if (!decodeChunk(static_cast<Decoder>(d), c, out) ||
          std::memcmp(out.data(), c.plain.data(), c.plain.size()) != 0) {
        std::fprintf(stderr, "%s gave wrong output\n", kDecoderNames[d]);
        return 1;
      }

  // Rounds interleave the decoders, each round starting with the next one.
  std::vector<double> speed[kDecoders];
  for (int r = 0; r < kRounds; ++r)
    for (int k = 0; k < decoders; ++k) {
      const int d = (r + k) % decoders;
      const double t0 = cpuSeconds();
      for (const Chunk& c : chunks)
        decodeChunk(static_cast<Decoder>(d), c, out);
      speed[d].push_back(plainTotal / 1e6 / (cpuSeconds() - t0));
    }
  const double zlib = median(speed[kZlib]);
  for (int d = 0; d < decoders; ++d) {
    const double m = median(speed[d]);
    std::sort(speed[d].begin(), speed[d].end());
    std::printf("%-26s %8.1f MB/s  (min %.1f, max %.1f)  x zlib %5.2f",
                kDecoderNames[d], m, speed[d].front(), speed[d].back(),
                m / zlib);
#if defined(SFX_BENCH_LIBDEFLATE)
    std::printf("  x libdeflate %5.2f", m / median(speed[kLibdeflate]));
#endif
    std::printf("\n");
  }

  const double wholeXZlib = median(speed[kWhole]) / zlib;
  std::printf("inflateWhole's loop: %s\n",
              wholeLoopInUse() == WholeLoop::kBmi2 ? "BMI2" : "portable");
  bool met = wholeXZlib >= kTargetXZlib;
  std::printf("target: inflateWhole x zlib %.2f >= %.2f: %s\n", wholeXZlib,
              kTargetXZlib, wholeXZlib >= kTargetXZlib ? "met" : "MISSED");
#if defined(SFX_BENCH_LIBDEFLATE)
  const double wholeXLibdeflate =
      median(speed[kWhole]) / median(speed[kLibdeflate]);
  std::printf("target: inflateWhole x libdeflate %.2f >= %.2f: %s\n",
              wholeXLibdeflate, kTargetXLibdeflate,
              wholeXLibdeflate >= kTargetXLibdeflate ? "met" : "MISSED");
  met = met && wholeXLibdeflate >= kTargetXLibdeflate;
#endif
  std::printf("verdict: %s\n", met ? "targets met" : "target missed");
  return met ? 0 : 3;
}

int run(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--whole") == 0) {
    const int rc = runWhole(argc - 2, argv + 2);
    if (rc == 2)
      std::fprintf(stderr,
                   "usage: inflate_bench --whole LIBDIR TEXTDIR [MB [--save "
                   "FILE]]\n       inflate_bench --whole --load FILE\n");
    return rc;
  }
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: inflate_bench LIBDIR TEXTDIR [MB]\n"
                 "       inflate_bench --whole ... (see the file's head)\n"
                 "  LIBDIR: shared libraries (*.so*), TEXTDIR: text files and "
                 ".gz files\n");
    return 2;
  }
  size_t total = (argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 100) << 20;
  Bytes corpus;
  size_t libs = gather(
      argv[1], total * 6 / 10,
      [](const fs::path& p) { return hasExt(p, ".so"); }, corpus);
  size_t gz = gather(
      argv[2], total / 10, [](const fs::path& p) { return hasExt(p, ".gz"); },
      corpus);
  size_t text = gather(
      argv[2], total - libs - gz,
      [](const fs::path& p) { return !hasExt(p, ".gz"); }, corpus);
  std::printf("corpus: %.1f MB (libraries %.1f, text %.1f, .gz %.1f)\n",
              corpus.size() / 1e6, libs / 1e6, text / 1e6, gz / 1e6);

  std::vector<Piece> pieces;
  for (int level : {1, 6, 9})
    for (size_t off = 0; off < corpus.size(); off += kPiece) {
      size_t n = std::min(kPiece, corpus.size() - off);
      pieces.push_back({rawDeflate(corpus.data() + off, n, level), off, n});
    }
  size_t plainTotal = 0, packedTotal = 0;
  for (const Piece& p : pieces) {
    plainTotal += p.plainSize;
    packedTotal += p.packed.size();
  }
  std::printf("%zu pieces at levels 1, 6, 9: %.1f MB -> %.1f MB\n",
              pieces.size(), plainTotal / 1e6, packedTotal / 1e6);

  // Both decoders must give the corpus back.
  LogNull log;
  Bytes zout(kPiece);
  for (const Piece& p : pieces) {
    DataBuffer in, out;
    in.append(p.packed.data(), static_cast<uint32_t>(p.packed.size()));
    if (!inflateFromMemory(false, in, out, false, nullptr, log) ||
        out.getSize() != p.plainSize ||
        std::memcmp(out.getData(), corpus.data() + p.plainOffset,
                    p.plainSize) != 0) {
      std::fprintf(stderr, "inflateFromMemory gave wrong output\n");
      return 1;
    }
  }

  std::vector<double> ours, theirs;
  DataBuffer in, out;
  for (int r = 0; r < kRounds; ++r) {
    double t0 = cpuSeconds();
    for (const Piece& p : pieces) {
      in.clear();
      in.append(p.packed.data(), static_cast<uint32_t>(p.packed.size()));
      out.clear();
      inflateFromMemory(false, in, out, false, nullptr, log);
    }
    ours.push_back(plainTotal / 1e6 / (cpuSeconds() - t0));

    t0 = cpuSeconds();
    for (const Piece& p : pieces) {
      z_stream z;
      std::memset(&z, 0, sizeof z);
      inflateInit2(&z, -15);
      z.next_in = const_cast<Bytef*>(p.packed.data());
      z.avail_in = static_cast<uInt>(p.packed.size());
      z.next_out = zout.data();
      z.avail_out = static_cast<uInt>(zout.size());
      if (inflate(&z, Z_FINISH) != Z_STREAM_END || z.total_out != p.plainSize)
        std::fprintf(stderr, "zlib failed on a piece\n");
      inflateEnd(&z);
    }
    theirs.push_back(plainTotal / 1e6 / (cpuSeconds() - t0));
  }
  double a = median(ours), b = median(theirs);
  std::printf("inflateFromMemory %8.1f MB/s\n", a);
  std::printf("zlib inflate      %8.1f MB/s\n", b);
  std::printf("ratio             %8.2f\n", a / b);
  return 0;
}

}  // namespace
}  // namespace sfx

int main(int argc, char** argv) { return sfx::run(argc, argv); }
