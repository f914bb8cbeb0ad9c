// The modal dialogs (main, password, finished, progress), the folder picker,
// the placement of dialogs on the desktop and the progress event that moves
// the dialogs' bars while the driver extracts.
#include <windows.h>

#include <cstring>
#include <new>

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
// Configured dialog sizes are pixels at this resolution.
constexpr int kReferenceDpi = 96;
// The padding a button's text needs on each side, in dialog units.
constexpr int kButtonPaddingDlu = 4;
// The most controls a dialog lays out.
constexpr int kMaxControls = 9;
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

// ---- Layout ----------------------------------------------------------------
//
// The dialogs' rectangles come from the resources, in dialog units, so they
// scale with the dialog's font. When a dialog initialises (and when it moves
// to a monitor of another resolution) its controls are laid out again from
// those rectangles: the dialog widens for a configured width or for button
// texts that need it, each caption is measured for the width it then has and
// grows, pushing the controls below it down and the dialog's bottom edge with
// them; a configured height gives its extra to the first caption. The window
// never grows beyond the height of the monitor's work area: a caption that
// still does not fit then scrolls.

// How a control follows the dialog's extra width.
enum class Anchor {
  kStretch,      // takes the whole extra width
  kStretchLeft,  // stretches up to the column of buttons on the right
  kBox,          // the folder box: stretches up to the button beside it
  kBeside,       // the Browse button: follows the folder box's right edge
  kColumn,       // on the right edge, widened to the column's widest text
};

struct ControlPlan {
  int id;
  Anchor anchor;
  bool caption;  // measured and grown for its text
};

struct DialogPlan {
  const ControlPlan* controls;
  int count;
  const char* widthKey;
  const char* heightKey;
};

constexpr ControlPlan kMainControls[] = {
    {IDC_CAPTION, Anchor::kStretchLeft, true},
    {IDC_UNZIP_LABEL, Anchor::kStretchLeft, true},
    {IDC_UNZIP_DIR, Anchor::kBox, false},
    {IDC_BROWSE, Anchor::kBeside, false},
    {IDC_UNZIP, Anchor::kColumn, false},
    {IDCANCEL, Anchor::kColumn, false},
    {IDC_STATUS, Anchor::kStretchLeft, false},
    {IDC_RESULT, Anchor::kColumn, false},
    {IDC_PROGRESS, Anchor::kStretch, false},
};
constexpr ControlPlan kPasswordControls[] = {
    {IDC_CAPTION, Anchor::kStretchLeft, true},
    {IDC_PASSWORD, Anchor::kStretchLeft, false},
    {IDOK, Anchor::kColumn, false},
    {IDCANCEL, Anchor::kColumn, false},
};
constexpr ControlPlan kFinishedControls[] = {
    {IDC_CAPTION, Anchor::kStretch, true},
    {IDC_FINISHED_OK, Anchor::kColumn, false},
};
constexpr ControlPlan kProgressControls[] = {
    {IDC_CAPTION, Anchor::kStretch, true},
    {IDC_PROGRESS, Anchor::kStretch, false},
};

constexpr DialogPlan kMainPlan = {kMainControls, 9, "MainWidth", "MainHeight"};
constexpr DialogPlan kPasswordPlan = {kPasswordControls, 4, "PwWidth",
                                      "PwHeight"};
constexpr DialogPlan kFinishedPlan = {kFinishedControls, 2, "FinWidth",
                                      "FinHeight"};
constexpr DialogPlan kProgressPlan = {kProgressControls, 2, "ProgressWidth",
                                      "ProgressHeight"};

// One dialog's rectangles as its template laid them out (client pixels at
// `dpi`) and its window size then.
struct DialogLayout {
  HWND dlg = nullptr;
  const DialogPlan* plan = nullptr;
  RECT base[kMaxControls] = {};
  SIZE baseWindow = {0, 0};
  UINT dpi = kReferenceDpi;
};

// One layout per dialog kind: each kind is shown at most once at a time.
DialogLayout g_mainLayout, g_passwordLayout, g_finishedLayout,
    g_progressLayout;

int width(const RECT& r) { return r.right - r.left; }
int height(const RECT& r) { return r.bottom - r.top; }

