// POSIX only: relative paths walked without following symbolic links, for
// an extraction that must stay inside its target directory whatever that
// directory already holds.
#ifndef SFX_FS_CONFINED_PATHS_H_
#define SFX_FS_CONFINED_PATHS_H_

#include <string>

namespace sfx {

// While on, the file operations of fs/file.h take a relative path
// component by component from the current directory: each directory is
// opened relative to its parent with O_NOFOLLOW and O_DIRECTORY, and the
// last component is opened, created, changed or removed relative to its
// directory without following a link either. A symbolic link met anywhere
// fails the operation (ELOOP, "Too many levels of symbolic links") and is
// remembered; a ".." component fails it too. Absolute paths are not
// affected. Process-wide; off by default.
void setConfinedPaths(bool on);
bool confinedPaths();

// The path (as given to the operation, up to and including the link) of the
// last symbolic link a confined operation refused, and clears it; empty
// when none was met.
std::string takeRefusedLink();

}  // namespace sfx

#endif  // SFX_FS_CONFINED_PATHS_H_
