// The fresh temporary unzip directory: a "qz_XXXX" directory in the system's
// temporary folder that this run creates itself, so that the run never
// extracts into, runs from or later removes a directory someone else made.
#ifndef SFX_APP_FRESH_DIR_H_
#define SFX_APP_FRESH_DIR_H_

namespace sfx {

class ExtPtrArray;
class StringBuffer;
class XString;

// Candidates drawn before giving up.
constexpr int kMaxFreshDirAttempts = 201;

// Draws one candidate into `out`: the path of a file name not in use yet,
// with an extension. Returns false when none could be drawn.
using TempNameFn = bool (*)(XString& out);

// The candidates of a run: "qz_" and four random characters plus ".tmp" in
// the system's temporary folder.
bool drawQzTempName(XString& out);

// Draws candidates through `draw` and cuts each one's extension. A candidate
// whose directory exists already is passed over. Otherwise, with `dryRun`,
// it is taken as it is; without, the directory is created with undo records
// into `undo` and taken only when this call created it (a directory that
// appeared in between is passed over too). On success `dir` is the chosen
// path (UTF-8); on failure, after kMaxFreshDirAttempts candidates or a
// failed creation, `dir` is the last candidate tried and false is returned.
bool createFreshTempDir(TempNameFn draw, bool dryRun, ExtPtrArray& undo,
                        StringBuffer& dir);

// As createFreshTempDir, with `first` (a path without extension, UTF-8)
// tried as the first candidate: the name the main dialog drew and showed is
// kept when it is still free at Unzip, and replaced by a drawn one when the
// directory has appeared (or was made by someone else) in between.
bool createFreshTempDir(TempNameFn draw, bool dryRun, ExtPtrArray& undo,
                        StringBuffer& dir, const char* first);

}  // namespace sfx

#endif  // SFX_APP_FRESH_DIR_H_
