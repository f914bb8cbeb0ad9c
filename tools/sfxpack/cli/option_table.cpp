// The option tables of sfxpack: one row per option, with its spellings,
// value, help line and what it stores in Options. --help, the manual page
// and the bash completion are written from these rows.
#include <string>

#include "archive/payload_format.h"
#include "cli/options.h"
#include "pack/config_keys.h"

namespace sfxpack {
namespace cli {
namespace {

// --- options of "create" --------------------------------------------------

// --password-file and --password-env, for create and the reading commands
// alike: the password is read once the command line is whole.
int takePasswordSource(Options* o, const char* source,
                       const std::string& where) {
  ++o->passwordOptions;
  o->passwordSource = source;
  o->passwordFrom = where;
  return kGoOn;
}
int takePasswordFile(Options* o, const std::string& v) {
  return takePasswordSource(o, "file", v);
}
int takePasswordEnv(Options* o, const std::string& v) {
  return takePasswordSource(o, "env", v);
}

const OptionRow kCreateOptions[] = {
    {"-o|--output", "OUT.exe", "the self-extracting executable to write",
     [](Options* o, const std::string& v) {
       o->output = v;
       return kGoOn;
     }},
    {"--arch", "x86|x64",
     "the built-in stub: x86 (32-bit, as it ships; default) or x64",
     [](Options* o, const std::string& v) {
       if (v != "x86" && v != "x64")
         return usageError("--arch must be x86 or x64");
       o->arch = v;
       o->archGiven = true;
       return kGoOn;
     }},
    {"--stub", "STUB.exe", "a stub executable of your own instead",
     [](Options* o, const std::string& v) {
       o->stub = v;
       return kGoOn;
     }},
    {"--config", "FILE",
     "a whole configuration document (XML, UTF-8); the flags below override "
     "its keys",
     [](Options* o, const std::string& v) {
       o->config = v;
       o->haveConfig = true;
       return kGoOn;
     }},
    {"--set", "KEY=VALUE", "any configuration key (see CONFIG.md)",
     [](Options* o, const std::string& v) {
       std::pair<std::string, std::string> kv;
       std::string error;
       if (!parseKeyAssignment(v, &kv, &error)) return usageError(error);
       o->configOverrides.push_back(kv);
       return kGoOn;
     }},
    {"--arg", "NAME=VALUE", "a further named argument of the payload",
     [](Options* o, const std::string& v) {
       size_t eq = v.find('=');
       if (eq == std::string::npos || eq == 0)
         return usageError("--arg needs NAME=VALUE, got '" + v + "'");
       if (v.compare(0, eq, sfx::kConfigArg) == 0)
         return usageError(std::string("--arg ") + sfx::kConfigArg +
                           ": give --config FILE instead");
       if (v.compare(0, eq, "kdf") == 0)
         return usageError(
             "--arg kdf: the packer writes it; give --kdf-iterations N");
       o->extraArgs.emplace_back(v.substr(0, eq), v.substr(eq + 1));
       return kGoOn;
     }},
    {"--password", "PW",
     "encrypt names and data with AES; sets Encryption to 1; PW '-' asks on "
     "the terminal. The key derivation of the format without a kdf argument "
     "is fast and unsalted: use long random passwords",
     [](Options* o, const std::string& v) {
       if (v.empty()) return usageError("--password is empty");
       ++o->passwordOptions;
       if (v == "-") {
         o->passwordSource = "-";
       } else {
         o->pack.password = v;
       }
       return kGoOn;
     }},
    {"--password-file", "FILE",
     "the password is the first line of FILE (not seen in the process list)",
     takePasswordFile},
    {"--password-env", "NAME", "the password is the value of variable NAME",
     takePasswordEnv},
    {"--key-bits", "128|192|256", "AES key size (default 256)",
     [](Options* o, const std::string& v) {
       unsigned long long n = 0;
       if (!parseNumber(v, 128, 256, &n) || (n != 128 && n != 192 && n != 256))
         return usageError("--key-bits must be 128, 192 or 256");
       o->pack.keyBits = static_cast<int>(n);
       return kGoOn;
     }},
    {"--kdf-iterations", "N",
     "PBKDF2-HMAC-SHA256 iterations of the password key, 1000 to 100000000 "
     "(default 600000)",
     [](Options* o, const std::string& v) {
       unsigned long long n = 0;
       if (!parseNumber(v, 1000, 100000000, &n))
         return usageError("--kdf-iterations must be 1000 to 100000000");
       o->pack.kdfIterations = static_cast<uint32_t>(n);
       return kGoOn;
     }},
    {"--legacy-encryption", nullptr,
     "the earlier unsalted MD5 password key, for a --stub that knows no other "
     "(weak: use only when needed)",
     [](Options* o, const std::string&) {
       o->pack.legacyEncryption = true;
       return kGoOn;
     }},
    {"--level", "N", "compression level 0 (store) to 12 (default 6)",
     [](Options* o, const std::string& v) {
       unsigned long long n = 0;
       if (!parseNumber(v, 0, 12, &n))
         return usageError("--level must be 0 to 12");
       o->pack.level = static_cast<int>(n);
       return kGoOn;
     }},
    {"--chunk-size", "BYTES", "bytes of file data per chunk (default 1048576)",
     [](Options* o, const std::string& v) {
       unsigned long long n = 0;
       if (!parseNumber(v, 1, kMaxChunkInput, &n))
         return usageError("--chunk-size must be 1 to " +
                           std::to_string(kMaxChunkInput));
       o->pack.chunkSize = static_cast<size_t>(n);
       return kGoOn;
     }},
    {"--threads", "N", "compression threads (default: one per core)",
     [](Options* o, const std::string& v) {
       unsigned long long n = 0;
       if (!parseNumber(v, 1, 256, &n))
         return usageError("--threads must be 1 to 256");
       o->pack.threads = static_cast<unsigned>(n);
       return kGoOn;
     }},
    {"--hidden-dotfiles", nullptr, "mark names beginning with '.' hidden",
     [](Options* o, const std::string&) {
       o->pack.hiddenDotfiles = true;
       return kGoOn;
     }},
    {"--no-integrity", nullptr, "leave out the integrity record (entry CRCs)",
     [](Options* o, const std::string&) {
       o->pack.integrity = false;
       return kGoOn;
     }},
    {"--rename", nullptr,
     "store names Windows refuses under repaired names (each reported)",
     [](Options* o, const std::string&) {
       o->rename = true;
       return kGoOn;
     }},
    {"--follow-links", nullptr,
     "store what links leading outside the packed folders point to",
     [](Options* o, const std::string&) {
       o->pack.followLinks = true;
       return kGoOn;
     }},
    {"-x|--exclude", "PATTERN",
     "leave out the stored paths PATTERN matches (repeatable): * ? [a-z] "
     "within a name, ** any depth, a trailing / folders only; a pattern "
     "without / matches the last name at any depth",
     [](Options* o, const std::string& v) {
       std::string error;
       if (!o->excludes.add(v, &error)) return usageError(error);
       return kGoOn;
     }},
    {"--exclude-from", "FILE",
     "the patterns of FILE, one a line (# starts a comment line)",
     [](Options* o, const std::string& v) {
       std::string error;
       if (!o->excludes.addFile(v, &error)) return usageError(error);
       return kGoOn;
     }},
    {"--force-name", nullptr,
     "write the output even when its name does not end in .exe",
     [](Options* o, const std::string&) {
       o->forceName = true;
       return kGoOn;
     }},
    {"--dry-run", nullptr, "check and list what would be stored; write nothing",
     [](Options* o, const std::string&) {
       o->dryRun = true;
       return kGoOn;
     }},
    {"-q|--quiet", nullptr, "no progress bar and no summary",
     [](Options* o, const std::string&) {
       o->quiet = true;
       return kGoOn;
     }},
    {"-v|--verbose", nullptr, "on failure, also the reader's internal log",
     [](Options* o, const std::string&) {
       o->verbose = true;
       return kGoOn;
     }},
};

// --- options of list, test, extract and config ----------------------------

const OptionRow kReadOptions[] = {
    {"--password", "PW",
     "the password of an encrypted payload; PW '-' asks on the terminal",
     [](Options* o, const std::string& v) {
       ++o->passwordOptions;
       if (v == "-") {
         o->passwordSource = "-";
         return kGoOn;
       }
       o->read.password = v;
       o->read.havePassword = true;
       return kGoOn;
     }},
    {"--password-file", "FILE", "the password is the first line of FILE",
     takePasswordFile},
    {"--password-env", "NAME", "the password is the value of variable NAME",
     takePasswordEnv},
    {"-q|--quiet", nullptr, "no header, total or summary line",
     [](Options* o, const std::string&) {
       o->quiet = true;
       o->read.quiet = true;
       return kGoOn;
     }},
    {"-v|--verbose", nullptr,
     "on failure, also the reader's internal log (extract: each file kept)",
     [](Options* o, const std::string&) {
       o->verbose = true;
       o->read.verbose = true;
       return kGoOn;
     }},
};

const OptionRow kExtractOptions[] = {
    {"--overwrite", nullptr, "replace files that exist already",
     [](Options* o, const std::string&) {
       if (o->read.existing == ExistingFiles::kSkip)
         return usageError("give either --overwrite or --skip-existing");
       o->read.existing = ExistingFiles::kOverwrite;
       return kGoOn;
     }},
    {"--skip-existing", nullptr,
     "keep files that exist already (default: refuse them all)",
     [](Options* o, const std::string&) {
       if (o->read.existing == ExistingFiles::kOverwrite)
         return usageError("give either --overwrite or --skip-existing");
       o->read.existing = ExistingFiles::kSkip;
       return kGoOn;
     }},
    {"-C", "DIR", "extract below DIR (default: the current directory)",
     [](Options* o, const std::string& v) {
       if (v.empty()) return usageError("-C is empty");
       o->read.directory = v;
       return kGoOn;
     }},
    {"--threads", "N",
     "decoding threads (default: one per core, at most 2; 1: none)",
     [](Options* o, const std::string& v) {
       unsigned long long n = 0;
       if (!parseNumber(v, 1, 8, &n))
         return usageError("--threads must be 1 to 8");
       o->read.threads = static_cast<int>(n);
       return kGoOn;
     }},
};

// The branding flags of create (parsed by parseBrandingOption; listed here
// for --help, the manual page and the completion).
const OptionRow kBrandingOptions[] = {
    {"--icon", "FILE.ico", "the self-extractor's icon (all its images)",
     nullptr},
    {"--version-info", "KEY=VALUE",
     "version information (repeatable): FileVersion, ProductVersion, "
     "ProductName, CompanyName, FileDescription, LegalCopyright, "
     "OriginalFilename",
     nullptr},
    {"--manifest", "FILE", "replace the stub's application manifest", nullptr},
    {"--elevate", nullptr, "ask for administrator rights when started",
     nullptr},
    {"--string", "ID=TEXT", "a string of the stub's table (103: its title)",
     nullptr},
};

// Options of no command.
const OptionRow kGlobalOptions[] = {
    {"-h|--help", nullptr, "show this help", nullptr},
    {"--version", nullptr,
     "the packer's version, its built-in stubs and their licence", nullptr},
};

}  // namespace

OptionTable createOptions() {
  return {std::begin(kCreateOptions), std::end(kCreateOptions)};
}
OptionTable readOptions() {
  return {std::begin(kReadOptions), std::end(kReadOptions)};
}
OptionTable extractOptions() {
  return {std::begin(kExtractOptions), std::end(kExtractOptions)};
}
OptionTable brandingOptions() {
  return {std::begin(kBrandingOptions), std::end(kBrandingOptions)};
}
OptionTable globalOptions() {
  return {std::begin(kGlobalOptions), std::end(kGlobalOptions)};
}

}  // namespace cli
}  // namespace sfxpack
