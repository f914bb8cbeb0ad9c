// Start-up: WinMain, the hidden owner window, the payload and configuration
// (GetSettings), the mode choice and the exit code.
#include "app/launcher.h"

#include <commctrl.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/resource.h"
#include "app/startup_marks.h"
#include "fs/file.h"
#include "log/logger.h"
#include "stream/data_source.h"
#include "text/xstring.h"

namespace sfx {

#ifdef SFX_STARTUP_MARKS
// The first mark: the C runtime has started, the static objects (among them
// g_launcher) are not constructed yet.
__attribute__((constructor(101))) static void markRuntimeStarted() {
  STARTUP_MARK("C runtime started");
}
#endif

LauncherState g_launcher;

namespace {

constexpr const char kErrorCaption[] = "Error";
constexpr const char kErrorFileName[] = "sfxErrorLog.txt";
constexpr const char kBuildDate[] = "Sep 13 2014";
constexpr UINT kHeartbeatMs = 200;

LRESULT CALLBACK hiddenWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wp) == IDM_EXIT) DestroyWindow(hwnd);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

ATOM registerWindowClass(HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = hiddenWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszMenuName = L"SELFEXTRACT";
  wc.lpszClassName = g_launcher.className;
  return RegisterClassExW(&wc);
}

// The "Error" box of start-up (unless silent), `text` given as UTF-8.
void errorBox(HWND owner, const char* text) {
  if (reportInsteadOfBox(text)) return;
  if (isSilent()) return;
  XString t, c;
  t.setFromUtf8(text);
  c.setFromUtf8(kErrorCaption);
  MessageBoxW(owner, reinterpret_cast<const wchar_t*>(t.getUtf16()),
              reinterpret_cast<const wchar_t*>(c.getUtf16()), MB_OK);
}

// The error file in the current directory, written when the executable
// cannot open itself: the path, then the log text with LF line ends (text
// mode turns each into CR LF).
void writeErrorFile(const char* exePath, const StringBuffer& logText) {
  FILE* f = fopen(kErrorFileName, "w");
  if (!f) return;
  StringBuffer text(logText);
  text.toLF();
  fprintf(f, "Failed to open EXE: %s\n", exePath);
  fprintf(f, "%s\n", text.getString());
  fclose(f);
}

// Limits where DLLs are loaded from to the system directory, so nothing is
// picked up from the program's own folder or the current directory. Looked
// up at run time: older systems lack the call and keep their default order.
void restrictDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  auto fn =
      reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
          GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (fn) fn(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
}

}  // namespace

void runLog(const char* format, ...) {
  if (!g_launcher.logFile) return;
  va_list args;
  va_start(args, format);
  vfprintf(g_launcher.logFile, format, args);
  va_end(args);
}

void reopenLog(int point) {
  if (!g_launcher.logFile) return;
  fclose(g_launcher.logFile);
  g_launcher.logFile = openUtf8(g_launcher.logPath.getString(), "ab");
  if (g_launcher.logFile)
    runLog("Log opened from internal point %d\r\n", point);
}

bool isSilent() { return g_launcher.config.isSilent(); }

bool isUnattended() { return g_launcher.unattended; }

bool reportInsteadOfBox(const char* text) {
  if (!g_launcher.unattended) return false;
  if (g_launcher.logFile) {
    runLog("error: %s\r\n", text);
    return true;
  }
  // Beside the executable: the current directory of a deployment tool is
  // anybody's guess. The first report of the run replaces the file.
  static bool written = false;
  XString exePath;
  getModulePath(exePath);
  std::string path = exePath.getUtf8();
  size_t slash = path.find_last_of("\\/");
  path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
         kErrorFileName;
  FILE* f = openUtf8(path.c_str(), written ? "a" : "w");
  if (!f) return true;
  written = true;
  StringBuffer lf(text);
  lf.toLF();
  fprintf(f, "error: %s\n", lf.getString());
  fclose(f);
  return true;
}

bool GetSettings(HWND owner) {
  XString exePath;
  getModulePath(exePath);
  Logger log;
  log.enterContext("GetSettings", true);

  auto* source = new FileDataSource();
  if (!source->openDataSource(exePath, log)) {
    delete source;
    log.leaveContext();
    StringBuffer logText;
    log.getLogText(logText);
    writeErrorFile(exePath.getUtf8(), logText);
    std::string message = std::string("Failed to open EXE: ") +
                          exePath.getUtf8() + "\n" + logText.getString();
    errorBox(owner, message.c_str());
    return false;
  }
  STARTUP_MARK("executable opened");
  source->setProgressByBytes(true);
  g_launcher.archive.setSource(source);

  g_launcher.exeFileSize = source->getFileSize64(log);
  if (g_launcher.exeFileSize < 0) {
    errorBox(owner, "Failed to get file size.");
    return false;
  }
  delete g_launcher.progressMonitor;
  g_launcher.progressMonitor = new ProgressMonitor(
      &g_launcher.progressEvent, kHeartbeatMs, g_launcher.exeFileSize);

  if (!g_launcher.archive.findMarker(log, nullptr)) {
    errorBox(owner, "Failed to find marker.");
    return false;
  }
  STARTUP_MARK("payload marker found");
  StringBuffer errorText;
  if (!g_launcher.archive.readHeader(errorText, log, nullptr)) {
    errorText.prepend("Failed to read internal header: ");
    errorBox(owner, errorText.getString());
    return false;
  }
  if (!g_launcher.archive.readArgs(log, nullptr)) {
    errorBox(owner, "Failed to read internal args.");
    return false;
  }
  XString xml;
  g_launcher.archive.getArg(kConfigArg, xml);
  STARTUP_MARK("header and arguments read");
  g_launcher.config.loadDocument(xml);
  STARTUP_MARK("configuration loaded");
  return true;
}

