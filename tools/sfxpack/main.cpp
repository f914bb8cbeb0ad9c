// sfxpack: makes a self-extracting executable from the stub, a configuration
// document, named arguments and a set of folders and files.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "payload_writer.h"

namespace fs = std::filesystem;

namespace sfxpack {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrHidden = 0x02;
constexpr size_t kDefaultChunkSize = 1 << 20;

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
    "  --chunk-size BYTES       bytes of file data per chunk (default "
    "1048576)\n"
    "  --hidden-dotfiles        mark names beginning with '.' hidden\n"
    "  -h, --help               show this help\n"
    "\n"
    "Exit status: 0 on success, 1 on failure, 2 on bad usage.\n";

struct Options {
  std::string output;
  std::string stub;
  std::string config;
  bool haveConfig = false;
  std::vector<std::pair<std::string, std::string>> args;
  size_t chunkSize = kDefaultChunkSize;
  bool hiddenDotfiles = false;
  std::vector<std::string> inputs;
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

// Modification time as a FILETIME in the local time zone of this machine.
uint64_t localFileTimeOf(const struct stat& st) {
  constexpr uint64_t kUnixEpoch = 116444736000000000ULL;
  time_t t = st.st_mtim.tv_sec;
  struct tm local;
  long offset = localtime_r(&t, &local) ? local.tm_gmtoff : 0;
  int64_t secs = static_cast<int64_t>(t) + offset;
  if (secs < -11644473600LL) secs = -11644473600LL;  // before 1601: clamp
  return kUnixEpoch + static_cast<uint64_t>(secs * 10000000LL) +
         static_cast<uint64_t>(st.st_mtim.tv_nsec / 100);
}

class Packer {
 public:
  explicit Packer(const Options& o) : opts_(o) {}

  bool addInput(const std::string& input, std::string* error) {
    struct stat st;
    if (stat(input.c_str(), &st) != 0) {
      *error = "cannot read '" + input + "': " + std::strerror(errno);
      return false;
    }
    fs::path root(input);
    if (S_ISDIR(st.st_mode)) return addTree(root, "", error);
    return addFile(root, root.filename().string(), st, error);
  }

  PayloadWriter& writer() { return writer_; }
  size_t files() const { return files_; }
  uint64_t bytesIn() const { return bytesIn_; }

 private:
  uint32_t attributesFor(const std::string& leaf) const {
    bool hidden = opts_.hiddenDotfiles && !leaf.empty() && leaf[0] == '.';
    return hidden ? (kAttrArchive | kAttrHidden) : kAttrArchive;
  }

  bool checkName(const std::string& name, std::string* error) {
    if (name.size() > kMaxArgBytes) {
      *error =
          "entry name longer than 65535 bytes: '" + name.substr(0, 60) + "...'";
      return false;
    }
    return true;
  }

  bool addFile(const fs::path& path, const std::string& name,
               const struct stat& st, std::string* error) {
    if (!checkName(name, error)) return false;
    std::vector<uint8_t> data;
    if (!readFile(path.string(), &data, error)) return false;
    writer_.AddFile(name, localFileTimeOf(st),
                    attributesFor(path.filename().string()), data,
                    opts_.chunkSize);
    ++files_;
    bytesIn_ += data.size();
    return true;
  }

  // Adds the contents of dir, sorted by name, directories before their
  // contents.
  bool addTree(const fs::path& dir, const std::string& prefix,
               std::string* error) {
    std::error_code ec;
    std::vector<fs::path> children;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end;
         it.increment(ec)) {
      children.push_back(it->path());
    }
    if (ec) {
      *error = "cannot list '" + dir.string() + "': " + ec.message();
      return false;
    }
    std::sort(children.begin(), children.end());
    for (const fs::path& child : children) {
      std::string leaf = child.filename().string();
      std::string name = prefix.empty() ? leaf : prefix + "/" + leaf;
      struct stat st;
      if (stat(child.c_str(), &st) != 0) {
        *error =
            "cannot read '" + child.string() + "': " + std::strerror(errno);
        return false;
      }
      if (S_ISDIR(st.st_mode)) {
        if (!checkName(name, error)) return false;
        writer_.AddDirectory(name, localFileTimeOf(st), attributesFor(leaf));
        if (!addTree(child, name, error)) return false;
      } else if (S_ISREG(st.st_mode)) {
        if (!addFile(child, name, st, error)) return false;
      } else {
        std::cerr << "sfxpack: skipping '" << child.string()
                  << "': not a regular file\n";
      }
    }
    return true;
  }