// The resolution of the window's monitor (GetDpiForWindow, Windows 10 1607
// and later), else the system's.
UINT windowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static GetDpiForWindowFn getDpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"),
                                             "GetDpiForWindow")));
  UINT dpi = (getDpi && window) ? getDpi(window) : 0;
  if (dpi == 0) {
    HDC dc = GetDC(nullptr);
    dpi = static_cast<UINT>(GetDeviceCaps(dc, LOGPIXELSY));
    ReleaseDC(nullptr, dc);
  }
  return dpi ? dpi : kReferenceDpi;
}

// The work area of the monitor the window is on.
RECT workArea(HWND window) {
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST),
                      &info)) {
    return info.rcWork;
  }
  RECT r = {0, 0, GetSystemMetrics(SM_CXSCREEN),
            GetSystemMetrics(SM_CYSCREEN)};
  return r;
}

bool isClass(HWND control, const wchar_t* name) {
  wchar_t cls[32] = {0};
  GetClassNameW(control, cls, 32);
  return lstrcmpiW(cls, name) == 0;
}

// A control's whole text, UTF-16, or nullptr when out of memory. The caller
// deletes it.
wchar_t* textOf(HWND control) {
  int n = GetWindowTextLengthW(control);
  wchar_t* text = new (std::nothrow) wchar_t[n + 1];
  if (!text) return nullptr;
  n = GetWindowTextW(control, text, n + 1);
  text[n > 0 ? n : 0] = 0;
  return text;
}

// The size of `text` drawn with the control's font and `flags` (DrawTextW
// with DT_CALCRECT) within `textWidth` pixels.
SIZE measure(HWND control, HDC dc, const wchar_t* text, int textWidth,
             UINT flags) {
  RECT r = {0, 0, textWidth, 0};
  HGDIOBJ old = SelectObject(
      dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  DrawTextW(dc, text, -1, &r, flags | DT_CALCRECT);
  SelectObject(dc, old);
  return SIZE{width(r), height(r)};
}

// The height a caption's text needs at `textWidth` pixels, drawn as the
// static control draws it (words wrap, a word longer than the line breaks).
int captionNeed(HWND control, HDC dc, int textWidth) {
  wchar_t* text = textOf(control);
  if (!text) return 0;
  UINT flags = DT_WORDBREAK | DT_EXPANDTABS | DT_EDITCONTROL;
  if (GetWindowLongW(control, GWL_STYLE) & SS_NOPREFIX) flags |= DT_NOPREFIX;
  int need = measure(control, dc, text, textWidth, flags).cy;
  delete[] text;
  return need;
}

// The width a push button needs for its text: the text on one line and a
// padding on each side.
int buttonNeed(HWND dlg, HWND button, HDC dc) {
  wchar_t* text = textOf(button);
  if (!text) return 0;
  int need = text[0] ? measure(button, dc, text, 0, DT_SINGLELINE).cx : 0;
  delete[] text;
  RECT pad = {0, 0, kButtonPaddingDlu, 0};
  MapDialogRect(dlg, &pad);
  return need ? need + 2 * pad.right : 0;
}

// Replaces a static caption whose text cannot fit even in a dialog as tall as
// the work area by a read-only edit box with a scroll bar, of the same id,
// text, font and rectangle.
void makeScrollingCaption(HWND dlg, HWND caption) {
  wchar_t* text = textOf(caption);
  if (!text) return;
  RECT r;
  GetWindowRect(caption, &r);
  MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
  WPARAM font = SendMessageW(caption, WM_GETFONT, 0, 0);
  HWND edit = CreateWindowExW(
      0, L"EDIT", text,
      WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY,
      r.left, r.top, width(r), height(r), dlg,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_CAPTION)),
      g_launcher.instance, nullptr);
  delete[] text;
  if (!edit) return;
  SendMessageW(edit, WM_SETFONT, font, FALSE);
  SetWindowPos(edit, caption, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  DestroyWindow(caption);
}

