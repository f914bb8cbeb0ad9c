// sfxpack: makes a self-extracting executable from the stub, a configuration
// document, named arguments and a set of folders and files.
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "branding.h"
#include "packer.h"
#include "payload_writer.h"
#include "reader.h"

namespace sfxpack {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The configuration the stub builds for itself when the payload has none.
constexpr const char kDefaultConfig[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n"
    "<SfxConfig>\r\n"
    "    <AutoTemp>0</AutoTemp>\r\n"
    "    <DeleteAfterSetup>0</DeleteAfterSetup>\r\n"
    "    <ShowFin>0</ShowFin>\r\n"
    "    <ShowMain>1</ShowMain>\r\n"
    "    <ShowProgress>1</ShowProgress>\r\n"
    "    <WaitForSetup>1</WaitForSetup>\r\n"
    "    <Encryption>0</Encryption>\r\n"
    "    <KeyLength>128</KeyLength>\r\n"
    "</SfxConfig>\r\n";

const char kUsage[] =
    "Usage: sfxpack create -o OUT.exe --stub STUB.exe [options] [DIR|FILE "
    "...]\n"
    "       sfxpack list FILE.exe [--password PW]\n"
    "       sfxpack test FILE.exe [--password PW]\n"
    "       sfxpack extract FILE.exe [-C DIR] [--password PW]\n"
    "       sfxpack info FILE.exe\n"
    "\n"
    "Writes a copy of STUB.exe followed by a payload: the configuration "
    "document,\n"
    "the named arguments and the given folders and files. The contents of "
    "each\n"
    "DIR are stored relative to DIR; a FILE is stored under its own name.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT.exe     the self-extracting executable to write\n"
    "  --stub STUB.exe          the stub executable to copy\n"
    "  --config FILE            configuration document (XML, UTF-8) stored as "
    "the\n"
    "                           xmlConfig argument; without it the stub's "
    "defaults\n"
    "  --arg NAME=VALUE         a further named argument (repeatable)\n"
    "  --password PW            encrypt names and data with AES (the "
    "configuration\n"
    "                           should then set Encryption to 1)\n"
    "  --key-bits 128|192|256   AES key size (default 256)\n"
    "  --level N                compression level 0 (store) to 12 (default "
    "6)\n"
    "  --chunk-size BYTES       bytes of file data per chunk (default "
    "1048576)\n"
    "  --threads N              compression threads (default: one per core)\n"
    "  --hidden-dotfiles        mark names beginning with '.' hidden\n"
    "  --no-integrity           leave out the integrity record (entry CRCs)\n"
    "  -q, --quiet              no progress bar and no summary\n"
    "  --icon FILE.ico          the self-extractor's icon (all its images)\n"
    "  --version-info KEY=VALUE version information (repeatable): "
    "FileVersion,\n"
    "                           ProductVersion, ProductName, CompanyName,\n"
    "                           FileDescription, LegalCopyright, "
    "OriginalFilename\n"
    "  --manifest FILE          replace the stub's application manifest\n"
    "  --elevate                ask for administrator rights when started\n"
    "  --string ID=TEXT         a string of the stub's table (103: its "
    "title)\n"
    "  -h, --help               show this help\n"
    "\n"
    "info shows the architecture, the resources, the payload's offset and\n"
    "size and the stored configuration.\n"
    "list shows each entry's type, size, modification time (local time, as\n"
    "stored), attributes, CRC-32 from the integrity record and name. test\n"
    "reads, decrypts and inflates every entry without writing anything.\n"
    "extract creates the entries below DIR (default: the current directory).\n"
    "All three read the payload with the stub's own reader and fail on the\n"
    "first entry that does not decode; each entry that differs from the\n"
    "integrity record is reported, and the run then fails.\n"
    "\n"
    "Exit status: 0 on success, 1 on failure, 2 on bad usage.\n";

struct Options {
  std::string output;
  std::string stub;
  std::string config;
  bool haveConfig = false;
  bool quiet = false;
  std::vector<std::pair<std::string, std::string>> extraArgs;
  PackOptions pack;
  BrandingOptions branding;
};

int usageError(const std::string& message) {
  std::cerr << "sfxpack: " << message << "\n"
            << "Try 'sfxpack --help' for more information.\n";
  return kExitUsage;
}

int failure(const std::string& message) {
  std::cerr << "sfxpack: " << message << "\n";
  return kExitFailure;
}

bool readFile(const std::string& path, std::vector<uint8_t>* out,
              std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  out->assign(std::istreambuf_iterator<char>(in),
              std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "error reading '" + path + "'";
    return false;
  }
  return true;
}

bool parseNumber(const char* text, unsigned long long lo, unsigned long long hi,
                 unsigned long long* out) {
  char* end = nullptr;
  errno = 0;
  unsigned long long n = std::strtoull(text, &end, 10);
  if (errno || !end || end == text || *end || n < lo || n > hi) return false;
  *out = n;
  return true;
}

// A one-line progress bar on stderr, redrawn at most ten times a second.
class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled) {}
  void update(uint64_t done, uint64_t total) {
    if (!enabled_) return;
    auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    drawn_ = true;
    int percent = total ? static_cast<int>(done * 100 / total) : 100;
    int filled = percent * 30 / 100;
    fprintf(stderr, "\r[%-30s] %3d%% %llu MiB",
            std::string(filled, '#').c_str(), percent,
            static_cast<unsigned long long>(done >> 20));
    fflush(stderr);
  }
  void clear() {
    if (enabled_ && drawn_) fprintf(stderr, "\r%60s\r", "");
  }