  const Options& opts_;
  PayloadWriter writer_;
  size_t files_ = 0;
  uint64_t bytesIn_ = 0;
};

bool writeOutput(const std::string& path, const std::vector<uint8_t>& stub,
                 const std::vector<uint8_t>& payload, std::string* error) {
  std::string tmp = path + ".part";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) {
      *error = "cannot create '" + tmp + "': " + std::strerror(errno);
      return false;
    }
    out.write(reinterpret_cast<const char*>(stub.data()),
              static_cast<std::streamsize>(stub.size()));
    out.write(reinterpret_cast<const char*>(payload.data()),
              static_cast<std::streamsize>(payload.size()));
    out.close();
    if (!out) {
      *error = "error writing '" + tmp + "'";
      unlink(tmp.c_str());
      return false;
    }
  }
  chmod(tmp.c_str(), 0755);
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    *error = "cannot create '" + path + "': " + std::strerror(errno);
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

// Parses the options of "create". Returns -1 to go on, else an exit status.
int parseCreate(int argc, char** argv, Options* o) {
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)what;
      return argv[++i];
    };
    if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      return kExitOk;
    } else if (a == "-o" || a == "--output" || a == "--stub" ||
               a == "--config" || a == "--arg" || a == "--chunk-size") {
      const char* v = value(a.c_str());
      if (!v) return usageError("option " + a + " needs a value");
      if (a == "-o" || a == "--output") {
        o->output = v;
      } else if (a == "--stub") {
        o->stub = v;
      } else if (a == "--config") {
        o->config = v;
        o->haveConfig = true;
      } else if (a == "--arg") {
        std::string kv = v;
        size_t eq = kv.find('=');
        if (eq == std::string::npos || eq == 0) {
          return usageError("--arg needs NAME=VALUE, got '" + kv + "'");
        }
        o->args.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
      } else {
        char* end = nullptr;
        errno = 0;
        unsigned long long n = std::strtoull(v, &end, 10);
        if (errno || !end || *end || n == 0 || n > kMaxChunkBytes) {
          return usageError("--chunk-size must be 1 to " +
                            std::to_string(kMaxChunkBytes));
        }
        o->chunkSize = static_cast<size_t>(n);
      }
    } else if (a == "--hidden-dotfiles") {
      o->hiddenDotfiles = true;
    } else if (a == "--") {
      for (++i; i < argc; ++i) o->inputs.push_back(argv[i]);
    } else if (!a.empty() && a[0] == '-') {
      return usageError("unknown option '" + a + "'");
    } else {
      o->inputs.push_back(a);
    }
  }
  if (o->output.empty()) return usageError("missing -o OUT.exe");
  if (o->stub.empty()) return usageError("missing --stub STUB.exe");
  return -1;
}

int runCreate(const Options& o) {
  std::string error;
  std::vector<uint8_t> stub;
  if (!readFile(o.stub, &stub, &error)) return failure(error);

  std::vector<std::pair<std::string, std::string>> args;
  if (o.haveConfig) {
    std::vector<uint8_t> cfg;
    if (!readFile(o.config, &cfg, &error)) return failure(error);
    args.emplace_back("xmlConfig", std::string(cfg.begin(), cfg.end()));
  } else {
    args.emplace_back("xmlConfig", kDefaultConfig);
  }
  for (const auto& kv : o.args) {
    auto same = [&](const auto& p) { return p.first == kv.first; };
    auto it = std::find_if(args.begin(), args.end(), same);
    if (it != args.end()) {
      it->second = kv.second;
    } else {
      args.push_back(kv);
    }
  }

  Packer packer(o);
  packer.writer().BeginPayload(false, 0);
  if (!packer.writer().AddArgs(args, &error)) return failure(error);
  for (const std::string& input : o.inputs) {
    if (!packer.addInput(input, &error)) return failure(error);
  }
  packer.writer().AddEnd();

  const auto& payload = packer.writer().bytes();
  if (!writeOutput(o.output, stub, payload, &error)) return failure(error);
  std::cout << "sfxpack: wrote " << o.output << ": " << packer.files()
            << " files, " << packer.bytesIn() << " bytes in, "
            << stub.size() + payload.size() << " bytes out (payload of "
            << payload.size() << " bytes at offset " << stub.size() << ")\n";
  return kExitOk;
}

int run(int argc, char** argv) {
  if (argc < 2) return usageError("missing command");
  std::string cmd = argv[1];
  if (cmd == "-h" || cmd == "--help" || cmd == "help") {
    std::cout << kUsage;
    return kExitOk;
  }
  if (cmd != "create") return usageError("unknown command '" + cmd + "'");
  Options o;
  int status = parseCreate(argc, argv, &o);
  if (status >= 0) return status;
  return runCreate(o);
}

}  // namespace
}  // namespace sfxpack

int main(int argc, char** argv) { return sfxpack::run(argc, argv); }
