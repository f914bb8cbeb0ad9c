// The steps of the unzip-and-run driver (unzipAndRun itself is declared in
// app/launcher.h, where the dialogs call it). Each step writes its run-log
// lines; message boxes are owned by the window given.
#ifndef SFX_APP_DRIVER_H_
#define SFX_APP_DRIVER_H_

#include <windows.h>

namespace sfx {

class ExtPtrArray;
class StringBuffer;

// Tries the password in g_launcher.password (from -pwd or the password
// dialog) against the payload's verifier, showing the password dialog
// whenever it is empty and the configured wrong-password box (unless silent)
// after each wrong one. Returns true when a password was accepted, false
// when the dialog was cancelled. No attempt limit.
bool promptAndVerifyPassword(HWND window);

// Appends a fresh "qz_XXXX" directory of the temporary folder to `unzipDir`
// and creates it with undo records into `topUndo` (a debug run creates
// nothing). On failure shows "Failed to ensure dir exists: ", ends the
// window as a dialog, posts the quit request and returns false.
bool selectTempUnzipDir(HWND window, ExtPtrArray& topUndo,
                        StringBuffer& unzipDir);

// The main dialog's drawn temporary directory `unzipDir` (AutoTemp), taken
// as it is when it is still free and created with undo records into
// `topUndo`; when a directory of that name exists by now, a new name is
// drawn, stored as UnzipDir and shown in the dialog's box. On failure as
// selectTempUnzipDir.
bool claimDrawnTempDir(HWND window, ExtPtrArray& topUndo,
                       StringBuffer& unzipDir);

// Extracts every entry relative to the current directory. With `cleanup`
// the directories and files created are appended to `undo`. On failure
// returns false with `errorText` set to the extraction's log, or to
// "Cannot overwrite PATH because it is currently in use".
bool UnzipToFile(HWND window, StringBuffer& errorText, ExtPtrArray& undo,
                 bool cleanup);

// Runs `args` (UTF-8) through the command interpreter named by "ComSpec"
// with "/c" and the arguments in double quotes, waiting for it when `wait`.
// The interpreter is started through the UTF-16 call, so neither its path
// nor the arguments need to fit the ANSI code page. False when "ComSpec" is
// not set or the start failed.
bool runShellCommand(bool wait, const char* args);

}  // namespace sfx

#endif  // SFX_APP_DRIVER_H_
