// sfxdriver: a console program that drives the real windows of a program
// under test (dialogs and message boxes of the stub) for end-to-end tests
// under Wine or Windows. The command language is described in README.md.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "driver/script.h"

namespace sfx {
namespace {

constexpr DWORD kDefaultTimeoutMs = 10000;
constexpr DWORD kPollIntervalMs = 50;
// How long a control may take to answer WM_GETTEXT and the like; a program
// busy outside its message loop does not answer at all.
constexpr UINT kSendTimeoutMs = 5000;

std::wstring widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      &out[0], n);
  return out;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      &out[0], n, nullptr, nullptr);
  return out;
}

void writeOut(const std::string& text) {
  fwrite(text.data(), 1, text.size(), stdout);
  fflush(stdout);
}

void writeErr(const std::string& text) {
  fwrite(text.data(), 1, text.size(), stderr);
  fflush(stderr);
}

std::string windowTitle(HWND window) {
  // For a window of another process this reads the stored caption and sends
  // no message, so it cannot hang on a busy program.
  wchar_t buffer[1024];
  const int n = GetWindowTextW(window, buffer, 1024);
  return narrow(std::wstring(buffer, n > 0 ? n : 0));
}

std::string className(HWND window) {
  wchar_t buffer[256];
  const int n = GetClassNameW(window, buffer, 256);
  return narrow(std::wstring(buffer, n > 0 ? n : 0));
}

struct FindWindowState {
  const std::string* title;
  HWND found;
};

BOOL CALLBACK findWindowProc(HWND window, LPARAM param) {
  auto* state = reinterpret_cast<FindWindowState*>(param);
  if (IsWindowVisible(window) && windowTitle(window) == *state->title) {
    state->found = window;
    return FALSE;
  }
  return TRUE;
}

// The first visible top-level window titled exactly `title`, or nullptr.
HWND findTopLevel(const std::string& title) {
  FindWindowState state = {&title, nullptr};
  EnumWindows(findWindowProc, reinterpret_cast<LPARAM>(&state));
  return state.found;
}

std::string hwndText(HWND window) {
  char buffer[32];
  snprintf(buffer, sizeof buffer, "0x%08lx",
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)));
  return buffer;
}

// Reads the text of a control through WM_GETTEXT (marshalled across
// processes); control id 0 means the window's own caption.
bool controlText(HWND window, HWND control, std::string* text,
                 std::string* error) {
  if (control == window) {
    *text = windowTitle(window);
    return true;
  }
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                           kSendTimeoutMs, &length)) {
    *error = "the control does not answer WM_GETTEXTLENGTH";
    return false;
  }
  std::vector<wchar_t> buffer(length + 1);
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(control, WM_GETTEXT, buffer.size(),
                           reinterpret_cast<LPARAM>(buffer.data()),
                           SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied)) {
    *error = "the control does not answer WM_GETTEXT";
    return false;
  }
  if (copied > length) copied = length;
  *text = narrow(std::wstring(buffer.data(), copied));
  return true;
}

// Window rectangle in screen pixels and in the client coordinates of the
// parent (the screen for a top-level window).
void windowRects(HWND window, Rect* screen, Rect* client) {
  RECT r;
  GetWindowRect(window, &r);
  *screen = Rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  HWND parent = (style & WS_CHILD) ? GetParent(window) : nullptr;
  if (parent != nullptr) {
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  }
  *client = Rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

std::string rectText(const Rect& r) {
  return std::to_string(r.x) + " " + std::to_string(r.y) + " " +
         std::to_string(r.w) + " " + std::to_string(r.h);
}

int32_t argNumber(const std::string& text) {
  int64_t value = 0;
  parseNumber(text, INT32_MIN, 0xFFFFFFFFLL, &value);  // checked when parsed
  return static_cast<int32_t>(value);
}

// ---- Layout checks ---------------------------------------------------------

// The font a control draws with: the one WM_GETFONT names, read with
// GetObjectW. A font of another process cannot be read everywhere (Wine
// keeps GDI objects per process); then the dialog font of the stub's
// templates, "MS Sans Serif" at 8 points, at the window's resolution.
HFONT controlFont(HWND control, std::string* source) {
  DWORD_PTR handle = 0;
  LOGFONTW font = {};
  if (SendMessageTimeoutW(control, WM_GETFONT, 0, 0, SMTO_ABORTIFHUNG,
                          kSendTimeoutMs, &handle) &&
      handle != 0 &&
      GetObjectW(reinterpret_cast<HGDIOBJ>(handle), sizeof font, &font) ==
          sizeof font) {
    *source = "control";
    return CreateFontIndirectW(&font);
  }
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  auto getDpi = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpi != nullptr && getDpi(control) != 0) {
    dpi = static_cast<int>(getDpi(control));
  }
  font.lfHeight = -MulDiv(8, dpi, 72);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  lstrcpyW(font.lfFaceName, L"MS Sans Serif");
  *source = "template";
  return CreateFontIndirectW(&font);
}

