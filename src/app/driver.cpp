// The unzip-and-run driver: obtains the password, settles and creates the
// unzip directory, extracts every entry, starts the setup program, waits for
// it, hands its exit code on and takes away what the run created.
#include <windows.h>

#include <commctrl.h>
#include <process.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/deferred_dlls.h"
#include "app/driver.h"
#include "app/fresh_dir.h"
#include "app/launcher.h"
#include "app/password_bytes.h"
#include "app/resource.h"
#include "app/startup_marks.h"
#include "app/undo_list.h"
#include "app/unzip_paths.h"
#include "fs/directory_times.h"
#include "fs/file.h"
#include "fs/path_rules.h"
#include "log/log_base.h"
#include "log/logger.h"
#include "os/os.h"
#include "text/data_buffer.h"
#include "text/ext_ptr_array.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfx {

namespace {

constexpr int kUnzipButtonId = 1001;
constexpr int kUnzipDirBoxId = 1003;
constexpr int kProgressBarId = 1008;
constexpr DWORD kCurrentDirBufferSize = 1000;

const wchar_t* wide(const XString& x) {
  return reinterpret_cast<const wchar_t*>(x.getUtf16());
}

// A UTF-16 message box with OK only, `text` given as UTF-8; in an
// unattended run the text goes to the run log or the error file instead.
void messageBoxUtf8(HWND owner, const char* text, const char* caption) {
  if (reportInsteadOfBox(text)) return;
  XString t, c;
  t.setFromUtf8(text);
  c.setFromUtf8(caption);
  MessageBoxW(owner, wide(t), wide(c), MB_OK);
}

// "Failed to ...: PATH" in a message box, the dialog ended, the quit posted.
void failWithPath(HWND window, const char* message, const StringBuffer& path) {
  StringBuffer text(message);
  text.appendSb(path);
  messageBoxUtf8(window, text.getString(), "Error");
  EndDialog(window, 0);
  PostQuitMessage(0);
}

void logCurrentDirAnsi() {
  char dir[kCurrentDirBufferSize] = {0};
  GetCurrentDirectoryA(kCurrentDirBufferSize, dir);
  runLog("Current working directory: %s\r\n", dir);
}

void setProgressBar(HWND window, int percent) {
  if (!window) return;
  HWND bar = GetDlgItem(window, kProgressBarId);
  if (bar) SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

bool configDebug() { return g_launcher.config.getInt("Debug") != 0; }
bool configVerbose() { return g_launcher.config.getInt("Verbose") != 0; }

void configText(const char* key, StringBuffer& out) {
  XString x;
  g_launcher.config.getText(key, x);
  out.setString(x.getUtf8());
}

void processUndo(ExtPtrArray& list, UndoRetry* retry = nullptr) {
  processUndoList(list, configVerbose(), runLog, retry);
}

void sleepMs(uint32_t ms) { Sleep(ms); }

// How long cleanup after a setup step keeps trying a file or folder that
// is still in use, and how often.
constexpr uint32_t kCleanupRetryBudgetMs = 5000;
constexpr uint32_t kCleanupRetryStepMs = 250;

// Whether cleanup after the setup step retries (set once a setup program
// was waited for) and the retry budget, shared by both undo lists.
bool g_retryCleanup = false;
UndoRetry g_cleanupRetry = {kCleanupRetryBudgetMs, kCleanupRetryStepMs,
                            sleepMs};

UndoRetry* cleanupRetry() { return g_retryCleanup ? &g_cleanupRetry : nullptr; }

// Tries each byte form of the password (passwordCandidates) against the
// verifier; the archive keeps the one that matched.
bool passwordMatches(DataBuffer& verifierCache) {
  for (const std::string& candidate :
       passwordCandidates(g_launcher.password.getString())) {
    g_launcher.archive.setPassword(candidate.c_str());
    LogNull quiet;
    if (g_launcher.archive.checkPassword(quiet, verifierCache)) return true;
  }
  return false;
}

void logTopLevelUndo(const ExtPtrArray& topUndo) {
  if (topUndo.getSize() == 0) {
    runLog("No top-level directory added to undo list\r\n");
    return;
  }
  StringBuffer first(topUndo.elementAtAs<StringBuffer>(0)->getString());
  if (first.getSize() > 0) first.shorten(1);
  runLog("created unzip dir: [%s]\r\n", first.getString());
}

}  // namespace

bool promptAndVerifyPassword(HWND window) {
  DataBuffer verifierCache;
  for (;;) {
    if (g_launcher.password.isEmpty()) {
      if (isUnattended()) {
        // No dialog may ask: a missing password ends the run.
        runLog("no password given (-pwd)\r\n");
        reportInsteadOfBox("This archive needs a password: give it with -pwd.");
        g_launcher.failureCode = kExitPassword;
        return false;
      }
      runPasswordDialog(window);
    }
    if (g_launcher.passwordCancelled) return false;
    if (g_launcher.password.isEmpty()) continue;
    // Deriving the key of a salted payload takes a noticeable moment.
    HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    bool verified = passwordMatches(verifierCache);
    SetCursor(previous);
    if (verified) return true;
    StringBuffer title, text;
    configText("ErrPwdTitle", title);
    configText("ErrPwdCaption", text);
    if (title.isEmpty()) title.setString("Error");
    if (text.isEmpty()) text.setString("Incorrect password.");
    g_launcher.password.secureClear();
    if (isUnattended()) {
      reportInsteadOfBox(text.getString());
      g_launcher.failureCode = kExitPassword;
      return false;
    }
    if (!isSilent())
      messageBoxUtf8(window, text.getString(), title.getString());
  }
}

bool selectTempUnzipDir(HWND window, ExtPtrArray& topUndo,
                        StringBuffer& unzipDir) {
  bool debug = configDebug();
  StringBuffer path;
  bool ok = createFreshTempDir(drawQzTempName, debug, topUndo, path);
  unzipDir.appendSb(path);
  runLog("temp unzipDir = [%s]\r\n", unzipDir.getString());
  if (debug) return true;
  runLog("Check/create unzip dir: [%s]\r\n", unzipDir.getString());
  if (ok) return true;
  runLog("failed to ensure dir exists: [%s]\r\n", unzipDir.getString());
  failWithPath(window, "Failed to ensure dir exists: ", unzipDir);
  return false;
}

bool claimDrawnTempDir(HWND window, ExtPtrArray& topUndo,
                       StringBuffer& unzipDir) {
  bool debug = configDebug();
  StringBuffer shown(unzipDir);
  bool ok = createFreshTempDir(drawQzTempName, debug, topUndo, unzipDir,
                               shown.getString());
  if (!unzipDir.equals(shown)) {
    runLog("temp unzipDir = [%s]\r\n", unzipDir.getString());
    g_launcher.config.setText("UnzipDir", unzipDir.getString());
    if (window) {
      XString shownNow;
      shownNow.setFromUtf8Sb(unzipDir);
      SetDlgItemTextW(window, kUnzipDirBoxId, wide(shownNow));
    }
  }
  if (debug) return true;
  runLog("Check/create unzip dir: [%s]\r\n", unzipDir.getString());
  if (ok) return true;
  runLog("failed to ensure dir exists: [%s]\r\n", unzipDir.getString());
  failWithPath(window, "Failed to ensure dir exists: ", unzipDir);
  return false;
}

bool UnzipToFile(HWND window, StringBuffer& errorText, ExtPtrArray& undo,
                 bool cleanup) {
  errorText.clear();
  setProgressBar(window, 0);
  Logger log;
  log.enterContext("UnzipToFile", true);
  bool verbose = configVerbose();
  bool debug = configDebug();
  StringBuffer path;
  bool ok = true;
  bool finished = false;
  DirectoryTimes directoryTimes;
  // The folders made or found while extracting are not asked about again.
  KnownFolders knownFolders;
  // What this run creates, kept apart from the cleanup list so that a
  // damaged self-extractor takes it away again.
  ExtPtrArray created;
  created.setOwnsObjects(true);
  SimpleArchive& archive = g_launcher.archive;
  archive.setDecoderThreads(g_launcher.config.getInt("DecoderThreads"));
  STARTUP_MARK("extraction starts");
  while (!finished) {
    bool isDirectory = false;
    bool skipped = false;
    ok = archive.extractSaToFile(
        debug, &finished, nullptr, path, &isDirectory,
        cleanup ? &undo : &created, &skipped, g_launcher.progressMonitor, log);
    if (verbose && !path.isEmpty()) {
      if (skipped) runLog("(skipped)");
      runLog(isDirectory ? "(dir) %s\r\n" : "(file) %s\r\n", path.getString());
    }
    if (!ok) break;
    if (isDirectory && !debug) directoryTimes.remember(path.getString());
    if (!skipped && !path.isEmpty() && !isDirectory && cleanup)
      appendUndoEntry(undo, path.getString(), kUndoFile);
    else if (!skipped && !isDirectory && archive.lastFileCreated())
      appendUndoEntry(created, path.getString(), kUndoFile);
  }
  directoryTimes.restore();
  log.leaveContext();
  if (!ok && archive.integrityDamaged()) {
    const char* name = archive.damagedName().getString();
    runLog("self-extractor is damaged, download it again: [%s]\r\n", name);
    g_launcher.failureCode = kExitDamaged;
    if (!cleanup) processUndo(created);
    errorText.setString("Cannot extract ");
    errorText.append(*name ? name : "the files");
    errorText.append(
        " because this self-extractor is damaged. Please download it again.");
  } else if (!ok) {
    StringBuffer logText;
    log.getLogText(logText);
    extractionErrorText(logText, path.getString(), errorText);
  }
  return ok;
}

bool runShellCommand(bool wait, const char* args) {
  std::string comspec;
  if (!environmentValue("ComSpec", &comspec)) return false;
  StringBuffer command("\"");
  command.append(args);
  command.appendChar('"');
  XString interpreter, commandX;
  interpreter.setFromUtf8(comspec.c_str());
  commandX.setFromUtf8Sb(command);
  intptr_t r = _wspawnl(wait ? _P_WAIT : _P_NOWAIT, wide(interpreter),
                        wide(interpreter), L"/c", wide(commandX),
                        static_cast<wchar_t*>(nullptr));
  return r != -1;
}

namespace {

void reportLaunchFailure(HWND window, const StringBuffer& exe,
                         const StringBuffer& unzipDir) {
  runLog("failed to run: [%s]\r\n", exe.getString());
  // A setup step that never ran is no success, in any mode.
  g_launcher.exitCode = kExitSetupNotStarted;
  StringBuffer text("Failed to run ");
  text.appendSb(exe);
  text.append(", working dir = ");
  text.appendSb(unzipDir);
  text.append(" (check to see if this file is in the EXE)");
  messageBoxUtf8(window, text.getString(), "Error");
}

// The job object of WaitForAll. The stub puts itself into the job before
// it starts the setup program, so that the program and everything it
// starts, by any route and from its first instruction, belong to the job
// (a process started by ShellExecuteEx cannot be held suspended until it
// is assigned). The stub then waits until the job holds no process but its
// own; the job's completion port cannot report "no active process" while
// the stub itself is a member, so its process count is read instead.
class SetupJob {
 public:
  ~SetupJob() {
    if (job_) CloseHandle(job_);
  }
  bool join() {
    job_ = CreateJobObjectW(nullptr, nullptr);
    if (!job_) return false;
    joined_ = AssignProcessToJobObject(job_, GetCurrentProcess()) != 0;
    return joined_;
  }
  bool joined() const { return joined_; }
  // Returns when no other process of the job is running (or the count
  // cannot be read).
  void waitForOthers() {
    for (;;) {
      JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
      if (!QueryInformationJobObject(job_, JobObjectBasicAccountingInformation,
                                     &info, sizeof info, nullptr)) {
        runLog("WaitForAll: the job's process count cannot be read\r\n");
        return;
      }
      if (info.ActiveProcesses <= 1) return;
      Sleep(kJobPollMs);
    }
  }

