// Choosing and creating the fresh temporary unzip directory.
#include "app/fresh_dir.h"

#include "app/unzip_paths.h"
#include "fs/file.h"
#include "log/log_base.h"
#include "text/ext_ptr_array.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfx {

bool drawQzTempName(XString& out) {
  XString stem;
  stem.setFromUtf8("qz");
  LogNull quiet;
  return makeTempFilePath(stem, out, quiet);
}

bool createFreshTempDir(TempNameFn draw, bool dryRun, ExtPtrArray& undo,
                        StringBuffer& dir) {
  return createFreshTempDir(draw, dryRun, undo, dir, nullptr);
}

bool createFreshTempDir(TempNameFn draw, bool dryRun, ExtPtrArray& undo,
                        StringBuffer& dir, const char* first) {
  dir.clear();
  for (int attempt = 0; attempt < kMaxFreshDirAttempts; ++attempt) {
    if (attempt == 0 && first && *first) {
      dir.setString(first);
    } else {
      XString temp;
      if (!draw(temp)) continue;
      dir.setString(temp.getUtf8());
      cutExtension(dir);
    }
    XString candidate;
    candidate.setFromUtf8Sb(dir);
    if (fileExists(candidate, nullptr)) continue;
    if (dryRun) return true;
    int before = undo.getSize();
    LogNull quiet;
    if (!ensureDir(candidate, &undo, quiet)) return false;
    if (undo.getSize() > before) return true;
  }
  return false;
}

}  // namespace sfx
