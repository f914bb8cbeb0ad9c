// The text rules of the unzip-and-run driver that need no platform: how a
// configured unzip directory and setup program name are normalised, how a
// temporary name loses its extension, and the error text of a failed
// extraction.
#ifndef SFX_APP_UNZIP_PATHS_H_
#define SFX_APP_UNZIP_PATHS_H_

namespace sfx {

class StringBuffer;

// Normalises a configured unzip directory (UTF-8) in place: expands %NAME%
// environment variables; when that changed the text and the original held
// no "\\\\", joins each pair of backslashes the expansion produced; turns
// "/" into "\"; then collapses every run of backslashes (a leading UNC pair
// included) into one. "C:/x//y" gives "C:\x\y", "\\\\srv\\share" gives
// "\srv\share", "%NOSUCHVAR%\x" gives "\x"; a lone "%" stays.
void normalizeUnzipDir(StringBuffer& dir);

// Removes a leading "\\?\" (case-sensitive); other texts stay.
void stripExtendedPrefix(StringBuffer& dir);

// Normalises the configured setup program name in place: "\" becomes "/",
// each "//" becomes "/" in one left-to-right pass, then "/" becomes "\".
// "sub//setup.exe" gives "sub\setup.exe".
void normalizeSetupExe(StringBuffer& exe);

// Cuts a temporary file name's extension: when the text holds a ".", the
// text is shortened to just before its last "."; otherwise it stays.
void cutExtension(StringBuffer& path);

// True when `name` is the command-interpreter setup name "shell", compared
// without regard to ASCII case.
bool isShellSetupName(const char* name);

// The error text of a failed extraction: `logText` (the extraction's log
// rendered as text), or, when it tells of a sharing violation (the words
// "used by another process" or the logged error code 0x20),
// "Cannot overwrite " + `lastPath` + " because it is currently in use".
void extractionErrorText(const StringBuffer& logText, const char* lastPath,
                         StringBuffer& errorText);

}  // namespace sfx

#endif  // SFX_APP_UNZIP_PATHS_H_
