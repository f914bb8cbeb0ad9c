// AES-256-CBC decryption: decryptBuffer with the processor's AES
// instructions and with the portable code, beside OpenSSL's EVP in the same
// run on the same ciphertext. Prints the median of several rounds in MB/s
// per second of processor time.
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "codec/aes.h"
#include "log/log_base.h"
#include "text/data_buffer.h"

namespace sfx {
namespace {

constexpr uint32_t kSize = 32u << 20;
constexpr int kRounds = 7;

double cpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

template <typename F>
double medianRate(F&& run) {
  std::vector<double> rates;
  for (int r = 0; r < kRounds; ++r) {
    double t0 = cpuSeconds();
    run();
    rates.push_back(kSize / 1e6 / (cpuSeconds() - t0));
  }
  std::sort(rates.begin(), rates.end());
  return rates[rates.size() / 2];
}

int run() {
  std::vector<uint8_t> key(32), plain(kSize);
  uint32_t seed = 1;
  for (uint8_t& b : key)
    b = static_cast<uint8_t>((seed = seed * 69069 + 1) >> 24);
  for (uint8_t& b : plain)
    b = static_cast<uint8_t>((seed = seed * 69069 + 1) >> 24);

  AesCipher cipher;
  cipher.setKeyLength(256);
  cipher.setPaddingScheme(2);  // whole blocks, nothing added or removed
  DataBuffer keyBuf, in, out;
  keyBuf.append(key.data(), 32);
  cipher.setKey(keyBuf);
  LogNull log;
  in.append(plain.data(), kSize);
  if (!cipher.encryptBuffer(in, out, log) || out.getSize() != kSize) return 1;
  std::vector<uint8_t> ct(out.getData(), out.getData() + kSize);
  in.clear();
  in.append(ct.data(), kSize);

  // OpenSSL, with the same all-zero IV.
  std::vector<uint8_t> sslOut(kSize + 32);
  uint8_t iv[16] = {};
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  auto openssl = [&] {
    int n1 = 0, n2 = 0;
    EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_DecryptUpdate(ctx, sslOut.data(), &n1, ct.data(), kSize);
    EVP_DecryptFinal_ex(ctx, sslOut.data() + n1, &n2);
  };
  openssl();
  if (std::memcmp(sslOut.data(), plain.data(), kSize) != 0) {
    std::fprintf(stderr, "OpenSSL disagrees\n");
    return 1;
  }

  auto ours = [&](bool hardware) {
    cipher.setHardwareAllowed(hardware);
    return [&, hardware] {
      cipher.setHardwareAllowed(hardware);
      out.clear();
      cipher.decryptBuffer(in, out, log);
    };
  };
  for (bool hardware : {true, false}) {
    ours(hardware)();
    if (out.getSize() != kSize ||
        std::memcmp(out.getData(), plain.data(), kSize) != 0) {
      std::fprintf(stderr, "decryptBuffer gave wrong output\n");
      return 1;
    }
  }

  double ssl = medianRate(openssl);
  double hw = medianRate(ours(true));
  double portable = medianRate(ours(false));
  EVP_CIPHER_CTX_free(ctx);
  std::printf("AES-256-CBC decryption of %u MB\n", kSize >> 20);
  std::printf("OpenSSL EVP           %8.1f MB/s\n", ssl);
  std::printf("decryptBuffer (%s) %8.1f MB/s  ratio %.2f\n",
              AesCipher::hardwareAvailable() ? "AES-NI" : "no AES", hw,
              hw / ssl);
  std::printf("decryptBuffer portable %8.1f MB/s  ratio %.2f\n", portable,
              portable / ssl);
  return 0;
}

}  // namespace
}  // namespace sfx

int main() { return sfx::run(); }