struct LayoutControl {
  HWND hwnd;
  int id;
  std::string cls;
  Rect rect;  // client coordinates of the dialog
};

BOOL CALLBACK layoutChildProc(HWND control, LPARAM param) {
  auto* out = reinterpret_cast<std::vector<LayoutControl>*>(param);
  if (!IsWindowVisible(control)) return TRUE;
  Rect screen, client;
  windowRects(control, &screen, &client);
  out->push_back(LayoutControl{control, GetDlgCtrlID(control) & 0xFFFF,
                               className(control), client});
  return TRUE;
}

// Checks the layout of a dialog's visible controls: each static text and
// push-button text measured with the control's font for the control's width
// (DrawTextW with DT_CALCRECT and the flags the control draws with) fits the
// control's rectangle, no two controls overlap and none extends beyond the
// client area. Prints one line per control ("ID CLASS X Y W H" and, for a
// text, "text W H font SOURCE fits" or "... CUT") into *report and each
// fault into *faults.
void checkLayout(HWND window, std::string* report, std::string* faults) {
  std::vector<LayoutControl> controls;
  EnumChildWindows(window, layoutChildProc,
                   reinterpret_cast<LPARAM>(&controls));
  RECT area;
  GetClientRect(window, &area);
  HDC dc = GetDC(window);
  for (const LayoutControl& c : controls) {
    if (GetParent(c.hwnd) != window) continue;
    std::string line = std::to_string(c.id) + " " + c.cls + " " +
                       rectText(c.rect);
    const Rect& r = c.rect;
    if (r.x < 0 || r.y < 0 || r.x + r.w > area.right ||
        r.y + r.h > area.bottom) {
      *faults += "control " + std::to_string(c.id) + " at " + rectText(r) +
                 " extends beyond the client area 0 0 " +
                 std::to_string(area.right) + " " +
                 std::to_string(area.bottom) + "\n";
    }
    const LONG style = GetWindowLongW(c.hwnd, GWL_STYLE);
    const bool isStatic = lstrcmpiW(widen(c.cls).c_str(), L"Static") == 0;
    const bool isButton = lstrcmpiW(widen(c.cls).c_str(), L"Button") == 0 &&
                          (style & BS_TYPEMASK) <= BS_DEFPUSHBUTTON;
    std::string text, error;
    if ((isStatic || isButton) && controlText(nullptr, c.hwnd, &text, &error) &&
        !text.empty()) {
      std::string source;
      HFONT font = controlFont(c.hwnd, &source);
      HGDIOBJ old = SelectObject(dc, font);
      RECT client;
      GetClientRect(c.hwnd, &client);
      // Push buttons draw one line inside their frame; static texts wrap
      // as their style says.
      const int frame = isButton ? 3 : 0;
      UINT flags = DT_CALCRECT;
      if (isButton) {
        flags |= DT_SINGLELINE;
      } else {
        flags |= DT_WORDBREAK | DT_EXPANDTABS;
        if (style & SS_NOPREFIX) flags |= DT_NOPREFIX;
        if (style & SS_EDITCONTROL) flags |= DT_EDITCONTROL;
      }
      RECT need = {0, 0, client.right - 2 * frame, 0};
      const std::wstring wide = widen(text);
      DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &need, flags);
      SelectObject(dc, old);
      DeleteObject(font);
      const bool fits = need.right <= client.right - 2 * frame &&
                        need.bottom <= client.bottom - 2 * frame;
      line += " text " + std::to_string(need.right) + " " +
              std::to_string(need.bottom) + " font " + source +
              (fits ? " fits" : " CUT");
      if (!fits) {
        *faults += "the text of control " + std::to_string(c.id) + " needs " +
                   std::to_string(need.right) + " by " +
                   std::to_string(need.bottom) + " pixels, the control has " +
                   std::to_string(client.right - 2 * frame) + " by " +
                   std::to_string(client.bottom - 2 * frame) + "\n";
      }
    }
    *report += line + "\n";
  }
  ReleaseDC(window, dc);
  for (size_t a = 0; a < controls.size(); ++a) {
    for (size_t b = a + 1; b < controls.size(); ++b) {
      const Rect& p = controls[a].rect;
      const Rect& q = controls[b].rect;
      if (GetParent(controls[a].hwnd) != window ||
          GetParent(controls[b].hwnd) != window) {
        continue;
      }
      if (p.x < q.x + q.w && q.x < p.x + p.w && p.y < q.y + q.h &&
          q.y < p.y + p.h) {
        *faults += "controls " + std::to_string(controls[a].id) + " (" +
                   rectText(p) + ") and " + std::to_string(controls[b].id) +
                   " (" + rectText(q) + ") overlap\n";
      }
    }
  }
}

