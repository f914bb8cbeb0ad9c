// Charset names to code pages: the fixed table of the names the converter
// knows, with its normalisation of the name.
#ifndef SFX_CHARSET_CHARSET_NAMES_H_
#define SFX_CHARSET_CHARSET_NAMES_H_

#include <cstdint>

namespace sfx {

// The code page of charset `name`. The name is trimmed of spaces, tabs, CR
// and LF at both ends, lower-cased (ASCII letters, and bytes 192-223 by
// adding 32) and every "_" becomes "-". A name then shorter than 3
// characters, or "ansi", gives the active ANSI code page of the system (a
// null name counts as ""). Otherwise the name is looked up in the table;
// a name not there, or one beginning with "f", "o", "p", "q" or "r", gives 0.
uint32_t charsetToCodePage(const char* name);

// The table, sorted by name in byte order (for tests).
struct CharsetName {
  const char* name;
  uint32_t codePage;
};
extern const CharsetName kCharsetNames[];
extern const uint32_t kNumCharsetNames;

}  // namespace sfx

#endif  // SFX_CHARSET_CHARSET_NAMES_H_