// Lays the dialog out for its texts, its configured size and its monitor's
// work area (see above). With `centre` it is then centred on the desktop.
void applyLayout(DialogLayout& layout, bool centre) {
  HWND dlg = layout.dlg;
  const DialogPlan& plan = *layout.plan;
  const int count = plan.count;
  HWND controls[kMaxControls];
  RECT now[kMaxControls];
  for (int i = 0; i < count; ++i) {
    controls[i] = GetDlgItem(dlg, plan.controls[i].id);
    now[i] = layout.base[i];
  }

  // A configured size pair, in pixels at 96 DPI; smaller than the built-in
  // size counts as the built-in size.
  int wantWidth = 0, wantHeight = 0;
  int cw = g_launcher.config.getInt(plan.widthKey);
  int ch = g_launcher.config.getInt(plan.heightKey);
  if (cw > 0 && ch > 0) {
    wantWidth = MulDiv(cw, static_cast<int>(layout.dpi), kReferenceDpi);
    wantHeight = MulDiv(ch, static_cast<int>(layout.dpi), kReferenceDpi);
  }

  HDC dc = GetDC(dlg);
  // Buttons whose texts need more room: the right column widens to its
  // widest text, the Browse button to its own.
  int columnExtra = 0, besideExtra = 0;
  for (int i = 0; i < count; ++i) {
    if (!controls[i] || !isClass(controls[i], L"Button")) continue;
    int extra = buttonNeed(dlg, controls[i], dc) - width(layout.base[i]);
    if (plan.controls[i].anchor == Anchor::kColumn && extra > columnExtra)
      columnExtra = extra;
    if (plan.controls[i].anchor == Anchor::kBeside && extra > besideExtra)
      besideExtra = extra;
  }
  int dx = columnExtra + besideExtra;
  if (wantWidth - layout.baseWindow.cx > dx)
    dx = wantWidth - layout.baseWindow.cx;
  for (int i = 0; i < count; ++i) {
    RECT& r = now[i];
    switch (plan.controls[i].anchor) {
      case Anchor::kStretch:
        r.right += dx;
        break;
      case Anchor::kStretchLeft:
        r.right += dx - columnExtra;
        break;
      case Anchor::kBox:
        r.right += dx - columnExtra - besideExtra;
        break;
      case Anchor::kBeside:
        r.left += dx - columnExtra - besideExtra;
        r.right += dx - columnExtra;
        break;
      case Anchor::kColumn:
        r.left += dx - columnExtra;
        r.right += dx;
        break;
    }
  }

  // Captions, top to bottom: the room a caption has ends at its rectangle's
  // bottom or at the first control below it that it would overlap. A caption
  // that needs more grows, and every control below it moves down.
  int shift[kMaxControls] = {0};
  int need[kMaxControls] = {0};
  int grown = 0;
  int first = -1;  // the first caption, which takes a configured height
  int firstRoom = 0;
  for (int i = 0; i < count; ++i) {
    if (!plan.controls[i].caption || !controls[i]) continue;
    const RECT& b = layout.base[i];
    int room = height(b);
    for (int k = 0; k < count; ++k) {
      if (k == i || layout.base[k].top <= b.top) continue;
      bool overlaps = now[k].left < now[i].right && now[i].left < now[k].right;
      if (overlaps && layout.base[k].top - b.top < room)
        room = layout.base[k].top - b.top;
    }
    need[i] = captionNeed(controls[i], dc, width(now[i]));
    int grow = need[i] > room ? need[i] - room : 0;
    now[i].bottom = now[i].top + room + grow;
    for (int k = 0; k < count; ++k) {
      if (layout.base[k].top >= b.top + room) shift[k] += grow;
    }
    grown += grow;
    if (first < 0) {
      first = i;
      firstRoom = room;
    }
  }
  ReleaseDC(dlg, dc);

  // A configured height gives the first caption its extra; the work area's
  // height takes from it what is too much (negative extra).
  int windowHeight = layout.baseWindow.cy + grown;
  int extraHeight = wantHeight > windowHeight ? wantHeight - windowHeight : 0;
  const RECT area = workArea(dlg);
  if (windowHeight + extraHeight > height(area))
    extraHeight = height(area) - windowHeight;
  bool scroll = false;
  if (first >= 0 && extraHeight != 0) {
    const RECT& b = layout.base[first];
    int h = height(now[first]) + extraHeight;
    if (h < 1) {
      extraHeight += 1 - h;
      h = 1;
    }
    now[first].bottom = now[first].top + h;
    for (int k = 0; k < count; ++k) {
      if (layout.base[k].top >= b.top + firstRoom) shift[k] += extraHeight;
    }
    scroll = need[first] > h;
  }
  windowHeight += extraHeight;

  SetWindowPos(dlg, nullptr, 0, 0, layout.baseWindow.cx + dx, windowHeight,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  for (int i = 0; i < count; ++i) {
    if (!controls[i]) continue;
    RECT r = now[i];
    OffsetRect(&r, 0, shift[i]);
    MoveWindow(controls[i], r.left, r.top, width(r), height(r), TRUE);
    if (plan.controls[i].caption && isClass(controls[i], L"Static")) {
      // Drawn as measured: a word longer than the line breaks inside.
      LONG style = GetWindowLongW(controls[i], GWL_STYLE);
      SetWindowLongW(controls[i], GWL_STYLE, style | SS_EDITCONTROL);
      if (scroll && i == first) makeScrollingCaption(dlg, controls[i]);
    }
  }
  if (centre) {
    centerOnDesktop(dlg, 0, 0);
    // Whole on the work area, its top-left corner first.
    RECT w;
    GetWindowRect(dlg, &w);
    int x = w.left, y = w.top;
    if (w.right > area.right) x = area.right - width(w);
    if (w.bottom > area.bottom) y = area.bottom - height(w);
    if (x < area.left) x = area.left;
    if (y < area.top) y = area.top;
    if (x != w.left || y != w.top) {
      SetWindowPos(dlg, nullptr, x, y, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  InvalidateRect(dlg, nullptr, TRUE);
}

// Records the template's rectangles of a dialog that has just initialised
// and lays it out. Call after the configured texts are set.
void layoutDialog(HWND dlg, DialogLayout& layout, const DialogPlan& plan) {
  layout.dlg = dlg;
  layout.plan = &plan;
  layout.dpi = windowDpi(dlg);
  RECT w;
  GetWindowRect(dlg, &w);
  layout.baseWindow = SIZE{width(w), height(w)};
  for (int i = 0; i < plan.count; ++i) {
    RECT r = {0, 0, 0, 0};
    HWND control = GetDlgItem(dlg, plan.controls[i].id);
    if (control) {
      GetWindowRect(control, &r);
      MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    }
    layout.base[i] = r;
  }
  applyLayout(layout, true);
}

// WM_DPICHANGED: the template's rectangles scaled to the new resolution, the
// window where the system suggests, then laid out again for the new font.
void onDpiChanged(DialogLayout& layout, WPARAM wp, LPARAM lp) {
  UINT dpi = LOWORD(wp);
  if (!layout.dlg || dpi == 0 || dpi == layout.dpi) return;
  int from = static_cast<int>(layout.dpi), to = static_cast<int>(dpi);
  for (int i = 0; i < layout.plan->count; ++i) {
    RECT& r = layout.base[i];
    r = RECT{MulDiv(r.left, to, from), MulDiv(r.top, to, from),
             MulDiv(r.right, to, from), MulDiv(r.bottom, to, from)};
  }
  layout.baseWindow.cx = MulDiv(layout.baseWindow.cx, to, from);
  layout.baseWindow.cy = MulDiv(layout.baseWindow.cy, to, from);
  layout.dpi = dpi;
  const RECT* suggested = reinterpret_cast<const RECT*>(lp);
  if (suggested) {
    SetWindowPos(layout.dlg, nullptr, suggested->left, suggested->top,
                 width(*suggested), height(*suggested),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  applyLayout(layout, false);
}

// ---- The icon --------------------------------------------------------------

BOOL CALLBACK firstGroupProc(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  auto* out = reinterpret_cast<LPWSTR*>(param);
  // A numeric name is kept as it is; a string one must outlive the call.
  if (IS_INTRESOURCE(name)) {
    *out = name;
  } else {
    size_t n = lstrlenW(name) + 1;
    wchar_t* copy = new (std::nothrow) wchar_t[n];
    if (copy) memcpy(copy, name, n * sizeof(wchar_t));
    *out = copy;
  }
  return FALSE;
}

// Gives the dialog the executable's first icon group (the one the shell
// shows), big and small, at the sizes of the dialog's resolution.
void setDialogIcon(HWND dlg) {
  static bool looked = false;
  static LPWSTR group = nullptr;
  if (!looked) {
    looked = true;
    EnumResourceNamesW(g_launcher.instance, RT_GROUP_ICON, firstGroupProc,
                       reinterpret_cast<LONG_PTR>(&group));
  }
  if (!group) return;
  const int sizes[][2] = {{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}};
  const int dpi = static_cast<int>(windowDpi(dlg));
  const int systemDpi = static_cast<int>(windowDpi(nullptr));
  for (const auto& s : sizes) {
    int px = MulDiv(GetSystemMetrics(s[1]), dpi, systemDpi);
    HICON icon = static_cast<HICON>(
        LoadImageW(g_launcher.instance, group, IMAGE_ICON, px, px, 0));
    if (icon) {
      SendMessageW(dlg, WM_SETICON, s[0], reinterpret_cast<LPARAM>(icon));
    }
  }
}

// What every dialog does when it initialises, after its texts are set: the
// icon, a task-bar button when its owner is not shown, and the layout.
void initDialog(HWND dlg, DialogLayout& layout, const DialogPlan& plan) {
  setDialogIcon(dlg);
  HWND owner = GetWindow(dlg, GW_OWNER);
  if (!owner || !IsWindowVisible(owner)) {
    LONG ex = GetWindowLongW(dlg, GWL_EXSTYLE);
    SetWindowLongW(dlg, GWL_EXSTYLE, ex | WS_EX_APPWINDOW);
  }
  layoutDialog(dlg, layout, plan);
}

// The unzip directory the main dialog shows first (see MainDlgProc).
void initialUnzipDir(XString& out) {
  SfxConfig& config = g_launcher.config;
  config.getText("UnzipDir", out);
  if (!out.isEmpty()) return;
  if (!config.getAutoTemp()) {
    config.getText("DefaultDir", out);
    if (!out.isEmpty()) {
      // As the driver will use it: %NAME% expanded, separators normalised.
      StringBuffer dir;
      dir.append(out.getUtf8());
      normalizeUnzipDir(dir);
      out.setFromUtf8Sb(dir);
      return;
    }
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

  initDialog(dlg, g_mainLayout, kMainPlan);
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
INT_PTR CALLBACK MainDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
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
    case WM_DPICHANGED:
      onDpiChanged(g_mainLayout, wp, lp);
      return TRUE;
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
INT_PTR CALLBACK PasswordDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      applyText(dlg, IDOK, "PwdOkBtn");
      applyText(dlg, IDCANCEL, "PwdCancelBtn");
      applyText(dlg, 0, "PwTitle");
      applyText(dlg, IDC_CAPTION, "PwCaption");
      initDialog(dlg, g_passwordLayout, kPasswordPlan);
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
    case WM_DPICHANGED:
      onDpiChanged(g_passwordLayout, wp, lp);
      return TRUE;
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
INT_PTR CALLBACK FinishedDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      applyText(dlg, IDC_FINISHED_OK, "FinOkBtn");
      applyText(dlg, 0, "FinTitle");
      applyText(dlg, IDC_CAPTION, "FinCaption");
      initDialog(dlg, g_finishedLayout, kFinishedPlan);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == IDC_FINISHED_OK) {
        EndDialog(dlg, IDC_FINISHED_OK);
        PostQuitMessage(0);
        return TRUE;
      }
      break;
    case WM_DPICHANGED:
      onDpiChanged(g_finishedLayout, wp, lp);
      return TRUE;
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
INT_PTR CALLBACK ProgressDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      runLog("Progress dialog initialization...\r\n");
      reopenLog(6);
      g_launcher.progressDialog = dlg;
      applyText(dlg, 0, "ProgressTitle");
      applyText(dlg, IDC_CAPTION, "ProgressCaption");
      initDialog(dlg, g_progressLayout, kProgressPlan);
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
    case WM_DPICHANGED:
      onDpiChanged(g_progressLayout, wp, lp);
      return TRUE;
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
