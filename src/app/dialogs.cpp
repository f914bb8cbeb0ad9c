// The modal dialogs. This first form runs each dialog with its built-in
// texts: the main dialog closes on Close and starts the driver on Unzip, the
// progress dialog starts the driver from its first timer tick and closes
// when it returns, and the finished dialog closes on OK.
#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>

#include "app/launcher.h"
#include "app/resource.h"

namespace sfx {
namespace {

constexpr UINT_PTR kStartTimer = 1;
constexpr UINT kStartDelayMs = 200;

INT_PTR CALLBACK mainDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      g_launcher.mainDialog = dlg;
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case IDC_UNZIP:
          SetDlgItemTextW(dlg, IDC_RESULT,
                          unzipAndRun(dlg) ? L"Finished!" : L"Error!");
          return TRUE;
        case IDCANCEL:
          EndDialog(dlg, IDCANCEL);
          PostQuitMessage(0);
          return TRUE;
      }
      break;
  }
  return FALSE;
}

INT_PTR CALLBACK progressDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      g_launcher.progressDialog = dlg;
      SetTimer(dlg, kStartTimer, kStartDelayMs, nullptr);
      return TRUE;
    case WM_TIMER:
      KillTimer(dlg, kStartTimer);
      PostMessageW(dlg, WM_COMMAND, IDC_START_UNZIP, 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == IDC_START_UNZIP && !g_launcher.progressStarted) {
        g_launcher.progressStarted = true;
        unzipAndRun(dlg);
        EndDialog(dlg, IDOK);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

INT_PTR CALLBACK finishedDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == IDC_FINISHED_OK || LOWORD(wp) == IDCANCEL) {
        EndDialog(dlg, IDOK);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

void LauncherProgressEvent::percentDone(uint32_t percent, bool* abort) {
  if (abort) *abort = false;
  if (static_cast<int32_t>(percent) <= g_launcher.lastPercent) return;
  g_launcher.lastPercent = static_cast<int32_t>(percent);
  HWND dialogs[] = {g_launcher.progressDialog, g_launcher.mainDialog};
  for (HWND dlg : dialogs) {
    if (dlg) SendDlgItemMessageW(dlg, IDC_PROGRESS, PBM_SETPOS, percent, 0);
  }
}

// Until the password dialog is built the prompt behaves as cancelled.
INT_PTR runPasswordDialog(HWND) {
  g_launcher.passwordCancelled = true;
  return IDCANCEL;
}

INT_PTR runMainDialog(HWND owner) {
  return DialogBoxParamW(g_launcher.instance, MAKEINTRESOURCEW(IDD_MAIN), owner,
                         mainDlgProc, 0);
}

INT_PTR runProgressDialog(HWND owner) {
  return DialogBoxParamW(g_launcher.instance, MAKEINTRESOURCEW(IDD_PROGRESS),
                         owner, progressDlgProc, 0);
}

INT_PTR runFinishedDialog(HWND owner) {
  return DialogBoxParamW(g_launcher.instance, MAKEINTRESOURCEW(IDD_FINISHED),
                         owner, finishedDlgProc, 0);
}

}  // namespace sfx
