// The path rules every file operation applies: separator normalisation, the
// choice between the ANSI and the wide functions, the extended-length form,
// joining an entry name onto a target directory, and the repair of names
// Windows refuses. The rules are string transformations; getFullPath, the
// file part of getFileNamePart and the version probe ask the system
// (file_win32.cpp, file_posix.cpp).
#ifndef SFX_FS_PATH_RULES_H_
#define SFX_FS_PATH_RULES_H_

#include <cstdint>

namespace sfx {

class LogBase;
class XString;

// Paths of this many UTF-16 units or more never go to an ANSI function.
constexpr uint32_t kMaxShortPath = 260;

// The running system's version as GetVersionExA reports it. The POSIX twin
// reports zeros, which is not legacy.
struct WindowsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t platformId = 0;

  // Reads the version each time it is called; zeros when the call fails.
  static WindowsVersion query();
  // True for the legacy family (major version 4: 95, 98, ME and NT 4.0),
  // which uses the ANSI functions.
  bool isLegacy() const { return major == 4; }
};

// WindowsVersion::query().isLegacy().
bool isLegacySystem();

// The length of the path in UTF-16 code units.
uint32_t utf16Length(const XString& path);

// True when the path converts to the system's ANSI code page without loss.
bool isAnsiLossless(const XString& path);

// How a path reaches the system when a file is opened or its attributes are
// read: the ANSI function with the path as given, or the wide function with
// the extended-length form of the path.
enum class PathCallForm { kAnsi, kWideExtended };

// kAnsi when the path is shorter than kMaxShortPath UTF-16 units and either
// `legacy` is set or its ANSI form is lossless; kWideExtended otherwise
// (also on a legacy system).
PathCallForm chooseOpenCallForm(const XString& path, bool legacy);

// The full path (GetFullPathNameW, or GetFullPathNameA on a legacy system;
// "/" becomes "\"). When the system call fails, `out` is the path itself.
// The POSIX twin keeps a path that is absolute in either the Windows or the
// POSIX sense (with "/" turned into "\" for a Windows drive or UNC path) and
// puts the current directory in front of any other path.
void getFullPath(const XString& path, XString& out);

// The extended-length form of getFullPath(path): a path that already begins
// with "\\?\" is kept, a UNC path \\server\share\x becomes
// \\?\UNC\server\share\x, any other path gets "\\?\" in front.
void toExtendedPath(const XString& path, XString& out);

// The form of `path` ("\" separators) that the wide delete takes: the path
// as given up to kMaxShortPath UTF-16 units, the extended-length form of a
// longer one (\\?\UNC\ for a UNC path).
void toDeletePath(const XString& path, XString& out);

// The final component of the path: the file part the system reports for its
// full path when there is one, else the text after the last "\", else after
// the last "/", else the whole path.
void getFileNamePart(const XString& path, XString& out);

// The text after the last "\", else after the last "/", else the whole
// path: getFileNamePart when the system reports no file part.
void lastPathComponent(const XString& path, XString& out);

// Makes the path relative to an unknown root, in place: "/" becomes "\";
// a "\\?\UNC\" prefix becomes "\\" and a "\\?\" prefix is removed; then a
// UNC path loses its server and share names (it becomes empty when nothing
// follows the share), a drive path its "X:" and the "\" after it, and any
// other path its leading "\" characters.
void stripRoot(XString& path);

// The directory (trimmed of space, tab, CR and LF; "/" turned into "\")
// joined with "\" to stripRoot of `name`; an empty directory gives that
// relative name alone. In the appended name, "." components are dropped and
// ".." removes the component before it but never climbs above the
// directory, so the result always lies inside the directory (or, for an
// empty directory, inside the current one).
void joinPath(const XString& dir, const XString& name, XString& out);

// As joinPath, but appends only getFileNamePart of `path`; an empty
// directory yields that part alone.
void joinFileName(const XString& dir, const XString& path, XString& out);

// Repairs, in place, the characters and names Windows refuses in a file
// name: a ":" other than a drive colon, "|", a "?" other than the one of a
// "\\?" prefix, "*", "<", ">" and '"' each become "_"; CR and LF are
// removed. With `checkReservedNames`, a final component that is a device
// name (con, prn, aux, nul, clock$, com0-com9, lpt0-lpt9) in any letter
// case, alone or followed by ".", gets "_" in front (CON.txt becomes
// _CON.txt, con becomes _con). With a log, each repaired character class
// logs an information line and the named values "filename" (before) and,
// for ":", "modifiedFilename" (after).
void sanitizeFileName(XString& path, bool checkReservedNames, LogBase* log);

}  // namespace sfx

#endif  // SFX_FS_PATH_RULES_H_