 private:
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_;
};

// Parses the options of "create". Returns -1 to go on, else an exit status.
int parseCreate(int argc, char** argv, Options* o) {
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    static const char* const kWithValue[] = {
        "-o",         "--output",   "--stub",  "--config",     "--arg",
        "--password", "--key-bits", "--level", "--chunk-size", "--threads"};
    bool withValue = std::find(std::begin(kWithValue), std::end(kWithValue),
                               a) != std::end(kWithValue);
    std::string brandingError;
    if (parseBrandingOption(argc, argv, &i, &o->branding, &brandingError)) {
      if (!brandingError.empty()) return usageError(brandingError);
    } else if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      return kExitOk;
    } else if (withValue) {
      if (i + 1 >= argc) return usageError("option " + a + " needs a value");
      const char* v = argv[++i];
      unsigned long long n = 0;
      if (a == "-o" || a == "--output") {
        o->output = v;
      } else if (a == "--stub") {
        o->stub = v;
      } else if (a == "--config") {
        o->config = v;
        o->haveConfig = true;
      } else if (a == "--password") {
        o->pack.password = v;
        if (o->pack.password.empty()) return usageError("--password is empty");
      } else if (a == "--arg") {
        std::string kv = v;
        size_t eq = kv.find('=');
        if (eq == std::string::npos || eq == 0) {
          return usageError("--arg needs NAME=VALUE, got '" + kv + "'");
        }
        o->extraArgs.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
      } else if (a == "--key-bits") {
        if (!parseNumber(v, 128, 256, &n) ||
            (n != 128 && n != 192 && n != 256)) {
          return usageError("--key-bits must be 128, 192 or 256");
        }
        o->pack.keyBits = static_cast<int>(n);
      } else if (a == "--level") {
        if (!parseNumber(v, 0, 12, &n))
          return usageError("--level must be 0 to 12");
        o->pack.level = static_cast<int>(n);
      } else if (a == "--threads") {
        if (!parseNumber(v, 1, 256, &n))
          return usageError("--threads must be 1 to 256");
        o->pack.threads = static_cast<unsigned>(n);
      } else {
        if (!parseNumber(v, 1, kMaxChunkInput, &n)) {
          return usageError("--chunk-size must be 1 to " +
                            std::to_string(kMaxChunkInput));
        }
        o->pack.chunkSize = static_cast<size_t>(n);
      }
    } else if (a == "--no-integrity") {
      o->pack.integrity = false;
    } else if (a == "--hidden-dotfiles") {
      o->pack.hiddenDotfiles = true;
    } else if (a == "-q" || a == "--quiet") {
      o->quiet = true;
    } else if (a == "--") {
      for (++i; i < argc; ++i) o->pack.inputs.push_back(argv[i]);
    } else if (!a.empty() && a[0] == '-') {
      return usageError("unknown option '" + a + "'");
    } else {
      o->pack.inputs.push_back(a);
    }
  }
  if (o->output.empty()) return usageError("missing -o OUT.exe");
  if (o->stub.empty()) return usageError("missing --stub STUB.exe");
  return -1;
}

