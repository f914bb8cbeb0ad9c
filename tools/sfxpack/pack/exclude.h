// Leaving files out of an archive: the patterns of -x/--exclude and
// --exclude-from, matched against the path an entry is stored under.
#ifndef SFX_TOOLS_SFXPACK_PACK_EXCLUDE_H_
#define SFX_TOOLS_SFXPACK_PACK_EXCLUDE_H_

#include <string>
#include <vector>

namespace sfxpack {

// Shell-style patterns on stored paths ("dir/sub/name", '/' between names):
//   *  any run of characters within a name;  ?  one character (not '/');
//   [abc], [a-z], [!a-z]  one character of (or not of) a set;
//   \c  the character c itself;
//   ** as a whole name (a, a/**, **/b, a/**/b): any number of names, none
//      included, so "**/b" matches "b" and "a/x/b".
// A pattern without '/' (apart from a trailing one) matches the last name
// of a path at any depth ("*.log" leaves out every .log file); one with a
// '/' matches the whole path from the top ("build/*.o"), a leading '/'
// being ignored. A pattern ending in '/' matches folders only. A folder
// left out is not walked: nothing below it is stored.
class ExcludeList {
 public:
  // Adds a pattern; false (with *error set) for an empty pattern or an
  // unclosed '['.
  bool add(const std::string& pattern, std::string* error);
  // Adds the patterns of a file, one a line; empty lines and lines
  // beginning with '#' are skipped, a trailing '\r' is dropped.
  bool addFile(const std::string& path, std::string* error);

  bool empty() const { return patterns_.empty(); }
  // The first pattern matching `path` (a folder when isDirectory), or
  // nullptr.
  const std::string* match(const std::string& path, bool isDirectory) const;

 private:
  struct Pattern {
    std::string text;         // as given
    std::string body;         // without the trailing '/' and leading '/'
    bool directoryOnly = false;
    bool anyDepth = false;    // no '/' in body: matched against the last name
  };
  std::vector<Pattern> patterns_;
};

// True when `text` matches the shell-style `pattern` as described above
// (the whole of both; '*', '?' and sets never match '/').
bool matchPattern(const std::string& pattern, const std::string& text);

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_PACK_EXCLUDE_H_