// Writes the window's client area, as the screen shows it, to `path` as a
// 24-bit bitmap file. On failure describes it in *error.
bool snapshot(HWND window, const std::string& path, std::string* error) {
  RECT r;
  GetClientRect(window, &r);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) {
    *error = "the window has no area";
    return false;
  }
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;  // bottom-up, as the file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap =
      CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = bitmap != nullptr;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != 0;
    GdiFlush();
    SelectObject(memory, old);
  }
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  const DWORD size = stride * static_cast<DWORD>(h);
  if (ok) {
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + size;
    FILE* out = _wfopen(widen(path).c_str(), L"wb");
    ok = out != nullptr && fwrite(&file, sizeof file, 1, out) == 1 &&
         fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
         fwrite(bits, 1, size, out) == size;
    if (out != nullptr && fclose(out) != 0) ok = false;
    if (!ok) *error = "cannot write " + quoteWord(path);
  } else {
    *error = "cannot copy the window from the screen";
  }
  if (bitmap != nullptr) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

// Runs the commands of one driver invocation and owns the program it starts.
class Driver {
 public:
  Driver(DWORD defaultTimeoutMs, bool verbose)
      : defaultTimeoutMs_(defaultTimeoutMs), verbose_(verbose) {}
  ~Driver() {
    if (process_ != nullptr) CloseHandle(process_);
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Runs one command. On failure stores the reason in *error and returns
  // false.
  bool execute(const Command& command, std::string* error);

  // Ends the program started by "run" if it is still running; used when a
  // command failed, so that a failing test leaves no window behind.
  void terminateProgram();

 private:
  DWORD timeoutArg(const Command& command, size_t index) const {
    return index < command.args.size()
               ? static_cast<DWORD>(argNumber(command.args[index]))
               : defaultTimeoutMs_;
  }

  // Finds the window titled args[0] and, when args[1] is given, its control
  // with that id (id 0 is the window itself).
  bool resolve(const Command& command, HWND* window, HWND* control,
               std::string* error);

  bool waitWindow(const Command& command, bool gone, std::string* error);
  bool list();
  bool staticTexts(HWND window);
  bool waitText(const Command& command, std::string* error);
  bool key(HWND window, const std::string& name);
  bool run(const Command& command, std::string* error);
  bool exitCode(const Command& command, std::string* error);

  DWORD defaultTimeoutMs_;
  bool verbose_;
  HANDLE process_ = nullptr;
  DWORD processId_ = 0;
};

bool Driver::resolve(const Command& command, HWND* window, HWND* control,
                     std::string* error) {
  *window = findTopLevel(command.args[0]);
  if (*window == nullptr) {
    *error = "no window titled " + quoteWord(command.args[0]);
    return false;
  }
  *control = *window;
  if (command.args.size() < 2) return true;
  const int id = argNumber(command.args[1]);
  if (id == 0) return true;
  *control = GetDlgItem(*window, id);
  if (*control == nullptr) {
    *error = "no control " + std::to_string(id) + " in window " +
             quoteWord(command.args[0]);
    return false;
  }
  return true;
}

bool Driver::waitWindow(const Command& command, bool gone, std::string* error) {
  const DWORD timeout = timeoutArg(command, 1);
  const DWORD start = GetTickCount();
  while (true) {
    if ((findTopLevel(command.args[0]) == nullptr) == gone) return true;
    if (GetTickCount() - start >= timeout) break;
    Sleep(kPollIntervalMs);
  }
  *error = std::string(gone ? "window " : "no window titled ") +
           quoteWord(command.args[0]) + (gone ? " still there" : " appeared") +
           " after " + std::to_string(timeout) + " ms";
  return false;
}

BOOL CALLBACK listProc(HWND window, LPARAM param) {
  if (!IsWindowVisible(window)) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  auto* out = reinterpret_cast<std::string*>(param);
  *out += hwndText(window) + " " + std::to_string(pid) + " " +
          quoteWord(className(window)) + " " + quoteWord(windowTitle(window)) +
          "\n";
  return TRUE;
}

bool Driver::list() {
  std::string out;
  EnumWindows(listProc, reinterpret_cast<LPARAM>(&out));
  writeOut(out);
  return true;
}

struct StaticTextsState {
  std::string out;
  std::string error;
};

BOOL CALLBACK staticTextsProc(HWND control, LPARAM param) {
  auto* state = reinterpret_cast<StaticTextsState*>(param);
  if (lstrcmpiW(widen(className(control)).c_str(), L"Static") != 0) {
    return TRUE;
  }
  std::string text;
  if (!controlText(nullptr, control, &text, &state->error)) return FALSE;
  state->out += std::to_string(GetDlgCtrlID(control) & 0xFFFF) + " " +
                quoteWord(text) + "\n";
  return TRUE;
}

bool Driver::staticTexts(HWND window) {
  StaticTextsState state;
  EnumChildWindows(window, staticTextsProc, reinterpret_cast<LPARAM>(&state));
  writeOut(state.out);
  return state.error.empty();
}

bool Driver::waitText(const Command& command, std::string* error) {
  const DWORD timeout = timeoutArg(command, 3);
  const DWORD start = GetTickCount();
  std::string last = "(no such window or control)";
  while (true) {
    HWND window, control;
    std::string text, ignored;
    if (resolve(command, &window, &control, &ignored) &&
        controlText(window, control, &text, &ignored)) {
      if (text == command.args[2]) return true;
      last = quoteWord(text);
    }
    if (GetTickCount() - start >= timeout) break;
    Sleep(kPollIntervalMs);
  }
  *error = "control " + command.args[1] + " of " + quoteWord(command.args[0]) +
           " is " + last + ", not " + quoteWord(command.args[2]) + " after " +
           std::to_string(timeout) + " ms";
  return false;
}

bool Driver::key(HWND window, const std::string& name) {
  const WPARAM vk = name == "enter" ? VK_RETURN : VK_ESCAPE;
  // The key goes to the control with the focus, as a real key press would;
  // the dialog's message loop turns it into the default button's or
  // IDCANCEL's command.
  HWND target = window;
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) &&
      info.hwndFocus != nullptr &&
      (info.hwndFocus == window || IsChild(window, info.hwndFocus))) {
    target = info.hwndFocus;
  }
  const UINT scan = MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_VSC);
  const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
  const LPARAM up = down | (LPARAM{3} << 30);
  return PostMessageW(target, WM_KEYDOWN, vk, down) &&
         PostMessageW(target, WM_KEYUP, vk, up);
}

