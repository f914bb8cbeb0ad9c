// The reference for the stub's start-up: the least a Win32 GUI program does.
// It registers a window class, creates a hidden top-level window (the stub's
// owner window is hidden too), sets a timer of 0 ms and runs the message
// loop; the first WM_TIMER destroys the window, whose WM_DESTROY posts the
// quit request. Exits 0. Built with the stub's compiler and link flags; a
// build with SFX_STARTUP_MARKS writes the stub's first phase marks too.
//
// With the argument "hold" it sets no timer and runs until it is ended: the
// benchmark keeps one such process so that Wine's desktop (its explorer
// process, ended a second after the last program using it) stays up
// between the measured starts.
#include <windows.h>

#include <cstring>

#include "app/startup_marks.h"

namespace {

constexpr UINT_PTR kQuitTimer = 1;

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      KillTimer(hwnd, kQuitTimer);
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
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
  bool hold = strcmp(commandLine, "hold") == 0;
  if (!hold && !SetTimer(hwnd, kQuitTimer, 0, nullptr)) return 1;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  STARTUP_MARK("run finished");
  return static_cast<int>(msg.wParam);
}
