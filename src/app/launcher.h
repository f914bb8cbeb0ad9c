// The launcher's process-wide state and the steps of start-up: the hidden
// owner window, the payload location, the configuration and the mode.
#ifndef SFX_APP_LAUNCHER_H_
#define SFX_APP_LAUNCHER_H_

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "archive/sfx_config.h"
#include "archive/simple_archive.h"
#include "stream/progress_monitor.h"
#include "text/string_buffer.h"

namespace sfx {

// Receives percent-done notifications for the dialogs' progress bars.
class LauncherProgressEvent : public ProgressEvent {
 public:
  void percentDone(uint32_t percent, bool* abort) override;
};

// The stub's exit codes besides 0 and the setup program's own code.
constexpr int32_t kExitUnpackFailed = 1;    // nothing usable was unpacked
constexpr int32_t kExitDamaged = 2;         // the self-extractor is damaged
constexpr int32_t kExitPassword = 3;        // unattended: no or wrong password
constexpr int32_t kExitSetupNotStarted = 4; // the setup program did not start

// One instance for the life of the process.
struct LauncherState {
  HINSTANCE instance = nullptr;
  wchar_t title[100] = {0};
  wchar_t className[100] = {0};
  SfxConfig config;
  SimpleArchive archive;
  StringBuffer password;
  StringBuffer logPath;
  FILE* logFile = nullptr;
  bool passwordCancelled = false;
  int32_t exitCode = 0;
  int64_t exeFileSize = 0;
  int32_t lastPercent = 0;
  bool setupDetached = false;
  // No window of any kind: "-unattended" or the configuration's Unattended.
  bool unattended = false;
  // The exit code of a failed unzipAndRun (kExitUnpackFailed unless a step
  // knows better).
  int32_t failureCode = kExitUnpackFailed;
  // The temporary directory the main dialog drew (AutoTemp) and showed as
  // UnzipDir, UTF-8; empty when it drew none.
  StringBuffer drawnTempDir;
  HWND mainDialog = nullptr;
  HWND progressDialog = nullptr;
  ProgressMonitor* progressMonitor = nullptr;
  bool progressStarted = false;
  LauncherProgressEvent progressEvent;
};

extern LauncherState g_launcher;

// Writes one printf-style line to the run log when it is open.
void runLog(const char* format, ...);
// Closes the run log and reopens it for appending, so that what was written
// reaches the disk; a failed reopen ends the run log for the rest of the run.
void reopenLog(int point);
// True exactly when ShowMain, ShowProgress and ShowFin are all false.
bool isSilent();
// True in an unattended run.
bool isUnattended();
// In an unattended run, writes "error: TEXT" to the run log, or, without a
// run log, to the error file beside the executable, and returns true: the
// caller shows no box. Otherwise returns false.
bool reportInsteadOfBox(const char* text);

// Opens the own executable, finds the payload, reads header and arguments
// and loads the configuration. Failures show a message box unless silent.
bool GetSettings(HWND owner);
BOOL InitInstance(HINSTANCE instance, int showCommand, const char* commandLine,
                  bool* noMessageLoop);

// The unzip-and-run driver. Returns false when the run failed.
bool unzipAndRun(HWND owner);

// The modal dialogs, each owned by `owner`.
//
// The password dialog: returns IDOK with the typed password stored in
// g_launcher.password, or IDCANCEL with g_launcher.passwordCancelled set.
INT_PTR runPasswordDialog(HWND owner);
INT_PTR runMainDialog(HWND owner);
INT_PTR runProgressDialog(HWND owner);
INT_PTR runFinishedDialog(HWND owner);
// Moves `window` to the middle of the desktop, at the top of the z-order;
// when `width` and `height` are both non-zero also sizes it to that many
// pixels (centred for its size before the change).
void centerOnDesktop(HWND window, int width, int height);
// The shell's folder picker. On a pick stores the folder's path in `path`
// (at least MAX_PATH + 1 characters) and returns true; false when the user
// cancelled or the pick has no file-system path.
bool browseForFolder(HWND owner, wchar_t* path);

}  // namespace sfx

#endif  // SFX_APP_LAUNCHER_H_
