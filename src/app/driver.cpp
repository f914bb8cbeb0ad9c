// The unzip-and-run driver. Entry extraction is not part of this build yet:
// the driver reports that and fails, so no caller mistakes a run for a
// successful unpack.
#include "app/launcher.h"

namespace sfx {

bool unzipAndRun(HWND owner) {
  runLog("Extraction is not available in this build.\r\n");
  if (!isSilent()) {
    MessageBoxA(owner, "Extraction is not available in this build.", "Error",
                MB_OK);
  }
  return false;
}

}  // namespace sfx