bool Driver::run(const Command& command, std::string* error) {
  if (process_ != nullptr) {
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
      *error = "the program started before (pid " + std::to_string(processId_) +
               ") is still running";
      return false;
    }
    CloseHandle(process_);
    process_ = nullptr;
  }
  std::wstring line = widen(buildCommandLine(command.args));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    *error = "cannot start " + quoteWord(command.args[0]) + " (error " +
             std::to_string(GetLastError()) + ")";
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  processId_ = info.dwProcessId;
  if (verbose_)
    writeErr("sfxdriver: started pid " + std::to_string(processId_) + "\n");
  return true;
}

bool Driver::exitCode(const Command& command, std::string* error) {
  if (process_ == nullptr) {
    *error = "no program was started";
    return false;
  }
  DWORD code = 0;
  if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process_, &code)) {
    *error = "the program is still running";
    return false;
  }
  if (command.args.empty()) {
    writeOut(std::to_string(code) + "\n");
    return true;
  }
  const DWORD expected = static_cast<DWORD>(argNumber(command.args[0]));
  if (code == expected) return true;
  *error = "exit code " + std::to_string(code) + ", expected " +
           std::to_string(expected);
  return false;
}

bool Driver::execute(const Command& command, std::string* error) {
  const std::vector<std::string>& args = command.args;
  HWND window = nullptr, control = nullptr;
  switch (command.info->id) {
    case CommandId::kWaitWindow:
      return waitWindow(command, false, error);
    case CommandId::kWaitGone:
      return waitWindow(command, true, error);
    case CommandId::kList:
      return list();
    case CommandId::kText: {
      std::string text;
      if (!resolve(command, &window, &control, error) ||
          !controlText(window, control, &text, error)) {
        return false;
      }
      writeOut(text + "\n");
      return true;
    }
    case CommandId::kStaticTexts:
      if (!resolve(command, &window, &control, error)) return false;
      if (!staticTexts(window)) {
        *error = "a static control does not answer WM_GETTEXT";
        return false;
      }
      return true;
    case CommandId::kExpectText: {
      std::string text;
      if (!resolve(command, &window, &control, error) ||
          !controlText(window, control, &text, error)) {
        return false;
      }
      if (text == args[2]) return true;
      *error = "control " + args[1] + " of " + quoteWord(args[0]) + " is " +
               quoteWord(text) + ", expected " + quoteWord(args[2]);
      return false;
    }
    case CommandId::kWaitText:
      return waitText(command, error);
    case CommandId::kType: {
      if (!resolve(command, &window, &control, error)) return false;
      const std::wstring text = widen(args[2]);
      DWORD_PTR result = 0;
      if (!SendMessageTimeoutW(control, WM_SETTEXT, 0,
                               reinterpret_cast<LPARAM>(text.c_str()),
                               SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) {
        *error = "the control does not answer WM_SETTEXT";
        return false;
      }
      return true;
    }
    case CommandId::kPress: {
      if (!resolve(command, &window, &control, error)) return false;
      if (control == window) {
        *error = "press needs a control id other than 0";
        return false;
      }
      if (!IsWindowEnabled(control)) {
        *error =
            "control " + args[1] + " of " + quoteWord(args[0]) + " is disabled";
        return false;
      }
      // Posted, not sent: the command may open a modal dialog, and a sent
      // message would not return before that dialog ends.
      const int id = argNumber(args[1]);
      return PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                          reinterpret_cast<LPARAM>(control)) != 0;
    }
    case CommandId::kKey:
      if (!resolve(command, &window, &control, error)) return false;
      return key(window, args[1]);
    case CommandId::kClose:
      if (!resolve(command, &window, &control, error)) return false;
      return PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0) != 0;
    case CommandId::kRect: {
      if (!resolve(command, &window, &control, error)) return false;
      Rect screen, client;
      windowRects(control, &screen, &client);
      writeOut("screen " + rectText(screen) + " client " + rectText(client) +
               "\n");
      return true;
    }
    case CommandId::kExpectRect: {
      if (!resolve(command, &window, &control, error)) return false;
      Rect screen, client;
      windowRects(control, &screen, &client);
      const std::vector<std::string> expected(args.begin() + 2, args.end());
      if (rectMatches(expected, client)) return true;
      *error = "control " + args[1] + " of " + quoteWord(args[0]) + " is at " +
               rectText(client) + ", expected " + args[2] + " " + args[3] +
               " " + args[4] + " " + args[5];
      return false;
    }
    case CommandId::kExpectEnabled:
    case CommandId::kExpectDisabled: {
      if (!resolve(command, &window, &control, error)) return false;
      const bool wantEnabled = command.info->id == CommandId::kExpectEnabled;
      if ((IsWindowEnabled(control) != 0) == wantEnabled) return true;
      *error = "control " + args[1] + " of " + quoteWord(args[0]) + " is " +
               (wantEnabled ? "disabled" : "enabled");
      return false;
    }
    case CommandId::kRun:
      return run(command, error);
    case CommandId::kWaitExit: {
      if (process_ == nullptr) {
        *error = "no program was started";
        return false;
      }
      const DWORD timeout = timeoutArg(command, 0);
      if (WaitForSingleObject(process_, timeout) == WAIT_OBJECT_0) return true;
      *error = "the program is still running after " + std::to_string(timeout) +
               " ms";
      return false;
    }
    case CommandId::kExitCode:
      return exitCode(command, error);
    case CommandId::kSleep:
      Sleep(static_cast<DWORD>(argNumber(args[0])));
      return true;
    case CommandId::kProgress:
    case CommandId::kExpectProgress: {
      if (!resolve(command, &window, &control, error)) return false;
      DWORD_PTR position = 0;
      if (!SendMessageTimeoutW(control, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG,
                               kSendTimeoutMs, &position)) {
        *error = "the control does not answer PBM_GETPOS";
        return false;
      }
      const int32_t pos = static_cast<int32_t>(position);
      if (command.info->id == CommandId::kProgress) {
        writeOut(std::to_string(pos) + "\n");
        return true;
      }
      if (pos >= argNumber(args[2]) && pos <= argNumber(args[3])) return true;
      *error = "progress bar " + args[1] + " of " + quoteWord(args[0]) +
               " is at " + std::to_string(pos) + ", expected " + args[2] +
               " to " + args[3];
      return false;
    }
    case CommandId::kSetEnv: {
      // The driver's own environment, which `run` hands to the program.
      const std::wstring name = widen(args[0]);
      const std::wstring value = args.size() > 1 ? widen(args[1]) : L"";
      if (SetEnvironmentVariableW(name.c_str(),
                                  args.size() > 1 ? value.c_str() : nullptr) ||
          args.size() == 1) {
        return true;
      }
      *error = "cannot set " + quoteWord(args[0]);
      return false;
    }
    case CommandId::kLock: {
      // Open for deletion only, sharing reading and deletion: a program
      // can still be started from the file (its loader shares deletion),
      // but an open that does not share deletion meets a sharing
      // violation. Held until the driver ends.
      HANDLE h = CreateFileW(widen(args[0]).c_str(), DELETE,
                             FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE) {
        *error = "cannot lock " + quoteWord(args[0]) + " (error " +
                 std::to_string(GetLastError()) + ")";
        return false;
      }
      return true;
    }
    case CommandId::kLayout:
    case CommandId::kExpectLayout: {
      if (!resolve(command, &window, &control, error)) return false;
      std::string report, faults;
      checkLayout(window, &report, &faults);
      if (command.info->id == CommandId::kLayout) {
        writeOut(report);
        return true;
      }
      if (faults.empty()) return true;
      *error = "the layout of " + quoteWord(args[0]) + " is wrong:\n" +
               faults + report;
      return false;
    }
    case CommandId::kIcon: {
      // The window's big and small icons (WM_GETICON) and, under Wine, the
      // X window that carries them for the desktop (_NET_WM_ICON).
      if (!resolve(command, &window, &control, error)) return false;
      DWORD_PTR big = 0, small = 0;
      SendMessageTimeoutW(window, WM_GETICON, ICON_BIG, 0, SMTO_ABORTIFHUNG,
                          kSendTimeoutMs, &big);
      SendMessageTimeoutW(window, WM_GETICON, ICON_SMALL, 0, SMTO_ABORTIFHUNG,
                          kSendTimeoutMs, &small);
      const HANDLE x11 = GetPropW(window, L"__wine_x11_whole_window");
      writeOut(std::string("big ") + (big ? "yes" : "none") + " small " +
               (small ? "yes" : "none") + " x11 " +
               hwndText(reinterpret_cast<HWND>(x11)) + "\n");
      return true;
    }
    case CommandId::kSnapshot:
      if (!resolve(command, &window, &control, error)) return false;
      return snapshot(window, args[1], error);
    case CommandId::kAttributes: {
      const DWORD a = GetFileAttributesW(widen(args[0]).c_str());
      if (a == INVALID_FILE_ATTRIBUTES) {
        *error = "no attributes for " + quoteWord(args[0]) + " (error " +
                 std::to_string(GetLastError()) + ")";
        return false;
      }
      char hex[16];
      snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(a));
      writeOut(std::string(hex) + "\n");
      return true;
    }
  }
  *error = "command not implemented";
  return false;
}

