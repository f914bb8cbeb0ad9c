// sfxpack: makes a self-extracting executable from a stub, a configuration
// built from flags (or a document), named arguments and a set of folders
// and files; lists, tests and extracts such executables.
//
// Options and commands are tables: a new option is one row (its spellings,
// value, help line and a small function that stores it in Options).
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
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
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "archive/payload_format.h"
#include "archive/simple_archive.h"
#include "cli/docgen.h"
#include "cli/options.h"
#include "cli/password_source.h"
#include "log/logger.h"
#include "pack/config_keys.h"
#include "pack/exclude.h"
#include "pack/name_check.h"
#include "pack/packer.h"
#include "pack/payload_writer.h"
#include "pe/branding.h"
#include "pe/embedded_stubs.h"
#include "read/reader.h"
#include "stream/data_source.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfxpack {
namespace {

using namespace cli;

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

class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled) {}
  // Redraws a one-line bar on stderr, at most ten times a second.
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

const EmbeddedStub* embeddedStub(const std::string& arch) {
  for (const EmbeddedStub& s : kEmbeddedStubs) {
    if (arch == s.arch && s.data) return &s;
  }
  return nullptr;
}

// The stub's bytes: the file given with --stub, else the built-in one.
bool loadStub(const Options& o, std::vector<uint8_t>* stub,
              std::string* error) {
  if (!o.stub.empty()) {
    std::string why;
    if (!readFile(o.stub, stub, error)) return false;
    if (!checkStub(*stub, &why)) {
      *error = "--stub " + o.stub + ": " + why;
      return false;
    }
    return true;
  }
  const EmbeddedStub* s = embeddedStub(o.arch);
  if (!s) {
    *error = "this sfxpack has no built-in " + o.arch +
             " stub (it was built without one): give --stub STUB.exe";
    return false;
  }
  stub->assign(s->data, s->data + s->size);
  return true;
}

// Checks the names of the plan; with --rename, renames. Prints one line a
// finding. False when names are refused.
bool checkPlanNames(Options& o, PackPlan* plan) {
  std::vector<NameIssue> issues = checkNames(&plan->names, o.rename);
  for (const NameIssue& issue : issues) {
    const std::string& source = plan->entries[issue.node].source;
    std::string cause = describeProblems(issue.problems);
    if (!issue.collidesWith.empty())
      cause += " ('" + printableName(issue.collidesWith) + "')";
    if (o.rename) {
      fprintf(stderr, "sfxpack: renamed '%s' to '%s': %s\n",
              printableName(issue.oldName).c_str(),
              printableName(issue.newName).c_str(), cause.c_str());
    } else {
      fprintf(stderr, "sfxpack: %s: %s\n", printableName(source).c_str(),
              cause.c_str());
    }
  }
  if (!issues.empty() && !o.rename) {
    fprintf(stderr,
            "sfxpack: %zu name%s cannot be stored for Windows; nothing was "
            "written (--rename stores repaired names)\n",
            issues.size(), issues.size() == 1 ? "" : "s");
    return false;
  }
  return true;
}

// ---- the temporary output ----------------------------------------------

// The temporary output's name while it exists, for the signal handlers.
char gTempPath[4096];
volatile sig_atomic_t gTempSet = 0;

// SIGINT, SIGTERM and SIGHUP while the output is written: the temporary
// file goes, and the run ends with the conventional status (128 + signal).
extern "C" void onFatalSignal(int sig) {
  if (gTempSet) unlink(gTempPath);
  _exit(128 + sig);
}

// Blocks the three signals for its life, so that the temporary file and
// gTempPath change together.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

 private:
  sigset_t saved_;
};

// The file an output is written to before it is renamed over the output:
// created next to it under a name of its own, exclusively and never
// through a link, with the mode the umask leaves of 0777. Removed unless
// committed, and by the signal handlers.
class TempOutput {
 public:
  TempOutput() = default;
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;
  ~TempOutput() { discard(); }

