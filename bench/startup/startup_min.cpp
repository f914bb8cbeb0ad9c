// The reference for the stub's start-up: the least a Win32 GUI program does.
// It registers a window class, creates a hidden top-level window (the stub's
// owner window is hidden too) and runs the message loop; the first time the
// queue is empty (the program is idle) it destroys the window, whose
// WM_DESTROY posts the quit request. Exits 0. (Not a timer of 0 ms: Wine
// raises that to 10 ms, which would make the reference slower than it
// need be.) Built with the stub's compiler and link flags; a build with
// SFX_STARTUP_MARKS writes the stub's first phase marks too.
//
// With the argument "hold" it stays until it is ended: the benchmark keeps
// one such process so that Wine's desktop (its explorer process, ended
// soon after the last program using it) stays up between the measured
// starts.
#include <windows.h>

#include <cstring>

#include "app/startup_marks.h"

namespace {

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

#ifdef SFX_STARTUP_MARKS
__attribute__((constructor(101))) static void markRuntimeStarted() {
  STARTUP_MARK("C runtime started");
}
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  STARTUP_MARK("WinMain entered");
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"StartupMin";
  if (!RegisterClassExW(&wc)) return 1;
  STARTUP_MARK("window class registered");
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"Start-up reference",
                              WS_POPUP, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                              nullptr, nullptr, instance, nullptr);
  if (!hwnd) return 1;
  STARTUP_MARK("hidden window created");
  const bool hold = strcmp(commandLine, "hold") == 0;
  bool idleSeen = false;
  MSG msg;
  for (;;) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        STARTUP_MARK("run finished");
        return static_cast<int>(msg.wParam);
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    // The queue is empty.
    if (!hold && !idleSeen) {
      idleSeen = true;
      DestroyWindow(hwnd);
      continue;
    }
    WaitMessage();
  }
}
