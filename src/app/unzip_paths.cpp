// Text rules of the unzip-and-run driver (see unzip_paths.h).
#include "app/unzip_paths.h"

#include "text/string_buffer.h"

namespace sfx {

namespace {

// Bound of the passes that collapse runs of backslashes.
constexpr int kMaxCollapsePasses = 1001;

}  // namespace

void normalizeUnzipDir(StringBuffer& dir) {
  StringBuffer original(dir);
  dir.expandEnvironmentVariables();
  if (!dir.equals(original) && !original.findSubstring("\\\\"))
    dir.replaceAllWithChar("\\\\", '\\');
  dir.replaceChar('/', '\\');
  for (int pass = 0; pass < kMaxCollapsePasses && dir.findSubstring("\\\\");
       ++pass) {
    dir.replaceAllWithChar("\\\\", '\\');
  }
}

void stripExtendedPrefix(StringBuffer& dir) {
  if (!dir.beginsWith("\\\\?\\")) return;
  StringBuffer rest(dir.getString() + 4);
  dir.takeSb(rest);
}

void normalizeSetupExe(StringBuffer& exe) {
  exe.replaceChar('\\', '/');
  exe.replaceAllWithChar("//", '/');
  exe.replaceChar('/', '\\');
}

void cutExtension(StringBuffer& path) {
  if (!path.containsChar('.')) return;
  while (path.getSize() > 0 && path.lastChar() != '.') path.shorten(1);
  if (path.getSize() > 0) path.shorten(1);
}

bool isShellSetupName(const char* name) {
  StringBuffer sb(name);
  return sb.equalsIgnoreCase("shell");
}

void extractionErrorText(const StringBuffer& logText, const char* lastPath,
                         StringBuffer& errorText) {
  errorText.clear();
  // Windows words a sharing violation "... used by another process", Wine
  // "Sharing violation."; the error code the open logs is the same on both.
  if (logText.findSubstring("used by another process") ||
      logText.findSubstring("WindowsErrorCode: 0x20\r\n")) {
    errorText.append("Cannot overwrite ");
    errorText.append(lastPath);
    errorText.append(" because it is currently in use");
    return;
  }
  errorText.appendSb(logText);
}

}  // namespace sfx
