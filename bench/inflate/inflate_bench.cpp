// Throughput of inflateFromMemory beside zlib's inflate on the same pieces in
// the same run. The corpus is read from the folders given on the command
// line (see run.sh): shared libraries, text, and already-compressed .gz
// files, cut into 1 MiB pieces, each raw-deflated on its own at levels 1, 6
// and 9. Prints the median of several rounds in MB/s of decoded output per
// second of processor time.
#include <zlib.h>

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

int run(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: inflate_bench LIBDIR TEXTDIR [MB]\n"
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