void Driver::terminateProgram() {
  if (process_ == nullptr ||
      WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) {
    return;
  }
  TerminateProcess(process_, 1);
  WaitForSingleObject(process_, kSendTimeoutMs);
  writeErr("sfxdriver: terminated the program under test (pid " +
           std::to_string(processId_) + ")\n");
}

const char kUsage[] =
    "usage: sfxdriver [-v] [-t TIMEOUT_MS] [-f SCRIPT | - | COMMAND]...\n"
    "Each COMMAND argument is one command line; -f reads commands from a\n"
    "script file, - (or -f -) from standard input. Every command is checked\n"
    "before the first one runs. Exit code 0 when all succeed, 1 when one\n"
    "fails or times out, 2 for a usage or script error.\n"
    "  -v  echo each command to stderr before running it\n"
    "  -t  default time-out of the waiting commands (10000 ms)\n"
    "Commands:\n";

std::string usageText() {
  std::string out = kUsage;
  for (const CommandInfo& info : commandTable()) {
    out += std::string("  ") + info.name + " " + info.usage + "\n";
  }
  return out;
}

bool readAll(FILE* file, std::string* out) {
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
    out->append(buffer, n);
  return ferror(file) == 0;
}

// Parses the script `path` ("-" for standard input) and appends its commands.
bool loadScript(const std::string& path, std::vector<Command>* commands,
                std::string* error) {
  std::string text;
  if (path == "-") {
    if (!readAll(stdin, &text)) {
      *error = "cannot read standard input";
      return false;
    }
  } else {
    FILE* file = _wfopen(widen(path).c_str(), L"rb");
    if (file == nullptr) {
      *error = "cannot open script " + quoteWord(path);
      return false;
    }
    const bool ok = readAll(file, &text);
    fclose(file);
    if (!ok) {
      *error = "cannot read script " + quoteWord(path);
      return false;
    }
  }
  std::istringstream in(text);
  return parseScript(in, path == "-" ? "stdin" : path, commands, error);
}