BOOL InitInstance(HINSTANCE instance, int /*showCommand*/,
                  const char* commandLine, bool* noMessageLoop) {
  *noMessageLoop = false;
  g_launcher.instance = instance;
  HWND hidden = CreateWindowExW(0, g_launcher.className, g_launcher.title,
                                WS_POPUP, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                nullptr, nullptr, instance, nullptr);
  if (!hidden) return FALSE;
  STARTUP_MARK("hidden window created");

  bool settingsRead = GetSettings(hidden);

  CommandLineTarget target;
  target.config = &g_launcher.config;
  target.password = &g_launcher.password;
  target.logPath = &g_launcher.logPath;
  target.logFile = &g_launcher.logFile;
  parseCommandLine(commandLine, target);
  STARTUP_MARK("command line applied");

  if (g_launcher.logFile) {
    XString version;
    g_launcher.config.getText("VersionCreatedBy", version);
    runLog("Created by version %s\r\n",
           version.isEmpty() ? "prior to 14.3.0" : version.getUtf8());
    runLog("%s\r\n", kBuildDate);
    XString doc;
    g_launcher.config.getDocument(doc);
    runLog("%s\r\n", doc.getUtf8());
    reopenLog(2);
  }

  SfxConfig& config = g_launcher.config;
  if (config.getInt("Unattended") != 0) g_launcher.unattended = true;
  if (g_launcher.unattended) {
    // No dialog: the run is automatic whatever the Show keys say, and one
    // that cannot read its own payload ends at once.
    runLog("Unattended run...\r\n");
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX |
                 SEM_NOOPENFILEERRORBOX);
    *noMessageLoop = true;
    if (!settingsRead) {
      runLog("self-extractor is damaged, download it again\r\n");
      g_launcher.exitCode = kExitDamaged;
      return TRUE;
    }
    runLog("Automatically unzipping...\r\n");
    unzipAndRun(hidden);
    return TRUE;
  }
  if (!config.getShowMain() && config.unzipDirKnown()) {
    if (!config.getShowProgress()) {
      runLog("Automatically unzipping...\r\n");
      STARTUP_MARK("automatic mode chosen");
      bool ok = unzipAndRun(hidden);
      if (config.getShowFin()) runFinishedDialog(hidden);
      *noMessageLoop = true;
      return ok ? TRUE : FALSE;
    }
    runLog("Showing progress dialog...\r\n");
    reopenLog(3);
    runProgressDialog(hidden);
    runLog("Created progress dialog...\r\n");
    reopenLog(4);
    *noMessageLoop = true;
    return TRUE;
  }
  runLog("Showing main dialog...\r\n");
  runMainDialog(hidden);
  return TRUE;
}

}  // namespace sfx

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  using sfx::g_launcher;
  STARTUP_MARK("WinMain entered");
  sfx::restrictDllSearch();
  // The command line as Unicode, in UTF-8, without the program name: paths
  // and passwords keep every character whatever the ANSI code page.
  sfx::XString wideLine;
  wideLine.setFromUtf16(reinterpret_cast<const char16_t*>(GetCommandLineW()));
  std::string line = sfx::skipProgramName(wideLine.getUtf8());
  const char* commandLine = line.c_str();
  if (sfx::hasUnattendedSwitch(commandLine)) {
    g_launcher.unattended = true;
    // Nor any box of the system's (a missing disk, a crash report).
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX |
                 SEM_NOOPENFILEERRORBOX);
  }
  LoadStringW(instance, IDS_APP_TITLE, g_launcher.title, 100);
  LoadStringW(instance, IDS_WINDOW_CLASS, g_launcher.className, 100);
  sfx::registerWindowClass(instance);
  STARTUP_MARK("window class registered");

  bool noMessageLoop = false;
  if (!sfx::InitInstance(instance, showCommand, commandLine, &noMessageLoop)) {
    sfx::runLog("InitInstance failed.\r\n");
    sfx::runLog("exitCode = %d\r\n", g_launcher.exitCode != 0
                                           ? g_launcher.exitCode
                                           : sfx::kExitUnpackFailed);
    return g_launcher.exitCode != 0 ? g_launcher.exitCode
                                    : sfx::kExitUnpackFailed;
  }
  if (noMessageLoop) {
    STARTUP_MARK("run finished");
    if (g_launcher.logFile) {
      sfx::runLog("Return from WinMain without entering message loop...\r\n");
      sfx::runLog("exitCode = %d\r\n", g_launcher.exitCode);
      fclose(g_launcher.logFile);
      g_launcher.logFile = nullptr;
    }
    return g_launcher.exitCode;
  }
  if (g_launcher.logFile) {
    sfx::runLog("Initialization finished.\r\n");
    sfx::reopenLog(1);
  }
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (g_launcher.logFile) {
    sfx::runLog("Closing log from WinMain.\r\n");
    sfx::runLog("exitCode = %d\r\n", g_launcher.exitCode);
    fclose(g_launcher.logFile);
    g_launcher.logFile = nullptr;
  }
  return g_launcher.exitCode;
}
