// The program the driver's own tests drive: a message box, or a dialog whose
// controls sit at fixed pixel positions, each ending with a known exit code.
//   driver_fixture msgbox CAPTION TEXT   exit code: the pressed button (1 or 2)
//   driver_fixture dialog                exit code: kExit* below
// Any other command line ends at once with exit code 3.
#include <windows.h>

#include <shellapi.h>

#include <string>

namespace sfx {
namespace {

enum : int {
  kIdLabel = 100,     // static "Name:"
  kIdName = 101,      // edit box
  kIdCopy = 102,      // button: copies the edit box into kIdResult
  kIdResult = 103,    // static, empty until Copy is pressed
  kIdDisabled = 104,  // disabled button; pressing it would end with kExitBad
};

enum : int {
  kExitOk = 10,
  kExitCancel = 20,
  kExitClose = 30,
  kExitBad = 99,
};

void addControl(HWND dialog, const wchar_t* cls, const wchar_t* text,
                DWORD style, int id, int x, int y, int w, int h) {
  CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h,
                  dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                  GetModuleHandleW(nullptr), nullptr);
}

INT_PTR CALLBACK fixtureDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                   LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextW(dialog, L"Driver Fixture");
      SetWindowPos(dialog, nullptr, 40, 30, 320, 200, SWP_NOZORDER);
      addControl(dialog, L"Static", L"Name:", 0, kIdLabel, 10, 10, 60, 20);
      addControl(dialog, L"Edit", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
                 kIdName, 80, 10, 150, 22);
      addControl(dialog, L"Button", L"Copy", WS_TABSTOP, kIdCopy, 240, 10, 60,
                 24);
      addControl(dialog, L"Static", L"", 0, kIdResult, 10, 45, 290, 20);
      addControl(dialog, L"Button", L"Disabled", WS_DISABLED, kIdDisabled, 10,
                 75, 80, 24);
      addControl(dialog, L"Button", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK,
                 140, 120, 70, 26);
      addControl(dialog, L"Button", L"Cancel", WS_TABSTOP, IDCANCEL, 220, 120,
                 70, 26);
      SendMessageW(dialog, DM_SETDEFID, IDOK, 0);
      SetFocus(GetDlgItem(dialog, kIdName));
      return FALSE;  // the focus is set
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kIdCopy: {
          wchar_t text[256];
          GetDlgItemTextW(dialog, kIdName, text, 256);
          SetDlgItemTextW(dialog, kIdResult,
                          (std::wstring(L"copied: ") + text).c_str());
          return TRUE;
        }
        case IDOK:
          EndDialog(dialog, kExitOk);
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, kExitCancel);
          return TRUE;
        case kIdDisabled:
          EndDialog(dialog, kExitBad);
          return TRUE;
      }
      return FALSE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) {
        EndDialog(dialog, kExitClose);
        return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

int runDialog() {
  // An empty template; the controls are created at fixed pixel positions in
  // WM_INITDIALOG so that the expected rectangles do not depend on fonts.
  struct {
    DLGTEMPLATE header;
    WORD menu, windowClass, title;
  } tmpl = {};
  tmpl.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  tmpl.header.cx = 200;
  tmpl.header.cy = 120;
  return static_cast<int>(DialogBoxIndirectParamW(
      GetModuleHandleW(nullptr), &tmpl.header, nullptr, fixtureDialogProc, 0));
}

}  // namespace
}  // namespace sfx

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 3;
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  int result = 3;
  if (mode == L"msgbox" && argc == 4) {
    result = MessageBoxW(nullptr, argv[3], argv[2], MB_OKCANCEL);
  } else if (mode == L"dialog" && argc == 2) {
    result = sfx::runDialog();
  }
  LocalFree(argv);
  return result;
}