  bool create(const std::string& output, std::string* error) {
    output_ = output;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = onFatalSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[16];
      snprintf(suffix, sizeof suffix, ".%08x.part",
               static_cast<unsigned>(random()));
      std::string name = output + suffix;
      if (name.size() >= sizeof gTempPath) {
        *error = "cannot create '" + output + "': " + strerror(ENAMETOOLONG);
        return false;
      }
      SignalsHeld held;
      int fd = open(name.c_str(),
                    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0777);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        *error = "cannot create '" + name + "': " + strerror(errno);
        return false;
      }
      memcpy(gTempPath, name.c_str(), name.size() + 1);
      gTempSet = 1;
      path_ = name;
      stream_ = fdopen(fd, "w+b");
      if (!stream_) {
        *error = "cannot create '" + name + "': " + strerror(errno);
        close(fd);
        discard();
        return false;
      }
      return true;
    }
    *error = "cannot create a temporary file next to '" + output + "'";
    return false;
  }

  FILE* stream() const { return stream_; }
  const std::string& path() const { return path_; }

  // Flushes the file to the disk and renames it over the output.
  bool commit(std::string* error) {
    bool ok = fflush(stream_) == 0 && fsync(fileno(stream_)) == 0;
    int err = errno;
    if (fclose(stream_) != 0 && ok) {
      ok = false;
      err = errno;
    }
    stream_ = nullptr;
    if (!ok) {
      *error = "cannot write '" + path_ + "': " + strerror(err);
      discard();
      return false;
    }
    SignalsHeld held;
    ok = rename(path_.c_str(), output_.c_str()) == 0;
    if (!ok) {
      *error = "cannot create '" + output_ + "': " + strerror(errno);
      unlink(path_.c_str());
    }
    gTempSet = 0;
    path_.clear();
    return ok;
  }

  // Closes and removes the file, if it is still there.
  void discard() {
    if (stream_) fclose(stream_);
    stream_ = nullptr;
    if (path_.empty()) return;
    SignalsHeld held;
    unlink(path_.c_str());
    gTempSet = 0;
    path_.clear();
  }

 private:
  std::string output_;
  std::string path_;
  FILE* stream_ = nullptr;
};

