// A stand-in setup program for the end-to-end tests. It records how it was
// started and can behave like a slow or failing installer:
//
//   sfxsetup [--out FILE] [--hold FILE] [--sleep MS] [--child ARGS...]
//            [--exit CODE]
//
// --out FILE   appends "cmdline: ...", "cwd: ..." and one "arg: ..." line per
//              argument (UTF-8, CR LF) to FILE
// --hold FILE  opens FILE without sharing and keeps it open until the end
// --sleep MS   waits that long before ending
// --child ...  starts this program again with the remaining arguments and
//              does not wait for it
// --exit CODE  the exit code (decimal, may exceed 255); 0 by default
// --probe FILE REPORT  at the end (after --sleep) appends "probe: ok" or
//              "probe: missing" (FILE could or could not be read) to REPORT
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string utf8(const wchar_t* w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, nullptr, nullptr);
  return s;
}

void appendRecord(const wchar_t* path, int argc, wchar_t** argv) {
  std::string text = "cmdline: " + utf8(GetCommandLineW()) + "\r\n";
  wchar_t cwd[4096] = {0};
  GetCurrentDirectoryW(4096, cwd);
  text += "cwd: " + utf8(cwd) + "\r\n";
  for (int i = 1; i < argc; ++i) text += "arg: " + utf8(argv[i]) + "\r\n";
  HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
}

// Starts this program with argv[first..] as its arguments.
void startChild(int first, int argc, wchar_t** argv) {
  wchar_t self[4096] = {0};
  GetModuleFileNameW(nullptr, self, 4096);
  std::wstring line = L"\"" + std::wstring(self) + L"\"";
  for (int i = first; i < argc; ++i)
    line += L" \"" + std::wstring(argv[i]) + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                     nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return 2;
  DWORD sleepMs = 0;
  int exitCode = 0;
  HANDLE held = INVALID_HANDLE_VALUE;
  const wchar_t* probe = nullptr;
  const wchar_t* probeReport = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == L"--out" && hasValue) {
      appendRecord(argv[++i], argc, argv);
    } else if (a == L"--hold" && hasValue) {
      held = CreateFileW(argv[++i], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    } else if (a == L"--sleep" && hasValue) {
      sleepMs = static_cast<DWORD>(wcstoul(argv[++i], nullptr, 10));
    } else if (a == L"--exit" && hasValue) {
      exitCode = static_cast<int>(wcstol(argv[++i], nullptr, 10));
    } else if (a == L"--probe" && i + 2 < argc) {
      probe = argv[++i];
      probeReport = argv[++i];
    } else if (a == L"--child") {
      startChild(i + 1, argc, argv);
      break;
    }
  }
  if (sleepMs) Sleep(sleepMs);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  if (probe) {
    HANDLE h = CreateFileW(probe, GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const char* line = h != INVALID_HANDLE_VALUE ? "probe: ok\r\n" : "probe: missing\r\n";
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    HANDLE r = CreateFileW(probeReport, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (r != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(r, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
      CloseHandle(r);
    }
  }
  LocalFree(argv);
  return exitCode;
}