int runCreate(Options& o) {
  auto start = std::chrono::steady_clock::now();
  std::string error;
  std::vector<uint8_t> stub;
  if (!readFile(o.stub, &stub, &error)) return failure(error);
  if (!applyBranding(o.branding, &stub, &error)) return failure(error);

  auto& args = o.pack.args;
  if (o.haveConfig) {
    std::vector<uint8_t> cfg;
    if (!readFile(o.config, &cfg, &error)) return failure(error);
    args.emplace_back("xmlConfig", std::string(cfg.begin(), cfg.end()));
  } else {
    args.emplace_back("xmlConfig", kDefaultConfig);
  }
  for (const auto& kv : o.extraArgs) {
    auto same = [&](const auto& p) { return p.first == kv.first; };
    auto it = std::find_if(args.begin(), args.end(), same);
    if (it != args.end()) {
      it->second = kv.second;
    } else {
      args.push_back(kv);
    }
  }

  // Written next to the output, then renamed over it: a failed run leaves no
  // half-written executable behind.
  std::string tmp = o.output + ".part";
  FILE* out = fopen(tmp.c_str(), "wb");
  if (!out) return failure("cannot create '" + tmp + "': " + strerror(errno));
  ProgressBar bar(!o.quiet && isatty(STDERR_FILENO));
  o.pack.progress = [&bar](uint64_t done, uint64_t total) {
    bar.update(done, total);
  };
  PackStats stats;
  bool ok = fwrite(stub.data(), 1, stub.size(), out) == stub.size();
  if (!ok) error = std::string("write failed: ") + strerror(errno);
  ok = ok && writePayload(o.pack, out, &stats, &error);
  bar.clear();
  if (fclose(out) != 0 && ok) {
    ok = false;
    error = std::string("write failed: ") + strerror(errno);
  }
  ok = ok && finishBranding(o.branding, tmp, &error);
  if (!ok) {
    unlink(tmp.c_str());
    return failure(error);
  }
  chmod(tmp.c_str(), 0755);
  if (rename(tmp.c_str(), o.output.c_str()) != 0) {
    error = "cannot create '" + o.output + "': " + strerror(errno);
    unlink(tmp.c_str());
    return failure(error);
  }
  if (!o.quiet) {
    double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count();
    uint64_t total = stub.size() + stats.payloadBytes;
    printf(
        "sfxpack: wrote %s: %llu files, %llu bytes in, %llu bytes out "
        "(payload %llu bytes at offset %zu, %.1f%% of input), %.2f s\n",
        o.output.c_str(), static_cast<unsigned long long>(stats.files),
        static_cast<unsigned long long>(stats.bytesIn),
        static_cast<unsigned long long>(total),
        static_cast<unsigned long long>(stats.payloadBytes), stub.size(),
        stats.bytesIn ? 100.0 * stats.payloadBytes / stats.bytesIn : 100.0,
        secs);
  }
  return kExitOk;
}

// Parses and runs "list", "test" or "extract".
int runRead(int argc, char** argv, ReadMode mode) {
  ReadOptions opts;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      return kExitOk;
    } else if (a == "--password" || (a == "-C" && mode == ReadMode::kExtract)) {
      if (i + 1 >= argc) return usageError("option " + a + " needs a value");
      if (a == "-C") {
        opts.directory = argv[++i];
        if (opts.directory.empty()) return usageError("-C is empty");
      } else {
        opts.password = argv[++i];
        opts.havePassword = true;
      }
    } else if (!a.empty() && a[0] == '-') {
      return usageError("unknown option '" + a + "'");
    } else if (opts.archive.empty()) {
      opts.archive = a;
    } else {
      return usageError("unexpected argument '" + a + "'");
    }
  }
  if (opts.archive.empty()) return usageError("missing FILE.exe");
  ReadStats stats;
  std::string error;
  if (!readArchive(opts, mode, stdout, &stats, &error)) return failure(error);
  if (mode == ReadMode::kList) {
    printf("%llu files, %llu directories, %llu bytes\n",
           static_cast<unsigned long long>(stats.files),
           static_cast<unsigned long long>(stats.directories),
           static_cast<unsigned long long>(stats.plainBytes));
  } else if (mode == ReadMode::kTest) {
    printf("sfxpack: %s: OK, %llu files, %llu directories\n",
           opts.archive.c_str(), static_cast<unsigned long long>(stats.files),
           static_cast<unsigned long long>(stats.directories));
  }
  return kExitOk;
}

int run(int argc, char** argv) {
  if (argc < 2) return usageError("missing command");
  std::string cmd = argv[1];
  if (cmd == "-h" || cmd == "--help" || cmd == "help") {
    std::cout << kUsage;
    return kExitOk;
  }
  if (cmd == "list") return runRead(argc, argv, ReadMode::kList);
  if (cmd == "test") return runRead(argc, argv, ReadMode::kTest);
  if (cmd == "extract") return runRead(argc, argv, ReadMode::kExtract);
  if (cmd == "info") return runInfo(argc, argv);
  if (cmd != "create") return usageError("unknown command '" + cmd + "'");
  Options o;
  int status = parseCreate(argc, argv, &o);
  if (status >= 0) return status;
  return runCreate(o);
}

}  // namespace
}  // namespace sfxpack

int main(int argc, char** argv) {
#ifdef M_TRIM_THRESHOLD
  // Each entry's inflater takes and gives back its window and tables; kept
  // by the allocator instead of going back to the system, they cost no page
  // faults on the next entry (thousands of small files extract faster).
  // Peak memory is unchanged: it is what is in use at once.
  mallopt(M_TRIM_THRESHOLD, 32 << 20);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
#endif
  return sfxpack::run(argc, argv);
}
