// Throughput of the converter's UTF-8 <-> UTF-16 legs and of one table page,
// printed beside a plain copy of the same bytes and, where the C library
// has one, its iconv, all measured in the same run.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "charset/encoding_convert.h"
#include "log/log_base.h"
#include "text/data_buffer.h"

#if !defined(_WIN32)
#include <iconv.h>
#define SFX_BENCH_ICONV 1
#endif

namespace sfx {
namespace {

constexpr size_t kTextSize = 16u << 20;
constexpr int kRounds = 5;

using Clock = std::chrono::steady_clock;

// Best of kRounds, in MB/s of input.
template <typename F>
double measure(size_t inputBytes, F&& run) {
  double best = 0;
  for (int r = 0; r < kRounds; ++r) {
    auto t0 = Clock::now();
    run();
    std::chrono::duration<double> dt = Clock::now() - t0;
    double mbs = inputBytes / 1e6 / dt.count();
    if (mbs > best) best = mbs;
  }
  return best;
}

std::string repeatTo(const std::string& unit, size_t size) {
  std::string s;
  s.reserve(size + unit.size());
  while (s.size() < size) s += unit;
  return s;
}

double convertRate(uint32_t from, uint32_t to, const std::string& in,
                   size_t* outSize) {
  DataBuffer out;
  LogNull log;
  return measure(in.size(), [&] {
    out.clear();
    EncodingConvert conv;
    conv.EncConvert(from, to, reinterpret_cast<const uint8_t*>(in.data()),
                    static_cast<uint32_t>(in.size()), out, log);
    *outSize = out.getSize();
  });
}

double copyRate(const std::string& in) {
  std::vector<char> dst(in.size());
  return measure(in.size(), [&] {
    memcpy(dst.data(), in.data(), in.size());
    // Keep the copy observable.
    if (dst[in.size() / 2] == 1) std::puts("");
  });
}

#ifdef SFX_BENCH_ICONV
double iconvRate(const char* from, const char* to, const std::string& in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
  std::vector<char> dst(in.size() * 2 + 16);
  double rate = measure(in.size(), [&] {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* inp = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* outp = dst.data();
    size_t outLeft = dst.size();
    iconv(cd, &inp, &inLeft, &outp, &outLeft);
  });
  iconv_close(cd);
  return rate;
}
#endif

void report(const char* what, double rate, double copy, double ref) {
  std::printf("%-34s %8.0f MB/s  %5.3f x copy", what, rate, rate / copy);
  if (ref > 0) std::printf("  %5.2f x iconv", rate / ref);
  std::printf("\n");
}

}  // namespace
}  // namespace sfx

int main() {
  using namespace sfx;
  const std::string ascii = repeatTo(
      "The quick brown fox jumps over the lazy dog; caf\xC3\xA9 "
      "na\xC3\xAFve r\xC3\xA9sum\xC3\xA9 (2024-05-01) 12345.\n",
      kTextSize);
  const std::string cjk = repeatTo(
      "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE6\x96\x87\xE7\xAB"
      "\xA0\xE3\x81\xA7\xE3\x81\x99\xE3\x80\x82\xED\x95\x9C\xEA\xB5\xAD\xEC"
      "\x96\xB4 \xE4\xB8\xAD\xE6\x96\x87\xE3\x80\x81",
      kTextSize);
  size_t wideSize = 0;
  std::printf("input: %zu bytes per text, best of %d rounds\n", ascii.size(),
              kRounds);
  for (const auto& text : {std::make_pair("ASCII-heavy", &ascii),
                           std::make_pair("CJK", &cjk)}) {
    const std::string& in = *text.second;
    double copy = copyRate(in);
    std::printf("%s: plain copy %.0f MB/s\n", text.first, copy);
    double toWide = convertRate(65001, 1200, in, &wideSize);
    DataBuffer wideBuf;
    LogNull log;
    EncodingConvert conv;
    conv.EncConvert(65001, 1200, reinterpret_cast<const uint8_t*>(in.data()),
                    static_cast<uint32_t>(in.size()), wideBuf, log);
    std::string wide(reinterpret_cast<const char*>(wideBuf.getData()),
                     wideBuf.getSize());
    size_t backSize = 0;
    double fromWide = convertRate(1200, 65001, wide, &backSize);
    double refTo = 0, refFrom = 0;
#ifdef SFX_BENCH_ICONV
    refTo = iconvRate("UTF-8", "UTF-16LE", in);
    refFrom = iconvRate("UTF-16LE", "UTF-8", wide);
#endif
    report("  UTF-8 -> UTF-16 (per UTF-8 byte)", toWide, copy, refTo);
    report("  UTF-16 -> UTF-8 (per UTF-16 byte)", fromWide, copy, refFrom);
    if (backSize != in.size()) std::printf("  round trip changed the size!\n");
  }
  {
    std::string latin;
    size_t n = 0;
    DataBuffer buf;
    LogNull log;
    EncodingConvert conv;
    conv.EncConvert(65001, 1252, reinterpret_cast<const uint8_t*>(ascii.data()),
                    static_cast<uint32_t>(ascii.size()), buf, log);
    latin.assign(reinterpret_cast<const char*>(buf.getData()), buf.getSize());
    double copy = copyRate(latin);
    double rate = convertRate(1252, 65001, latin, &n);
    double ref = 0;
#ifdef SFX_BENCH_ICONV
    ref = iconvRate("CP1252", "UTF-8", latin);
#endif
    std::printf("Windows-1252: plain copy %.0f MB/s\n", copy);
    report("  1252 -> UTF-8", rate, copy, ref);
  }
  return 0;
}
