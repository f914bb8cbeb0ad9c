// The configuration keys the stub reads, the packer's flags that set them,
// and the building of the stored configuration document: a loaded document
// or the stub's construction defaults, the flags' values on top, checked for
// a consistent encryption setting and serialised by the XML layer the stub
// parses with.
#ifndef SFX_TOOLS_SFXPACK_PACK_CONFIG_KEYS_H_
#define SFX_TOOLS_SFXPACK_PACK_CONFIG_KEYS_H_

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace sfxpack {

enum class KeyKind { kFlag, kInteger, kText };

struct ConfigKey {
  const char* name;
  KeyKind kind;
  const char* defaultValue;  // the construction default; nullptr: none
};

// Every key of the configuration record, in the reference's order.
const std::vector<ConfigKey>& configKeys();
// The key of that exact (case-sensitive) name, or nullptr.
const ConfigKey* findConfigKey(const std::string& name);

// A flag of "create" that sets configuration keys. A flag with a value
// (valueName set) stores it under the single key in `sets`; a switch stores
// the fixed "Key=value" pairs of `sets` (separated by spaces).
struct ConfigFlag {
  const char* name;       // "--title"
  const char* valueName;  // "TEXT"; nullptr for a switch
  const char* sets;       // "MainTitle", or "ShowMain=0 ShowFin=0"
  const char* help;       // one line for --help
};

const std::vector<ConfigFlag>& configFlags();
const ConfigFlag* findConfigFlag(const std::string& name);

// Appends the (key, value) pairs that `flag` given with `value` stands for.
// Returns false with *error set when the value does not suit the key's kind
// (an integer key takes an optional "-" and decimal digits).
bool expandConfigFlag(const ConfigFlag& flag, const std::string& value,
                      std::vector<std::pair<std::string, std::string>>* out,
                      std::string* error);

// Parses "Key=value" for --set: the key must be one of configKeys() and the
// value must suit its kind. Returns false with *error set otherwise.
bool parseKeyAssignment(const std::string& text,
                        std::pair<std::string, std::string>* out,
                        std::string* error);

struct ConfigRequest {
  const std::string* document = nullptr;  // a whole document, or none
  std::string documentName;               // for messages: the file it is from
  std::vector<std::pair<std::string, std::string>> overrides;  // in order
  bool encrypted = false;  // a password was given
  int keyBits = 256;
  std::string createdBy;  // VersionCreatedBy of a document built from the
                          // defaults, unless an override sets it
};

// Builds the configuration document. A document the stub reads in another
// form (a file name it loads when it runs, UTF-16, or a declared charset
// other than UTF-8, which the stub converts where it runs) is stored as it
// is, and then no override and no encryption may be asked for. Otherwise:
// `document` parsed (its root must be
// SfxConfig) or, without one, the stub's construction defaults; then every
// override set in order (a later one wins); then, for an encrypted payload,
// Encryption 1 and KeyLength. On success stores the serialised document (UTF-8) in
// *xml, appends advice about settings that will not do what they seem to
// *warnings, and returns true. Returns false with *error set when the
// document does not parse, has another root, says Encryption 0 while a
// password is given, or says Encryption 1 (by itself or by an override)
// while none is.
bool buildConfig(const ConfigRequest& request, std::string* xml,
                 std::vector<std::string>* warnings, std::string* error);

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_PACK_CONFIG_KEYS_H_
