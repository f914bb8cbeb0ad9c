// The modal dialogs (main, password, finished, progress), the folder picker,
// the placement of dialogs on the desktop and the progress event that moves
// the dialogs' bars while the driver extracts.
#include <windows.h>

#include <cstring>

#include "app/deferred_dlls.h"
#include "app/launcher.h"
#include "app/resource.h"
#include "app/unzip_paths.h"
#include "fs/file.h"
#include "log/log_base.h"
#include "text/xstring.h"

namespace sfx {
namespace {

// The progress dialog's start timer: id 0, first tick after 200 ms.
constexpr UINT_PTR kStartTimer = 0;
constexpr UINT kStartDelayMs = 200;
// The main dialog's Unzip and Close buttons when the dialog is resized: their
// left edge lies 86 pixels left of the dialog's right edge, each 75 by 25.
constexpr int kButtonRightInset = 86;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kUnzipButtonY = 11;
constexpr int kCloseButtonY = 41;
// Read limits: the current directory, the unzip directory box and the
// password box (ANSI bytes).
constexpr DWORD kCurrentDirChars = 1024;
constexpr int kUnzipDirChars = 512;
constexpr int kPasswordBytes = 500;

const wchar_t* wide(const XString& s) {
  return reinterpret_cast<const wchar_t*>(s.getUtf16());
}

// Sets the window title (control 0) or a control's text from the
// configuration text `key`; an empty value leaves the built-in text.
void applyText(HWND dlg, int controlId, const char* key) {
  XString value;
  g_launcher.config.getText(key, value);
  if (value.isEmpty()) return;
  if (controlId == 0) {
    SetWindowTextW(dlg, wide(value));
  } else {
    SetDlgItemTextW(dlg, controlId, wide(value));
  }
}

// centerOnDesktop with the configured size pair.
void placeDialog(HWND dlg, const char* widthKey, const char* heightKey) {
  centerOnDesktop(dlg, g_launcher.config.getInt(widthKey),
                  g_launcher.config.getInt(heightKey));
}

// The unzip directory the main dialog shows first (see MainDlgProc).
void initialUnzipDir(XString& out) {
  SfxConfig& config = g_launcher.config;
  config.getText("UnzipDir", out);
  if (!out.isEmpty()) return;
  if (!config.getAutoTemp()) {
    config.getText("DefaultDir", out);
    if (!out.isEmpty()) return;
    wchar_t dir[kCurrentDirChars + 1] = {0};
    DWORD n = GetCurrentDirectoryW(kCurrentDirChars, dir);
    if (n == 0 || n >= kCurrentDirChars) dir[0] = 0;
    out.setFromUtf16(reinterpret_cast<const char16_t*>(dir));
    return;
  }
  // A fresh temporary name as the driver picks one: "qz_" and four
  // characters in the temporary directory, ".tmp" cut off, nothing created.
  XString base;
  base.setFromUtf8("qz");
  XString temp;
  LogNull log;
  makeTempFilePath(base, temp, log);
  StringBuffer path;
  path.append(temp.getUtf8());
  cutExtension(path);
  g_launcher.config.setText("UnzipDir", path.getString());
  g_launcher.drawnTempDir.setString(path.getString());
  out.setFromUtf8Sb(path);
}

void onMainInit(HWND dlg) {
  XString dir;
  initialUnzipDir(dir);
  if (strcmp(dir.getUtf8(), "null") == 0) dir.clear();
  SetDlgItemTextW(dlg, IDC_UNZIP_DIR, wide(dir));

  applyText(dlg, 0, "MainTitle");
  applyText(dlg, IDC_CAPTION, "MainCaption");
  XString label;
  g_launcher.config.getText("MainUnzipLabel", label);
  if (!label.isEmpty()) {
    SetDlgItemTextW(dlg, IDC_UNZIP_LABEL, wide(label));
    applyText(dlg, IDC_UNZIP, "MainUnzipBtn");
    applyText(dlg, IDCANCEL, "MainCloseBtn");
    applyText(dlg, IDC_BROWSE, "MainBrowseBtn");
  }

  int width = g_launcher.config.getInt("MainWidth");
  int height = g_launcher.config.getInt("MainHeight");
  centerOnDesktop(dlg, width, height);
  if (width != 0 && height != 0) {
    const int buttons[][2] = {{IDC_UNZIP, kUnzipButtonY},
                              {IDCANCEL, kCloseButtonY}};
    for (const auto& b : buttons) {
      MoveWindow(GetDlgItem(dlg, b[0]), width - kButtonRightInset, b[1],
                 kButtonWidth, kButtonHeight, TRUE);
    }
  }
  g_launcher.mainDialog = dlg;
}

void onMainUnzip(HWND dlg) {
  wchar_t dir[kUnzipDirChars] = {0};
  GetDlgItemTextW(dlg, IDC_UNZIP_DIR, dir, kUnzipDirChars);
  if (dir[0] == 0) {
    MessageBoxW(dlg, L"Please enter an unzip directory.", L"Warning", MB_OK);
    return;
  }
  XString value;
  value.setFromUtf16(reinterpret_cast<const char16_t*>(dir));
  g_launcher.config.setText("UnzipDir", value.getUtf8());
  bool ok = unzipAndRun(dlg);
  SetDlgItemTextW(dlg, IDC_RESULT, ok ? L"Finished!" : L"Error!");
  SendDlgItemMessageW(dlg, IDC_PROGRESS, PBM_SETPOS, 100, 0);
  if (g_launcher.config.getShowFin()) runFinishedDialog(dlg);
  if (g_launcher.setupDetached) {
    EndDialog(dlg, IDC_UNZIP);
    PostQuitMessage(0);
  }
}

// Ends a dialog with the close command's value and posts the quit request.
void closeAndQuit(HWND dlg) {
  EndDialog(dlg, SC_CLOSE);
  PostQuitMessage(0);
}

// The main dialog: the unzip directory, Browse, Unzip and Close. Close, the
// Escape key and the close box end the dialog and post the quit request.
INT_PTR CALLBACK MainDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      onMainInit(dlg);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case IDCANCEL:
          EndDialog(dlg, IDCANCEL);
          PostQuitMessage(0);
          return TRUE;
        case IDC_BROWSE: {
          wchar_t path[MAX_PATH + 1] = {0};
          if (browseForFolder(dlg, path)) {
            SetDlgItemTextW(dlg, IDC_UNZIP_DIR, path);
          }
          return TRUE;
        }
        case IDC_UNZIP:
          onMainUnzip(dlg);
          return TRUE;
      }
      break;
    case WM_SYSCOMMAND:
      if (wp == SC_CLOSE) {
        closeAndQuit(dlg);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

// The password prompt. OK stores the typed password, Cancel clears it and
// marks the prompt cancelled; the close box leaves both as they are, so the
// driver asks again. It never posts the quit request.
INT_PTR CALLBACK PasswordDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      applyText(dlg, IDOK, "PwdOkBtn");
      applyText(dlg, IDCANCEL, "PwdCancelBtn");
      applyText(dlg, 0, "PwTitle");
      applyText(dlg, IDC_CAPTION, "PwCaption");
      placeDialog(dlg, "PwWidth", "PwHeight");
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case IDOK: {
          // Read as UTF-16 and kept as UTF-8; the driver derives the key
          // from these bytes first and from the ANSI bytes after them.
          wchar_t text[kPasswordBytes] = {0};
          GetDlgItemTextW(dlg, IDC_PASSWORD, text, kPasswordBytes);
          XString typed;
          typed.setSecure(true);
          typed.setFromUtf16(reinterpret_cast<const char16_t*>(text));
          g_launcher.password.secureClear();
          g_launcher.password.append(typed.getUtf8());
          SecureZeroMemory(text, sizeof(text));
          g_launcher.passwordCancelled = false;
          EndDialog(dlg, IDOK);
          return TRUE;
        }
        case IDCANCEL:
          g_launcher.password.secureClear();
          g_launcher.passwordCancelled = true;
          EndDialog(dlg, IDCANCEL);
          return TRUE;
      }
      break;
    case WM_SYSCOMMAND:
      if (wp == SC_CLOSE) {
        EndDialog(dlg, SC_CLOSE);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

// The finished dialog: OK (or Enter) and the close box end it and post the
// quit request; Escape does nothing.
INT_PTR CALLBACK FinishedDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      applyText(dlg, IDC_FINISHED_OK, "FinOkBtn");
      applyText(dlg, 0, "FinTitle");
      applyText(dlg, IDC_CAPTION, "FinCaption");
      placeDialog(dlg, "FinWidth", "FinHeight");
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == IDC_FINISHED_OK) {
        EndDialog(dlg, IDC_FINISHED_OK);
        PostQuitMessage(0);
        return TRUE;
      }
      break;
    case WM_SYSCOMMAND:
      if (wp == SC_CLOSE) {
        closeAndQuit(dlg);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

void onProgressStart(HWND dlg) {
  g_launcher.progressStarted = true;
  runLog("Unzipping from progress dialog...\r\n");
  if (unzipAndRun(dlg)) {
    // The driver's completion text has no place of its own on this dialog;
    // it replaces the caption line for the moment the dialog stays up.
    SetDlgItemTextW(dlg, IDC_CAPTION, L"Finished unzipping.");
    UpdateWindow(dlg);
  }
  EndDialog(dlg, IDC_START_UNZIP);
  if (g_launcher.config.getShowFin()) {
    runFinishedDialog(dlg);
  } else {
    PostQuitMessage(0);
  }
}

// The progress dialog: shown first, then its first timer tick posts the
// start command, which runs the driver once inside this dialog.
INT_PTR CALLBACK ProgressDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      runLog("Progress dialog initialization...\r\n");
      reopenLog(6);
      g_launcher.progressDialog = dlg;
      applyText(dlg, 0, "ProgressTitle");
      applyText(dlg, IDC_CAPTION, "ProgressCaption");
      placeDialog(dlg, "ProgressWidth", "ProgressHeight");
      SetTimer(dlg, kStartTimer, kStartDelayMs, nullptr);
      runLog("Displayed progress dialog and set timer...\r\n");
      reopenLog(7);
      return TRUE;
    case WM_TIMER:
      PostMessageW(dlg, WM_COMMAND, IDC_START_UNZIP, 0);
      break;
    case WM_COMMAND:
      if (LOWORD(wp) == IDC_START_UNZIP && !g_launcher.progressStarted) {
        onProgressStart(dlg);
        return TRUE;
      }
      break;
    case WM_SYSCOMMAND:
      if (wp == SC_CLOSE) {
        runLog("Progress Dialog - Close...\r\n");
        closeAndQuit(dlg);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

// Common controls version 6 (through the manifest) need their classes
// registered before the first dialog with a progress bar is created; the
// first call loads the DLL (app/deferred_dlls.h).
void initCommonControls() {
  static bool done = false;
  if (done) return;
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
  initCommonControlsEx(&icc);
  done = true;
}

INT_PTR runDialog(HWND owner, int id, DLGPROC proc) {
  initCommonControls();
  return DialogBoxParamW(g_launcher.instance, MAKEINTRESOURCEW(id), owner, proc,
                         0);
}

}  // namespace

void LauncherProgressEvent::percentDone(uint32_t percent, bool* abort) {
  if (abort) *abort = false;
  int32_t p = static_cast<int32_t>(percent);
  HWND dialogs[] = {g_launcher.mainDialog, g_launcher.progressDialog};
  for (HWND dlg : dialogs) {
    if (dlg && p > g_launcher.lastPercent) {
      SendDlgItemMessageW(dlg, IDC_PROGRESS, PBM_SETPOS, p, 0);
      g_launcher.lastPercent = p;
    }
  }
}

void centerOnDesktop(HWND window, int width, int height) {
  RECT d = {0, 0, 0, 0};
  RECT w = {0, 0, 0, 0};
  GetWindowRect(GetDesktopWindow(), &d);
  GetWindowRect(window, &w);
  int x = d.left + ((d.right - d.left) - (w.right - w.left)) / 2;
  int y = d.top + ((d.bottom - d.top) - (w.bottom - w.top)) / 2;
  UINT flags = (width != 0 && height != 0) ? 0 : SWP_NOSIZE;
  SetWindowPos(window, HWND_TOP, x, y, width, height, flags);
}

bool browseForFolder(HWND owner, wchar_t* path) {
  wchar_t displayName[MAX_PATH] = {0};
  BROWSEINFOW info = {};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;
  info.pszDisplayName = displayName;
  info.lpszTitle = L"Please select a folder.";
  info.ulFlags = 0;
  info.lpfn = nullptr;
  PIDLIST_ABSOLUTE item = browseForFolderDialog(&info);
  if (!item) return false;
  bool ok = pathFromIdList(item, path) != FALSE;
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(shellMalloc(&allocator)) && allocator) {
    allocator->Free(item);
    allocator->Release();
  }
  return ok;
}

INT_PTR runPasswordDialog(HWND owner) {
  return runDialog(owner, IDD_PASSWORD, PasswordDlgProc);
}

INT_PTR runMainDialog(HWND owner) {
  return runDialog(owner, IDD_MAIN, MainDlgProc);
}

INT_PTR runProgressDialog(HWND owner) {
  return runDialog(owner, IDD_PROGRESS, ProgressDlgProc);
}

INT_PTR runFinishedDialog(HWND owner) {
  return runDialog(owner, IDD_FINISHED, FinishedDlgProc);
}

}  // namespace sfx