 private:
  static constexpr DWORD kJobPollMs = 100;
  HANDLE job_ = nullptr;
  bool joined_ = false;
};

bool autoExitNow() {
  StringBuffer autoExit;
  configText("AutoExit", autoExit);
  return autoExit.equals("1");
}

// Starts the configured setup program (steps after a successful unpack).
void runSetup(HWND window, const StringBuffer& setupExe,
              const StringBuffer& unzipDir, ExtPtrArray& undo) {
  SfxConfig& config = g_launcher.config;
  StringBuffer exe(setupExe);
  StringBuffer args;
  configText("SetupExeArgs", args);
  if (!args.isEmpty()) runLog("setup args: [%s]\r\n", args.getString());
  normalizeSetupExe(exe);
  runLog("working dir: [%s]\r\n", unzipDir.getString());
  runLog("running exe: [%s]\r\n", exe.getString());
  setProgressBar(window, 100);

  if (isShellSetupName(exe.getString())) {
    bool launched = runShellCommand(config.getWaitForSetup(), args.getString());
    if (autoExitNow()) exit(0);
    g_retryCleanup = launched && config.getWaitForSetup();
    processUndo(undo, cleanupRetry());
    if (!launched) reportLaunchFailure(window, exe, unzipDir);
    return;
  }

  XString dirX, exeX, full;
  dirX.setFromUtf8Sb(unzipDir);
  exeX.setFromUtf8Sb(exe);
  joinPath(dirX, exeX, full);
  logCurrentDirAnsi();
  runLog("full path to auto-run EXE: [%s]\r\n", full.getUtf8());
  runLog("unzipDir: [%s]\r\n", unzipDir.getString());

  XString argsX;
  argsX.setFromUtf8Sb(args);
  SHELLEXECUTEINFOW sei = {};
  sei.cbSize = sizeof sei;
  sei.fMask = SEE_MASK_NOCLOSEPROCESS;
  sei.lpFile = wide(full);
  sei.lpParameters = wide(argsX);
  sei.lpDirectory = wide(dirX);
  sei.nShow = SW_SHOW;
  // Unattended, the shell shows no box of its own either.
  if (isUnattended()) sei.fMask |= SEE_MASK_FLAG_NO_UI;
  bool waitAll = config.getWaitForSetup() && config.getFlag("WaitForAll") &&
                 !autoExitNow();
  SetupJob job;
  if (waitAll && !job.join()) {
    runLog("WaitForAll: no job object, waiting for the setup EXE alone\r\n");
  }
  if (!shellExecuteEx(&sei)) {
    processUndo(undo);
    reportLaunchFailure(window, exe, unzipDir);
    return;
  }
  if (autoExitNow()) exit(0);
  if (!config.getWaitForSetup()) {
    runLog("NOT waiting for setup EXE to complete...\r\n");
    g_launcher.setupDetached = true;
    if (sei.hProcess) CloseHandle(sei.hProcess);
    return;
  }
  runLog("waiting for setup EXE to complete...\r\n");
  if (sei.hProcess) {
    WaitForSingleObject(sei.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(sei.hProcess, &code)) {
      runLog("GetExitCodeProcess: exitCode = %d\r\n", static_cast<int>(code));
      g_launcher.exitCode = static_cast<int32_t>(code);
    }
    CloseHandle(sei.hProcess);
  }
  if (job.joined()) {
    runLog("waiting for every process the setup EXE started...\r\n");
    job.waitForOthers();
    runLog("all processes of the setup EXE have ended\r\n");
  }
  g_retryCleanup = true;
  processUndo(undo, cleanupRetry());
}

// The steps of unzipAndRun; the caller turns a false result into the
// process's failure exit code.
bool unzipAndRunSteps(HWND window) {
  SfxConfig& config = g_launcher.config;
  if (window) EnableWindow(GetDlgItem(window, kUnzipButtonId), FALSE);

  if (config.getEncryption()) {
    if (g_launcher.archive.kdfRefused()) {
      // A password could never open it: refuse before asking for one.
      const char* why = g_launcher.archive.kdfError().getString();
      runLog("%s\r\n", why);
      if (!isSilent()) messageBoxUtf8(window, why, "Error");
      EndDialog(window, 0);
      PostQuitMessage(0);
      return false;
    }
    if (!promptAndVerifyPassword(window)) {
      runLog("Password is incorrect.\r\n");
      EndDialog(window, 0);
      PostQuitMessage(0);
      return false;
    }
    runLog("Password verified...\r\n");
  } else {
    runLog("Not encrypted.\r\n");
  }
  logCurrentDirAnsi();

  bool debug = configDebug();
  ExtPtrArray topUndo;
  topUndo.setOwnsObjects(true);
  StringBuffer unzipDir;
  configText("UnzipDir", unzipDir);
  if (!unzipDir.isEmpty() && !g_launcher.drawnTempDir.isEmpty() &&
      unzipDir.equals(g_launcher.drawnTempDir)) {
    // The main dialog's drawn temporary directory, unchanged: it must be
    // one this run creates, so a directory that appeared under that name
    // since the dialog opened is passed over for a newly drawn one.
    runLog("unzipDir = [%s]\r\n", unzipDir.getString());
    if (!claimDrawnTempDir(window, topUndo, unzipDir)) return false;
    logTopLevelUndo(topUndo);
  } else if (!unzipDir.isEmpty()) {
    normalizeUnzipDir(unzipDir);
    runLog("unzipDir = [%s]\r\n", unzipDir.getString());
    if (!debug) {
      runLog("Check/create extract dir: [%s]\r\n", unzipDir.getString());
      XString dirX;
      dirX.setFromUtf8Sb(unzipDir);
      LogNull quiet;
      if (!ensureDir(dirX, &topUndo, quiet)) {
        runLog("failed to ensure dir exists: [%s]\r\n", unzipDir.getString());
        failWithPath(window, "Failed to ensure dir exists: ", unzipDir);
        return false;
      }
      logTopLevelUndo(topUndo);
    }
  } else {
    runLog("Selecting temp dir for unzipping...\r\n");
    if (!selectTempUnzipDir(window, topUndo, unzipDir)) return false;
    logTopLevelUndo(topUndo);
  }
  stripExtendedPrefix(unzipDir);
  runLog("Final unzip dir: [%s]...\r\n", unzipDir.getString());

  XString savedDir;
  getCurrentDir(savedDir);
  if (!unzipDir.isEmpty()) {
    runLog("Setting CWD [%s]\r\n", unzipDir.getString());
    XString dirX;
    dirX.setFromUtf8Sb(unzipDir);
    if (!debug && !setCurrentDir(dirX)) {
      runLog("failed to set current dir: [%s]\r\n", unzipDir.getString());
      failWithPath(window, "Failed to set current dir: ", unzipDir);
      return false;
    }
  }

  bool cleanup = config.getInt("Cleanup") != 0;
  if (cleanup) runLog("cleanup is requested...\r\n");
  if (!config.getWaitForSetup()) {
    runLog("WaitForSetup if false, therefore cannot cleanup files.\r\n");
    cleanup = false;
  }
  if (config.getInt("AutoExit") != 0) {
    runLog("AutoExit if true, therefore cannot cleanup files.\r\n");
    cleanup = false;
  }

  ExtPtrArray undo;
  undo.setOwnsObjects(true);
  StringBuffer errorText;
  bool ok = UnzipToFile(window, errorText, undo, cleanup);
  if (ok && g_launcher.progressDialog)
    setProgressBar(g_launcher.progressDialog, 100);

  if (ok) {
    runLog("Unzip complete...\r\n");
    StringBuffer setupExe;
    configText("SetupExe", setupExe);
    if (!setupExe.isEmpty())
      runLog("setup filename: [%s]\r\n", setupExe.getString());
    if (configDebug() || setupExe.isEmpty()) {
      processUndo(undo);
    } else {
      runSetup(window, setupExe, unzipDir, undo);
    }
  } else {
    processUndo(undo);
    // Unattended, the reason reaches the log even when the run is silent.
    if (isUnattended() || !isSilent())
      messageBoxUtf8(window, errorText.getString(), "Error");
  }

  setCurrentDir(savedDir);
  // The unzip folder itself is retried only when cleanup emptied it.
  processUndo(topUndo, cleanup ? cleanupRetry() : nullptr);
  return ok;
}

}  // namespace

bool unzipAndRun(HWND window) {
  bool ok = unzipAndRunSteps(window);
  // A caller must never see success for a failed unpack, whatever the mode.
  if (!ok) g_launcher.exitCode = g_launcher.failureCode;
  return ok;
}

}  // namespace sfx