int driverMain(const std::vector<std::string>& args) {
  std::vector<Command> commands;
  DWORD timeout = kDefaultTimeoutMs;
  bool verbose = false;
  bool onlyCommands = false;
  std::string error;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (!onlyCommands && (arg == "-h" || arg == "--help")) {
      writeOut(usageText());
      return 0;
    } else if (!onlyCommands && arg == "-v") {
      verbose = true;
    } else if (!onlyCommands && arg == "--") {
      onlyCommands = true;
    } else if (!onlyCommands && arg == "-t" && hasValue) {
      int64_t value = 0;
      if (!parseNumber(args[++i], 0, 0x7FFFFFFF, &value)) {
        writeErr("sfxdriver: -t needs a number of milliseconds\n");
        return 2;
      }
      timeout = static_cast<DWORD>(value);
    } else if (!onlyCommands && (arg == "-" || (arg == "-f" && hasValue))) {
      if (!loadScript(arg == "-" ? arg : args[++i], &commands, &error)) {
        writeErr("sfxdriver: " + error + "\n");
        return 2;
      }
    } else if (!onlyCommands && !arg.empty() && arg[0] == '-') {
      writeErr("sfxdriver: unknown option " + quoteWord(arg) + "\n" +
               usageText());
      return 2;
    } else {
      Command command;
      bool isEmpty = false;
      if (!parseCommand(arg, "argument " + std::to_string(i), &command,
                        &isEmpty, &error)) {
        writeErr("sfxdriver: " + error + "\n");
        return 2;
      }
      if (!isEmpty) commands.push_back(std::move(command));
    }
  }
  if (commands.empty()) {
    writeErr("sfxdriver: no commands\n" + usageText());
    return 2;
  }

  Driver driver(timeout, verbose);
  for (const Command& command : commands) {
    if (verbose) {
      std::string line = command.info->name;
      for (const std::string& a : command.args) line += " " + quoteWord(a);
      writeErr("sfxdriver: " + command.where + ": " + line + "\n");
    }
    if (!driver.execute(command, &error)) {
      writeErr("sfxdriver: " + command.where + ": " + command.info->name +
               ": " + error + "\n");
      driver.terminateProgram();
      return 1;
    }
  }
  return 0;
}

}  // namespace
}  // namespace sfx

int main() {
  // Rectangles and fonts of the program under test in real pixels, as it
  // lays itself out, whatever the resolution.
  SetProcessDPIAware();
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) {
    fputs("sfxdriver: cannot read the command line\n", stderr);
    return 2;
  }
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(sfx::narrow(argv[i]));
  LocalFree(argv);
  return sfx::driverMain(args);
}