int runCreate(Options& o) {
  auto start = std::chrono::steady_clock::now();
  std::string error;

  ConfigRequest request;
  std::vector<uint8_t> configBytes;
  std::string configText;
  if (o.haveConfig) {
    if (!readFile(o.config, &configBytes, &error)) return failure(error, false);
    configText.assign(configBytes.begin(), configBytes.end());
    request.document = &configText;
  }
  request.documentName = o.haveConfig ? o.config : "the configuration";
  request.overrides = o.configOverrides;
  request.encrypted = !o.pack.password.empty();
  request.keyBits = o.pack.keyBits;
  request.createdBy = std::string("sfxpack ") + kPackerVersion;
  std::string xml;
  std::vector<std::string> warnings;
  if (!buildConfig(request, &xml, &warnings, &error))
    return failure(error, false);
  for (const std::string& w : warnings)
    fprintf(stderr, "sfxpack: warning: %s\n", w.c_str());

  auto& args = o.pack.args;
  args.emplace_back(sfx::kConfigArg, xml);
  for (const auto& kv : o.extraArgs) {
    auto same = [&](const auto& p) { return p.first == kv.first; };
    auto it = std::find_if(args.begin(), args.end(), same);
    if (it != args.end()) {
      it->second = kv.second;
    } else {
      args.push_back(kv);
    }
  }

  PackPlan plan;
  std::vector<std::string> notes;
  if (!scanInputs(o.pack, &plan, &notes, &error)) {
    // One line a refused link (or the one input that cannot be read).
    size_t from = 0, end;
    do {
      end = error.find('\n', from);
      fprintf(stderr, "sfxpack: %s\n", error.substr(from, end - from).c_str());
      from = end + 1;
    } while (end != std::string::npos);
    return kExitFailure;
  }
  for (const std::string& n : notes)
    fprintf(stderr, "sfxpack: %s\n", n.c_str());
  if (!checkPlanNames(o, &plan)) return kExitFailure;

  if (o.dryRun) {
    for (const std::string& path : o.excluded)
      printf("%-4s %12s  %s\n", "excl", "-", printableName(path).c_str());
    for (size_t i = 0; i < plan.entries.size(); ++i) {
      const PackEntry& e = plan.entries[i];
      printf("%-4s %12s  %s\n", e.isDirectory ? "dir" : "file",
             e.isDirectory ? "-" : std::to_string(e.size).c_str(),
             printableName(storedPath(plan.names, i)).c_str());
    }
    printf("%zu entries, %llu bytes; nothing written (--dry-run)\n",
           plan.entries.size(),
           static_cast<unsigned long long>(plan.totalBytes));
    return kExitOk;
  }

  std::vector<uint8_t> stub;
  if (!loadStub(o, &stub, &error)) return failure(error, false);
  if (!applyBranding(o.branding, &stub, &error)) return failure(error, false);

  // Written next to the output, then renamed over it: a failed or
  // interrupted run leaves no half-written executable behind and the old
  // output as it was.
  TempOutput out;
  if (!out.create(o.output, &error)) return failure(error, false);
  ProgressBar bar(!o.quiet && isatty(STDERR_FILENO));
  o.pack.progress = [&bar](uint64_t done, uint64_t total) {
    bar.update(done, total);
  };
  PackStats stats;
  bool ok = fwrite(stub.data(), 1, stub.size(), out.stream()) == stub.size();
  if (!ok) error = "cannot write '" + out.path() + "': " + strerror(errno);
  ok = ok && writePayload(o.pack, plan, out.stream(), &stats, &error);
  bar.clear();
  ok = ok && finishBranding(o.branding, out.stream(), out.path(), &error);
  if (!ok) {
    // The writer's own messages do not name the file they concern.
    if (error.compare(0, 12, "write failed") == 0 ||
        error.compare(0, 32, "cannot write the integrity record") == 0)
      error = "cannot write '" + out.path() + "': " + error;
    out.discard();
    return failure(error, false);
  }
  if (!out.commit(&error)) return failure(error, false);
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

bool wasGiven(const Options& o, const char* names) {
  for (const std::string& g : o.given) {
    if (matches(names, g)) return true;
  }
  return false;
}

// Options that do nothing in the combination given: a configuration key
// that the stub reads only together with another, and packer options that
// need another one. Each row: what is given, what it needs, why.
struct UselessRule {
  const char* key;    // a configuration key, or an option ("--key-bits")
  const char* needs;  // a key, or an option spelling ("--password|...")
  const char* why;
};

const UselessRule kUselessRules[] = {
    {"MainUnzipBtn", "MainUnzipLabel",
     "the main dialog shows its own button texts unless a folder label is set"},
    {"MainCloseBtn", "MainUnzipLabel",
     "the main dialog shows its own button texts unless a folder label is set"},
    {"MainBrowseBtn", "MainUnzipLabel",
     "the main dialog shows its own button texts unless a folder label is set"},
    {"MainWidth", "MainHeight", "a dialog is sized only when both are given"},
    {"MainHeight", "MainWidth", "a dialog is sized only when both are given"},
    {"FinWidth", "FinHeight", "a dialog is sized only when both are given"},
    {"FinHeight", "FinWidth", "a dialog is sized only when both are given"},
    {"PwWidth", "PwHeight", "a dialog is sized only when both are given"},
    {"PwHeight", "PwWidth", "a dialog is sized only when both are given"},
    {"ProgressWidth", "ProgressHeight",
     "a dialog is sized only when both are given"},
    {"ProgressHeight", "ProgressWidth",
     "a dialog is sized only when both are given"},
    {"SetupExeArgs", "SetupExe", "there is no program to pass them to"},
    {"--key-bits", "--password|--password-file|--password-env",
     "nothing is encrypted without a password"},
};

// The option that set configuration key `key`: its flag, or --set KEY.
std::string optionOfKey(const Options& o, const std::string& key) {
  for (const ConfigFlag& f : configFlags()) {
    if (key == f.sets && wasGiven(o, f.name)) return f.name;
  }
  return "--set " + key;
}

// Warns, naming the option and why, about each rule that applies.
void warnUseless(const Options& o) {
  auto hasKey = [&](const std::string& key) {
    for (const auto& kv : o.configOverrides) {
      if (kv.first == key) return true;
    }
    return false;
  };
  for (const UselessRule& r : kUselessRules) {
    std::string what;
    if (r.key[0] == '-') {
      if (!wasGiven(o, r.key) || wasGiven(o, r.needs)) continue;
      what = r.key;
    } else {
      // A --config document may set the key needed: it is not looked into.
      if (!hasKey(r.key) || hasKey(r.needs) || o.haveConfig) continue;
      what = optionOfKey(o, r.key);
    }
    std::string needs;
    if (r.needs[0] == '-') {
      needs = spelling(r.needs);
      size_t comma = needs.rfind(", ");
      if (comma != std::string::npos) needs.replace(comma, 2, " or ");
    } else {
      needs = "--set " + std::string(r.needs);
      for (const ConfigFlag& f : configFlags()) {
        if (r.needs == std::string(f.sets)) needs = f.name;
      }
    }
    fprintf(stderr, "sfxpack: warning: %s has no effect without %s (%s)\n",
            what.c_str(), needs.c_str(), r.why);
  }
}

bool endsWithExe(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return tail == ".exe";
}

// The password from --password -, --password-file or --password-env, asked
// for after every option has been read (so that a usage error asks
// nothing). `confirm`: ask twice on the terminal.
int resolvePassword(Options* o, bool confirm, std::string* password) {
  if (o->passwordOptions > 1)
    return usageError(
        "give only one of --password, --password-file and --password-env");
  std::string error;
  bool ok = true;
  if (o->passwordSource == "-") {
    ok = passwordFromTerminal(confirm, password, &error);
  } else if (o->passwordSource == "file") {
    ok = passwordFromFile(o->passwordFrom, password, &error);
  } else if (o->passwordSource == "env") {
    ok = passwordFromEnv(o->passwordFrom, password, &error);
  }
  if (!ok) return failure(error, false);
  return kGoOn;
}

int cmdCreate(int argc, char** argv) {
  Options o;
  std::vector<std::string> operands;
  int status = parseOptions(argc, argv, {createOptions()}, true, &o, &operands);
  if (status != kGoOn) return status;
  o.pack.inputs = operands;
  if (o.output.empty() && !o.dryRun) return usageError("missing -o OUT.exe");
  if (o.output == "-")
    return usageError("-o -: the output must be a file, not standard output");
  if (!o.stub.empty() && o.archGiven)
    return usageError("give either --stub or --arch, not both");
  if (operands.empty())
    return usageError("nothing to pack: give the folders and files to store");
  if (!o.output.empty() && !o.dryRun && !endsWithExe(o.output) && !o.forceName)
    return usageError("'" + o.output +
                      "' does not end in .exe, and Windows starts nothing "
                      "else (--force-name writes it anyway)");
  if (o.forceName && (o.output.empty() || endsWithExe(o.output)))
    fprintf(stderr,
            "sfxpack: warning: --force-name has no effect (the output name "
            "ends in .exe)\n");
  warnUseless(o);
  if (const char* sde = getenv("SOURCE_DATE_EPOCH")) {
    unsigned long long t = 0;
    if (!parseNumber(sde, 0, 253402300799ULL, &t))
      return usageError(std::string("SOURCE_DATE_EPOCH must be seconds since "
                                    "1970 (0 to 253402300799), got '") +
                        sde + "'");
    o.pack.sourceDateEpoch = static_cast<int64_t>(t);
  }
  if (!o.excludes.empty()) {
    o.pack.exclude = [&o](const std::string& path, bool isDirectory) {
      if (!o.excludes.match(path, isDirectory)) return false;
      o.excluded.push_back(path + (isDirectory ? "/" : ""));
      return true;
    };
  }
  status = resolvePassword(&o, true, &o.pack.password);
  if (status != kGoOn) return status;
  o.pack.output = o.output;
  return runCreate(o);
}

// Reading commands: one archive operand and the read options.
int parseRead(int argc, char** argv, bool extract, Options* o) {
  std::vector<std::string> operands;
  std::vector<std::pair<const OptionRow*, const OptionRow*>> tables = {
      readOptions()};
  if (extract) tables.push_back(extractOptions());
  int status = parseOptions(argc, argv, tables, false, o, &operands);
  if (status != kGoOn) return status;
  if (operands.empty()) return usageError("missing FILE.exe");
  if (operands.size() > 1)
    return usageError("unexpected argument '" + operands[1] + "'");
  o->read.archive = operands[0];
  if (!o->passwordSource.empty() || o->passwordOptions > 1) {
    status = resolvePassword(o, false, &o->read.password);
    if (status != kGoOn) return status;
    o->read.havePassword = true;
  }
  return kGoOn;
}

int runRead(int argc, char** argv, ReadMode mode) {
  Options o;
  int status = parseRead(argc, argv, mode == ReadMode::kExtract, &o);
  if (status != kGoOn) return status;
  ReadOptions& opts = o.read;
  ReadStats stats;
  std::string error;
  if (!readArchive(opts, mode, stdout, &stats, &error)) {
    return failure(opts.archive + ": " + error, o.verbose);
  }
  if (o.quiet) return kExitOk;
  if (mode == ReadMode::kList) {
    printf("%llu files, %llu directories, %llu bytes\n",
           static_cast<unsigned long long>(stats.files),
           static_cast<unsigned long long>(stats.directories),
           static_cast<unsigned long long>(stats.plainBytes));
  } else if (mode == ReadMode::kTest) {
    printf("sfxpack: %s: OK, %llu files, %llu directories\n",
           opts.archive.c_str(), static_cast<unsigned long long>(stats.files),
           static_cast<unsigned long long>(stats.directories));
  } else if (stats.kept > 0) {
    printf("sfxpack: kept %llu existing file%s (--skip-existing)\n",
           static_cast<unsigned long long>(stats.kept),
           stats.kept == 1 ? "" : "s");
  }
  return kExitOk;
}

int cmdList(int argc, char** argv) {
  return runRead(argc, argv, ReadMode::kList);
}
int cmdTest(int argc, char** argv) {
  return runRead(argc, argv, ReadMode::kTest);
}
int cmdExtract(int argc, char** argv) {
  return runRead(argc, argv, ReadMode::kExtract);
}

// config FILE.exe: the configuration document the payload carries.
int cmdConfig(int argc, char** argv) {
  Options o;
  int status = parseRead(argc, argv, false, &o);
  if (status != kGoOn) return status;
  const std::string& name = o.read.archive;
  sfx::Logger log;
  sfx::XString path;
  path.setFromUtf8(name.c_str());
  sfx::FileDataSource file;
  sfx::SimpleArchive archive;
  archive.setSource(&file);
  sfx::StringBuffer headerError;
  std::string error;
  if (!file.openDataSource(path, log)) {
    error = "cannot read the file";
  } else if (!archive.findMarker(log, nullptr)) {
    error = "no payload";
  } else if (!archive.readHeader(headerError, log, nullptr)) {
    error = std::string("cannot read the payload header: ") +
            headerError.getString();
  } else if (!archive.readArgs(log, nullptr)) {
    error = "cannot read the payload's arguments";
  }
  if (!error.empty()) {
    sfx::StringBuffer text;
    log.getLogText(text);
    return failure(name + ": " + error + "\n" + text.getString(), o.verbose);
  }
  sfx::XString doc;
  if (!archive.getArg(sfx::kConfigArg, doc)) {
    printf("(no configuration: the stub's defaults apply)\n");
    return kExitOk;
  }
  std::string text = doc.getUtf8();
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  printf("%s%s", text.c_str(),
         !text.empty() && text.back() == '\n' ? "" : "\n");
  return kExitOk;
}

int printVersion() {
  printf("sfxpack %s\n", kPackerVersion);
  for (const EmbeddedStub& s : kEmbeddedStubs) {
    if (s.data) {
      printf("built-in %s stub: version %s, %zu bytes\n", s.arch, s.version,
             s.size);
    } else {
      printf("built-in %s stub: none (give --stub)\n", s.arch);
    }
  }
  printf(
      "licence: %s, the packer and its built-in stubs (every archive made "
      "with them carries a stub); see the copyright file or LICENSE\n",
      kLicense);
  return kExitOk;
}

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"create", cmdCreate},   {"list", cmdList},     {"test", cmdTest},
    {"extract", cmdExtract}, {"config", cmdConfig}, {"info", runInfo},
};

int run(int argc, char** argv) {
  if (argc < 2) return usageError("missing command");
  std::string cmd = argv[1];
  if (cmd == "-h" || cmd == "--help" || cmd == "help") {
    printHelp();
    return kExitOk;
  }
  if (cmd == "--version" || cmd == "version") return printVersion();
  // For the build: the bash completion and the manual page, made from the
  // option tables.
  if (cmd == "--generate-completion" && argc == 2) {
    writeBashCompletion(stdout, commandDocsBegin(), commandDocsEnd(),
                        optionDocs());
    return kExitOk;
  }
  if (cmd == "--generate-man" && argc == 3) {
    std::string error;
    if (!writeManPage(stdout, argv[2], commandDocsBegin(), commandDocsEnd(),
                      optionDocs(), &error))
      return failure(error, false);
    return kExitOk;
  }
  for (const Command& c : kCommands) {
    if (cmd == c.name) return c.run(argc, argv);
  }
  return usageError("unknown command '" + cmd + "'");
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
