// The file and directory operations on real files in a fresh temporary
// directory. The same contract holds natively (the POSIX twin) and in the
// Win32 build under Wine; Win32-only behaviour (share modes, the hidden
// attribute, missing drives) sits inside #ifdef _WIN32.
#include "fs/file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <time.h>

#include <cstring>

#include <algorithm>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <thread>
#else
#include <fcntl.h>
#include <unistd.h>

#include "fs/confined_paths.h"
#endif

#include "fs/directory_times.h"
#include "fs/file_internal.h"
#include "fs/file_time.h"
#include "fs/fs_test_util.h"
#include "fs/path_rules.h"
#include "fs/tz_for_test.h"
#include "os/os.h"
#include "text/ext_ptr_array.h"
#include "text/string_buffer.h"

namespace sfx {
namespace {

// Cyrillic, CJK and a character outside the BMP (U+1F600).
const std::string kCyrillic =
    "\xD0\x96\xD1\x91\xD0\xBB\xD1\x82\xD1\x8B\xD0\xB9";
const std::string kCjk = "\xE4\xB8\xAD\xE6\x96\x87";
const std::string kEmoji = "\xF0\x9F\x98\x80";

// 2026-01-15 12:00 UTC and 2026-07-15 12:00 UTC.
constexpr int64_t kJanuary = 1768478400;
constexpr int64_t kJuly = 1784116800;

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LogNull log;
    XString tmp;
    getTempDir(tmp);
    ASSERT_FALSE(tmp.isEmpty());
    XString root;
    ASSERT_TRUE(makeTempName(X("fstest"), tmp, root, log));
    root_ = root.getUtf8();
    ASSERT_TRUE(createDirWin32(root, nullptr)) << root_;
  }

  void TearDown() override {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) removeAny(*it);
    removeAny(root_);
  }

  // The full path of `rel` under the test directory, removed at the end.
  std::string track(const std::string& rel) {
    std::string p = root_ + "\\" + rel;
    made_.push_back(p);
    return p;
  }

  static void removeAny(const std::string& path) {
    uint32_t a = 0, err = 0;
    if (!getAttributes(X(path), &a, &err, nullptr)) return;
    if (a & kFileAttributeDirectory) {
      removeDirectory(X(path), nullptr);
    } else {
      setFileAttributes(X(path), kFileAttributeNormal, nullptr);
      deleteFile(X(path), nullptr);
    }
  }

  static bool writeText(const std::string& path, const std::string& text) {
    LogNull log;
    return writeWholeFile(X(path), text.data(),
                          static_cast<uint32_t>(text.size()), log);
  }

  static std::string readText(const std::string& path) {
    MarlithHandle f;
    int kind = 0;
    if (!openForReadWin32(X(path), f, &kind, nullptr)) return "<open failed>";
    int64_t size = f.getFileSize64(nullptr);
    std::string s(static_cast<size_t>(size), '\0');
    uint32_t got = 0;
    bool eof = false;
    if (size > 0 &&
        !f.readFull(&s[0], static_cast<uint32_t>(size), &got, &eof, nullptr)) {
      return "<read failed>";
    }
    return s;
  }

  static uint32_t attributesOf(const std::string& path) {
    uint32_t a = 0, err = 0;
    return getAttributes(X(path), &a, &err, nullptr) ? a
                                                     : kInvalidFileAttributes;
  }

  std::string root_;
  std::vector<std::string> made_;
};

// ---- MarlithHandle ----

TEST_F(FileTest, HandleReadsSeeksAndSizes) {
  std::string p = track("data.bin");
  ASSERT_TRUE(writeText(p, "0123456789"));

  MarlithHandle f;
  int kind = -1;
  ASSERT_TRUE(openForReadWin32(X(p), f, &kind, nullptr));
  EXPECT_EQ(kOpenErrorNone, kind);
  EXPECT_EQ(10, f.getFileSize64(nullptr));

  char buf[16] = {};
  uint32_t got = 0;
  bool eof = true;
  ASSERT_TRUE(f.readSome(buf, 4, &got, &eof, nullptr));
  EXPECT_EQ(4u, got);
  EXPECT_FALSE(eof);
  EXPECT_EQ(4, f.getPosition(nullptr));

  ASSERT_TRUE(f.seekRelative(2, nullptr));
  ASSERT_TRUE(f.readFull(buf, 16, &got, &eof, nullptr));
  EXPECT_EQ(4u, got);
  EXPECT_TRUE(eof);
  EXPECT_EQ("6789", std::string(buf, 4));

  // At the end: success, 0 bytes, end of file.
  ASSERT_TRUE(f.readSome(buf, 4, &got, &eof, nullptr));
  EXPECT_EQ(0u, got);
  EXPECT_TRUE(eof);

  ASSERT_TRUE(f.seekAbsolute(1, nullptr));
  ASSERT_TRUE(f.readFull(buf, 3, &got, &eof, nullptr));
  EXPECT_EQ("123", std::string(buf, 3));
  ASSERT_TRUE(f.seekToEnd(nullptr));
  EXPECT_EQ(10, f.getPosition(nullptr));

  // A zero count to readFull succeeds at once.
  EXPECT_TRUE(f.readFull(buf, 0, &got, &eof, nullptr));
  EXPECT_EQ(0u, got);
}

TEST_F(FileTest, HandleMovesCloseTheTargetAndEmptyTheSource) {
  std::string a = track("a.txt"), b = track("b.txt");
  ASSERT_TRUE(writeText(a, "AAAA"));
  ASSERT_TRUE(writeText(b, "BBBB"));
  MarlithHandle ha, hb;
  int kind = 0;
  ASSERT_TRUE(openForReadWin32(X(a), ha, &kind, nullptr));
  ASSERT_TRUE(openForReadWin32(X(b), hb, &kind, nullptr));

  MarlithHandle moved(std::move(ha));
  EXPECT_FALSE(ha.isOpen());
  EXPECT_TRUE(moved.isOpen());

  hb = std::move(moved);
  EXPECT_FALSE(moved.isOpen());
  char buf[4];
  uint32_t got = 0;
  bool eof = false;
  ASSERT_TRUE(hb.readFull(buf, 4, &got, &eof, nullptr));
  EXPECT_EQ("AAAA", std::string(buf, 4));
  hb.close();
  EXPECT_FALSE(hb.isOpen());
  // Both files are closed now, so both can go.
  EXPECT_TRUE(deleteFile(X(a), nullptr));
  EXPECT_TRUE(deleteFile(X(b), nullptr));
}

TEST_F(FileTest, HandleOperationsWithoutAFileFailWithTheirMessages) {
  MarlithHandle none;
  char buf[4];
  uint32_t got = 7;
  uint64_t written = 0;
  bool eof = true;
  struct Case {
    bool ok;
    const char* line;
  };
  RecordingLog log;
  const Case kCases[] = {
      {none.readSome(buf, 4, &got, &eof, &log), "E:No file is open."},
      {none.readSome(nullptr, 4, &got, &eof, &log), "E:NULL buf or bufSize"},
      {none.readSome(buf, 0, &got, &eof, &log), "E:NULL buf or bufSize"},
      {none.readFull(nullptr, 4, &got, &eof, &log), "E:NULL buf pointer."},
      {none.write("x", 1, &written, &log),
       "E:Failed to write because file is not open."},
      {none.setFileTime(FileTime(kJanuary), &log),
       "E:Cannot set file time because file is not open."},
  };
  for (const Case& c : kCases) {
    EXPECT_FALSE(c.ok) << c.line;
    EXPECT_TRUE(log.has(c.line)) << c.line << "\n" << log.all();
  }
  EXPECT_EQ(0u, got);
  EXPECT_FALSE(eof);
  EXPECT_EQ(-1, none.getPosition(nullptr));
  EXPECT_FALSE(none.seekAbsolute(0, nullptr));
  // Writing nothing succeeds even without a file.
  EXPECT_TRUE(none.write(nullptr, 0, &written, nullptr));
  EXPECT_EQ(0u, written);
}

// A log whose every entry clobbers the thread's last OS error, as any call
// made while logging may.
class ClobberingLog : public RecordingLog {
 public:
  bool logError(const char* text) override {
    RecordingLog::logError(text);
    setLastOsError(kStale);
    return true;
  }
  bool logData(const char* tag, const char* value) override {
    RecordingLog::logData(tag, value);
    setLastOsError(kStale);
    return true;
  }
  static constexpr uint32_t kStale = 1234;
};

TEST_F(FileTest, FailedSeekLogsItsOwnErrorNotAStaleOne) {
  std::string p = track("seek.txt");
  ASSERT_TRUE(writeText(p, "0123456789"));
  auto failedSeekLines = [&](RecordingLog& log) {
    MarlithHandle f;
    int kind = 0;
    EXPECT_TRUE(openForReadWin32(X(p), f, &kind, nullptr));
    EXPECT_FALSE(f.seekRelative(-100, &log));
    EXPECT_FALSE(f.seekAbsolute(-100, &log));
    std::vector<std::string> errors;
    for (const std::string& l : log.lines)
      if (l.compare(0, 12, "WindowsError") == 0) errors.push_back(l);
    return errors;
  };
  RecordingLog plain;
  ClobberingLog clobbering;
  std::vector<std::string> expected = failedSeekLines(plain);
  ASSERT_EQ(4u, expected.size()) << plain.all();
  EXPECT_EQ(expected, failedSeekLines(clobbering)) << clobbering.all();
}

// The create-always step against a fake file that refuses, as Windows does,
// a replacement that does not ask for its hidden and system bits.
class FakeReplaceOpener : public ReplaceOpener {
 public:
  FakeReplaceOpener(bool exists, uint32_t existing, uint32_t firstError,
                    bool refuseAll)
      : exists_(exists),
        existing_(existing),
        firstError_(firstError),
        refuseAll_(refuseAll) {}

  bool tryCreate(uint32_t attributes, uint32_t* osError) override {
    attempts.push_back(attributes);
    *osError = kErrorAccessDenied;
    if (attempts.size() == 1 && firstError_ != 0) *osError = firstError_;
    if ((attempts.size() == 1 && firstError_ != 0) || refuseAll_) return false;
    uint32_t needed =
        existing_ & (kFileAttributeHidden | kFileAttributeSystem);
    return !exists_ || (attributes & needed) == needed;
  }
  bool existingAttributes(uint32_t* attributes) override {
    *attributes = existing_;
    return exists_;
  }

  std::vector<uint32_t> attempts;

 private:
  bool exists_;
  uint32_t existing_;
  uint32_t firstError_;
  bool refuseAll_;
};

TEST(ReplaceHiddenSystemTest, RetriesOnceWithTheExistingFilesBits) {
  constexpr uint32_t N = kFileAttributeNormal, H = kFileAttributeHidden,
                     S = kFileAttributeSystem, A = kFileAttributeArchive,
                     R = kFileAttributeReadOnly, D = kFileAttributeDirectory;
  struct Case {
    const char* what;
    bool exists;
    uint32_t existing;
    uint32_t firstError;  // forced on the first attempt; 0: as the file says
    bool refuseAll;
    uint32_t asked;
    bool ok;
    std::vector<uint32_t> attempts;
    uint32_t error;
  };
  const Case kCases[] = {
      {"new file", false, 0, 0, false, N, true, {N}, 0},
      {"plain file", true, A, 0, false, N, true, {N}, 0},
      {"hidden system desktop.ini", true, A | H | S, 0, false, N, true,
       {N, H | S}, kErrorAccessDenied},
      {"system file asked hidden", true, S, 0, false, H, true, {H, H | S},
       kErrorAccessDenied},
      {"hidden file asked hidden", true, A | H, 0, false, H, true, {H}, 0},
      {"sharing violation", true, H, kErrorSharingViolation, false, N, false,
       {N}, kErrorSharingViolation},
      {"read-only refusal", true, R, kErrorAccessDenied, false, N, false, {N},
       kErrorAccessDenied},
      {"hidden directory", true, D | H, kErrorAccessDenied, false, N, false,
       {N}, kErrorAccessDenied},
      {"retry refused as well", true, H | S, 0, true, N, false, {N, H | S},
       kErrorAccessDenied},
  };
  for (const Case& c : kCases) {
    FakeReplaceOpener opener(c.exists, c.existing, c.firstError, c.refuseAll);
    uint32_t err = 0;
    bool ok = createReplacingHiddenSystem(opener, c.asked, &err);
    EXPECT_EQ(c.ok, ok) << c.what;
    EXPECT_EQ(c.attempts, opener.attempts) << c.what;
    if (!ok) {
      EXPECT_EQ(c.error, err) << c.what;
    }
  }
}

TEST_F(FileTest, WritesOverTenMillionBytesInPieces) {
  std::string p = track("big.bin");
  const uint64_t kSize = 10000000 + 17;
  std::string data(static_cast<size_t>(kSize), '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 7 + i / 256);
  MarlithHandle f;
  int kind = 0;
  ASSERT_TRUE(openForWriteWin32(X(p), f, &kind, nullptr));
  uint64_t written = 5;
  ASSERT_TRUE(f.write(data.data(), kSize, &written, nullptr));
  EXPECT_EQ(5 + kSize, written);  // the counter adds up
  EXPECT_EQ(static_cast<int64_t>(kSize), f.getFileSize64(nullptr));
  f.close();
  EXPECT_TRUE(readText(p) == data);
}

TEST_F(FileTest, SizeWithAllOnesInTheLowWordIsNoFailure) {
  std::string p = track("sparse.bin");
  MarlithHandle f;
  int kind = 0;
  ASSERT_TRUE(openForWriteWin32(X(p), f, &kind, nullptr));
  // A sparse file of 0xFFFFFFFF bytes: one byte written at its end.
  ASSERT_TRUE(f.seekAbsolute(0xFFFFFFFELL, nullptr));
  ASSERT_TRUE(f.write("z", 1, nullptr, nullptr));
  RecordingLog log;
  EXPECT_EQ(0xFFFFFFFFLL, f.getFileSize64(&log));
  EXPECT_TRUE(log.lines.empty()) << log.all();
}

TEST_F(FileTest, WholeFileWritesAndTheirFailures) {
  std::string p = track("whole.txt");
  StringBuffer sb;
  sb.append(p.c_str());
  LogNull quiet;
  ASSERT_TRUE(writeWholeFile(sb, "abc", 3, quiet));
  EXPECT_EQ("abc", readText(p));
  ASSERT_TRUE(writeWholeFile(X(p), nullptr, 0, quiet));
  EXPECT_EQ("", readText(p));

  RecordingLog log;
  std::string bad = root_ + "\\missing\\f.txt";
  EXPECT_FALSE(writeWholeFile(X(bad), "abc", 3, log));
  EXPECT_TRUE(log.has("filename=" + bad)) << log.all();
  EXPECT_TRUE(log.has("E:Failed to write complete file (7)")) << log.all();
  RecordingLog empty;
  EXPECT_FALSE(writeWholeFile(X(""), "abc", 3, empty));
  EXPECT_TRUE(empty.has("E:openFileWin32: file path is empty.")) << empty.all();
}

// ---- Opening ----

TEST_F(FileTest, WriteTruncatesReadWriteKeepsAndCreates) {
  std::string p = track("keep.txt");
  ASSERT_TRUE(writeText(p, "first version"));
  {
    MarlithHandle f;
    int kind = 0;
    ASSERT_TRUE(openForReadWriteWin32(X(p), false, f, &kind, nullptr));
    ASSERT_TRUE(f.write("F", 1, nullptr, nullptr));
  }
  EXPECT_EQ("First version", readText(p));
  {
    MarlithHandle* f = openForWriteWin32(X(p), nullptr, nullptr);
    ASSERT_NE(nullptr, f);
    ASSERT_TRUE(f->write("new", 3, nullptr, nullptr));
    delete f;
  }
  EXPECT_EQ("new", readText(p));

  std::string fresh = track("fresh.txt");
  MarlithHandle* rw = openForReadWriteWin32(X(fresh), true, nullptr, nullptr);
  ASSERT_NE(nullptr, rw);
  delete rw;
  EXPECT_TRUE(fileExists(X(fresh), nullptr));

  // The seek-to-end flag appends.
  MarlithHandle* app =
      openFileWin32(X(p), true, true, false, false, true, nullptr, nullptr);
  ASSERT_NE(nullptr, app);
  EXPECT_EQ(3, app->getPosition(nullptr));
  ASSERT_TRUE(app->write("+", 1, nullptr, nullptr));
  delete app;
  EXPECT_EQ("new+", readText(p));
}

TEST_F(FileTest, OpenFailuresGiveTheirKindsAndLogThePath) {
  struct Case {
    std::string path;
    int kind;
    const char* code;  // the Windows error code logged
  };
  const Case kCases[] = {
      {root_ + "\\missing.txt", kOpenErrorOther, "0x2"},  // file not found
      {root_ + "\\no\\such\\f.txt", kOpenErrorPathNotFound, "0x3"},
      {root_, kOpenErrorAccessDenied, "0x5"},  // a directory
  };
  for (const Case& c : kCases) {
    RecordingLog log;
    int kind = -1;
    EXPECT_EQ(nullptr, openForReadWin32(X(c.path), &kind, &log));
    EXPECT_EQ(c.kind, kind) << c.path;
    // A short ASCII path goes to the ANSI open, which logs (2).
    EXPECT_TRUE(log.has("E:Failed to open file (2)")) << log.all();
    EXPECT_TRUE(log.has("localFilePath=" + c.path)) << log.all();
    EXPECT_TRUE(log.hasPrefix("currentWorkingDirectory=")) << log.all();
    EXPECT_TRUE(log.hasPrefix("osErrorInfo=")) << log.all();
    EXPECT_TRUE(log.has(std::string("WindowsErrorCode=") + c.code))
        << log.all();
    EXPECT_TRUE(log.has("localWindowsFilePath=" + c.path)) << log.all();
  }

  // A name outside the ANSI code page goes to the wide open, which logs (3).
  std::string foreign = root_ + "\\" + kCyrillic + ".txt";
  RecordingLog wide;
  int kind = -1;
  EXPECT_EQ(nullptr, openForReadWin32(X(foreign), &kind, &wide));
  EXPECT_EQ(kOpenErrorOther, kind);
  EXPECT_TRUE(wide.has("E:Failed to open file (3)")) << wide.all();
  EXPECT_TRUE(wide.has("utf8Filename=" + foreign)) << wide.all();

  RecordingLog empty;
  EXPECT_EQ(nullptr, openForWriteWin32(X(""), &kind, &empty));
  EXPECT_TRUE(empty.has("[openForWriteWin32")) << empty.all();
  EXPECT_TRUE(empty.has("E:openFileWin32: file path is empty.")) << empty.all();
}

TEST_F(FileTest, ReadOnlyFileOpenedForWritingLosesTheAttribute) {
  std::string p = track("ro.txt");
  ASSERT_TRUE(writeText(p, "old"));
  ASSERT_TRUE(setFileAttributes(X(p), kFileAttributeReadOnly, nullptr));
  ASSERT_TRUE(attributesOf(p) & kFileAttributeReadOnly);

  RecordingLog log;
  MarlithHandle f;
  int kind = -1;
  ASSERT_TRUE(openForWriteWin32(X(p), f, &kind, &log)) << log.all();
  EXPECT_EQ(kOpenErrorNone, kind);
  ASSERT_TRUE(f.write("new", 3, nullptr, nullptr));
  f.close();
  EXPECT_EQ("new", readText(p));
  EXPECT_FALSE(attributesOf(p) & kFileAttributeReadOnly);
  EXPECT_FALSE(log.hasPrefix("E:")) << log.all();
}

#ifndef _WIN32
// Here a name may hold the bytes Windows refuses, and a user's path is taken
// as given: nothing is repaired, reading or writing (the names of a payload
// are repaired by the extraction before they get here).
TEST_F(FileTest, UserPathsAreOpenedAsGiven) {
  const char* kNames[] = {"a:b.exe", "what?.exe", "star*.exe", "pipe|.exe",
                          "<angle>.exe", "quote\".exe", "back\\slash.exe",
                          "CON.txt", "nul"};
  for (const char* name : kNames) {
    // The POSIX form of the path: a "\" in the name is part of it.
    std::string dir = root_;
    std::replace(dir.begin(), dir.end(), '\\', '/');
    std::string p = dir + "/" + name;
    int kind = -1;
    if (strchr(name, '\\')) {
      // A new name with a "\" is a path with a separator; an existing one
      // is opened as named.
      FILE* f = fopen(p.c_str(), "wb");
      ASSERT_NE(nullptr, f) << name;
      fputs(name, f);
      fclose(f);
    } else {
      MarlithHandle w;
      ASSERT_TRUE(openForWriteWin32(X(p), w, &kind, nullptr)) << name;
      ASSERT_TRUE(w.write(name, static_cast<uint32_t>(strlen(name)), nullptr,
                          nullptr));
    }
    struct stat st;
    EXPECT_EQ(0, stat(p.c_str(), &st)) << name << " was not created as named";

    RecordingLog log;
    MarlithHandle r;
    ASSERT_TRUE(openForReadWin32(X(p), r, &kind, &log)) << name << log.all();
    char buf[32] = {0};
    uint32_t got = 0;
    bool eof = false;
    ASSERT_TRUE(r.readFull(buf, sizeof buf - 1, &got, &eof, nullptr));
    EXPECT_EQ(std::string(name), std::string(buf, got));
    r.close();
    EXPECT_EQ(0, std::remove(p.c_str())) << name;
  }
}
#endif

#ifndef _WIN32
// Confined paths: below the current directory no operation follows a link,
// in the middle of a path or at its end; each refusal names the link, and
// nothing outside changes. Without confinement the same paths follow links.
TEST_F(FileTest, ConfinedPathsFollowNoLink) {
  std::string dir = root_;
  std::replace(dir.begin(), dir.end(), '\\', '/');
  ASSERT_EQ(0, mkdir((dir + "/t").c_str(), 0777));
  ASSERT_EQ(0, mkdir((dir + "/t/real").c_str(), 0777));
  ASSERT_EQ(0, mkdir((dir + "/outside").c_str(), 0777));
  ASSERT_TRUE(writeText(dir + "/victim.txt", "victim"));
  ASSERT_TRUE(writeText(dir + "/outside/x", "x"));
  ASSERT_EQ(0, symlink("../victim.txt", (dir + "/t/flink").c_str()));
  ASSERT_EQ(0, symlink("../outside", (dir + "/t/dlink").c_str()));
  int saved = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(saved, 0);
  ASSERT_EQ(0, chdir((dir + "/t").c_str()));
  setConfinedPaths(true);
  takeRefusedLink();

  struct Case {
    const char* what;
    std::function<bool()> op;
    const char* link;
  };
  MarlithHandle h;
  int kind = 0;
  LogNull log;
  const Case kCases[] = {
      {"write a file link", [&] { return openForWriteWin32(X("flink"), h, &kind, nullptr); }, "flink"},
      {"write below a folder link",
       [&] { return openForWriteWin32(X(".\\dlink\\new.txt"), h, &kind, nullptr); }, "dlink"},
      {"read-write below a folder link",
       [&] { return openForReadWriteWin32(X("dlink/x"), false, h, &kind, nullptr); }, "dlink"},
      {"make a folder below a folder link",
       [&] { return createDirWin32(X("dlink/sub"), nullptr); }, "dlink"},
      {"make a chain below a folder link",
       [&] { return ensureDir(X("dlink\\a\\b"), nullptr, log); }, "dlink"},
      {"make a folder over a link", [&] { return createDirWin32(X("flink"), nullptr); }, "flink"},
      {"attributes of a file link",
       [&] { return setFileAttributes(X("flink"), kFileAttributeReadOnly, nullptr); }, "flink"},
      {"times of a folder link",
       [&] {
         std::unique_ptr<MarlithHandle> d(openDirForTimesWin32(X("dlink"), nullptr));
         return d != nullptr;
       },
       "dlink"},
      {"delete below a folder link", [&] { return deleteFile(X("dlink/x"), nullptr) &&
                                                  access((dir + "/outside/x").c_str(), F_OK) != 0; },
       "dlink"},
      {"a parent component", [&] { return createDirWin32(X("real/../../up"), nullptr); }, ""},
  };
  for (const Case& c : kCases) {
    EXPECT_FALSE(c.op()) << c.what;
    EXPECT_EQ(c.link, takeRefusedLink()) << c.what;
  }
  // The attributes of a link are its own, not its target's.
  uint32_t a = 0, err = 0;
  EXPECT_TRUE(getAttributes(X("dlink"), &a, &err, nullptr));
  EXPECT_FALSE(a & kFileAttributeDirectory);
  // What lies below the directory without links works as before.
  EXPECT_TRUE(ensureDir(X("real\\a\\b"), nullptr, log));
  EXPECT_TRUE(openForWriteWin32(X("real/a/b/ok.txt"), h, &kind, nullptr));
  h.close();
  EXPECT_TRUE(fileExists(X("./real/a/b/ok.txt"), nullptr));
  setConfinedPaths(false);
  EXPECT_EQ("victim", readText(dir + "/victim.txt"));
  EXPECT_EQ("x", readText(dir + "/outside/x"));
  struct stat st;
  EXPECT_NE(0, stat((dir + "/outside/new.txt").c_str(), &st));
  EXPECT_NE(0, stat((dir + "/up").c_str(), &st));
  EXPECT_EQ(0, lstat((dir + "/t/flink").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  // Unconfined, the same path goes through the link.
  EXPECT_TRUE(openForWriteWin32(X("dlink/new.txt"), h, &kind, nullptr));
  h.close();
  EXPECT_EQ(0, stat((dir + "/outside/new.txt").c_str(), &st));
  ASSERT_EQ(0, fchdir(saved));
  close(saved);
  for (const char* p : {"/outside/new.txt", "/outside/x", "/t/real/a/b/ok.txt",
                        "/t/flink", "/t/dlink", "/victim.txt"})
    unlink((dir + p).c_str());
  for (const char* p : {"/t/real/a/b", "/t/real/a", "/t/real", "/t", "/outside"})
    rmdir((dir + p).c_str());
}
#endif

// ---- Attributes, existence, deletion ----

TEST_F(FileTest, ExistenceAndAttributesOfFilesAndDirectories) {
  std::string file = track("exists.txt");
  ASSERT_TRUE(writeText(file, "x"));

  EXPECT_TRUE(fileExists(X(file), nullptr));
  EXPECT_TRUE(fileExists(X(root_), nullptr));
  EXPECT_FALSE(fileExists(X(""), nullptr));
  EXPECT_FALSE(fileExists(X(root_ + "\\nothing"), nullptr));
  EXPECT_FALSE(fileExists(X(root_ + "\\no\\thing"), nullptr));

  RecordingLog log;
  EXPECT_FALSE(fileExists(X(root_ + "/nothing"), &log));
  EXPECT_TRUE(log.hasPrefix("WindowsError=")) << log.all();
  EXPECT_TRUE(log.has("WindowsErrorCode=0x2")) << log.all();
  RecordingLog noPath;
  EXPECT_FALSE(fileExists(X(root_ + "/no/thing"), &noPath));
  EXPECT_TRUE(noPath.has("WindowsErrorCode=0x3")) << noPath.all();

  EXPECT_TRUE(attributesOf(root_) & kFileAttributeDirectory);
  EXPECT_FALSE(attributesOf(file) & kFileAttributeDirectory);

  uint32_t a = 0, err = 0;
  EXPECT_FALSE(getAttributes(X(root_ + "\\nothing"), &a, &err, nullptr));
  EXPECT_EQ(kErrorFileNotFound, err);
  EXPECT_EQ(kInvalidFileAttributes, a);
  EXPECT_FALSE(getAttributes(X(root_ + "\\no\\thing"), &a, &err, nullptr));
  EXPECT_EQ(kErrorPathNotFound, err);
  RecordingLog empty;
  EXPECT_FALSE(getAttributes(X(""), &a, &err, &empty));
  EXPECT_TRUE(empty.has("E:GetAttributes: filename is empty"));

  ASSERT_TRUE(setFileAttributes(X(file), kFileAttributeReadOnly, nullptr));
  EXPECT_TRUE(attributesOf(file) & kFileAttributeReadOnly);
  ASSERT_TRUE(setFileAttributes(X(file), kFileAttributeNormal, nullptr));
  EXPECT_FALSE(attributesOf(file) & kFileAttributeReadOnly);
}

TEST_F(FileTest, DeleteAndRemove) {
  std::string file = track("gone.txt");
  ASSERT_TRUE(writeText(file, "x"));
  EXPECT_TRUE(deleteFile(X(file), nullptr));
  EXPECT_FALSE(fileExists(X(file), nullptr));
  // Already gone: deleted.
  EXPECT_TRUE(deleteFile(X(file), nullptr));

  std::string dir = track("dir");
  std::string inner = track("dir\\inner.txt");
  ASSERT_TRUE(createDirWin32(X(dir), nullptr));
  ASSERT_TRUE(writeText(inner, "x"));
  RecordingLog log;
  EXPECT_FALSE(removeDirectory(X(dir), &log));  // not empty
  EXPECT_TRUE(log.hasPrefix("WindowsError=")) << log.all();
  EXPECT_TRUE(deleteFile(X(inner), nullptr));
  EXPECT_TRUE(removeDirectory(X(dir), nullptr));
  EXPECT_FALSE(fileExists(X(dir), nullptr));

  RecordingLog created;
  EXPECT_FALSE(createDirWin32(X(root_ + "\\a\\b"), &created));
  EXPECT_TRUE(created.has("[createDirWin32")) << created.all();
  EXPECT_TRUE(created.hasPrefix("WindowsError=")) << created.all();
}

// ---- ensureDir, ensureFile ----

std::vector<std::string> undoLines(const ExtPtrArray& undo) {
  std::vector<std::string> out;
  for (int i = 0; i < undo.getSize(); ++i)
    out.push_back(undo.elementAtAs<StringBuffer>(i)->getString());
  return out;
}

TEST_F(FileTest, EnsureDirCreatesTheChainFromRootToLeafAndRecordsIt) {
  std::string a = track("a");
  std::string b = track("a\\b");
  std::string c = track("a\\b\\c");
  ASSERT_TRUE(createDirWin32(X(a), nullptr));

  ExtPtrArray undo;
  undo.setOwnsObjects(true);
  RecordingLog log;
  // Forward slashes, surrounding space and a trailing separator.
  std::string asGiven = " " + root_ + "/a/b/c/ ";
  ASSERT_TRUE(ensureDir(X(asGiven), &undo, log)) << log.all();
  EXPECT_EQ((std::vector<std::string>{b + "D", c + "D"}), undoLines(undo));
  EXPECT_TRUE(attributesOf(c) & kFileAttributeDirectory);
  EXPECT_TRUE(log.has("[ensureDir"));
  EXPECT_FALSE(log.hasPrefix("E:")) << log.all();

  // An existing directory records nothing.
  ASSERT_TRUE(ensureDir(X(c), &undo, log));
  EXPECT_EQ(2, undo.getSize());
  // Without an undo list the chain is still created.
  std::string d = track("a\\d");
  std::string e = track("a\\d\\e");
  ASSERT_TRUE(ensureDir(X(e), nullptr, log));
  EXPECT_TRUE(fileExists(X(e), nullptr));
  EXPECT_TRUE(ensureDir(X("  "), &undo, log));
}

TEST_F(FileTest, EnsureDirOnAMissingDriveFailsAtTheFirstStep) {
  std::string drive = "Q:";
#ifdef _WIN32
  DWORD drives = GetLogicalDrives();
  for (char letter = 'Q'; letter <= 'Y'; ++letter) {
    if (!(drives & (1u << (letter - 'A')))) {
      drive = std::string(1, letter) + ":";
      break;
    }
  }
#endif
  ExtPtrArray undo;
  undo.setOwnsObjects(true);
  RecordingLog log;
  EXPECT_FALSE(ensureDir(X(drive + "\\new"), &undo, log));
  EXPECT_TRUE(log.has("E:Cannot ensure directory existence (1)")) << log.all();
  EXPECT_TRUE(log.has("path=" + drive + "\\new")) << log.all();
  EXPECT_EQ(0, undo.getSize());
}

TEST_F(FileTest, EnsureDirFailsWhereAFileBlocksTheChain) {
  std::string blocker = track("blocker");
  ASSERT_TRUE(writeText(blocker, "x"));
  struct Case {
    std::string path;
    const char* error;
    std::string at;
  };
  const Case kCases[] = {
      // A level on the way cannot be made (2); the leaf cannot be made (3).
      {blocker + "\\x\\y", "E:Cannot ensure directory existence (2)",
       blocker + "\\x"},
      {blocker + "\\x", "E:Cannot ensure directory existence (3)",
       blocker + "\\x"},
  };
  for (const Case& c : kCases) {
    RecordingLog log;
    EXPECT_FALSE(ensureDir(X(c.path), nullptr, log));
    EXPECT_TRUE(log.has(c.error)) << log.all();
    EXPECT_TRUE(log.has("path=" + c.at)) << log.all();
    EXPECT_TRUE(log.has("[createDirWin32")) << log.all();
  }
}

TEST_F(FileTest, EnsureFileCreatesTheDirectoryPartOnly) {
  std::string dir = track("sub");
  ExtPtrArray undo;
  undo.setOwnsObjects(true);
  RecordingLog log;
  XString part;
  ASSERT_TRUE(ensureFile(X(root_ + "/sub/file.txt"), &part, &undo, log));
  EXPECT_EQ(dir, part.getUtf8());
  EXPECT_EQ(std::vector<std::string>{dir + "D"}, undoLines(undo));
  EXPECT_FALSE(fileExists(X(dir + "\\file.txt"), nullptr));

  // No directory part: nothing to do.
  ASSERT_TRUE(ensureFile(X("file.txt"), &part, &undo, log));
  EXPECT_EQ(1, undo.getSize());

  RecordingLog empty;
  EXPECT_FALSE(ensureFile(X(""), &part, &undo, empty));
  EXPECT_TRUE(empty.has("E:No filePath")) << empty.all();
}

// ---- Long paths and names outside the ANSI code page ----

TEST_F(FileTest, LongPathsAndForeignNamesWorkThroughEveryOperation) {
  // Four levels of 63 UTF-16 units each put the file well past 260.
  std::string rel;
  std::vector<std::string> dirs;
  for (int i = 0; i < 4; ++i) {
    rel += (i ? "\\" : "") + std::string(57, static_cast<char>('k' + i)) + "_" +
           kCyrillic.substr(0, 4) + kCjk.substr(0, 3) + kEmoji;
    dirs.push_back(track(rel));
  }
  std::string file =
      track(rel + "\\" + kCyrillic + "_" + kCjk + "_" + kEmoji + ".txt");
  ASSERT_GT(utf16Length(X(file)), kMaxShortPath + 20);

  ExtPtrArray undo;
  undo.setOwnsObjects(true);
  RecordingLog log;
  ASSERT_TRUE(ensureDir(X(dirs.back()), &undo, log)) << log.all();
  std::vector<std::string> want;
  for (const std::string& d : dirs) want.push_back(d + "D");
  EXPECT_EQ(want, undoLines(undo));

  const std::string kContent = "content " + kCjk;
  ASSERT_TRUE(writeText(file, kContent));
  EXPECT_TRUE(fileExists(X(file), nullptr));
  EXPECT_EQ(kContent, readText(file));

  // Times set at whole seconds and read back.
  {
    ScopedTimeZone zone("UTC0");
    MarlithHandle f;
    int kind = 0;
    ASSERT_TRUE(openForReadWriteWin32(X(file), false, f, &kind, nullptr));
    ASSERT_TRUE(f.setFileTime(FileTime(kJanuary), nullptr));
    uint64_t ft = 0;
    ASSERT_TRUE(f.getLastWriteTime(&ft, nullptr));
    EXPECT_EQ(FileTime(kJanuary).toFileTime(), ft);
  }

  // The short-name functions never see these paths.
  std::string shortForeign = root_ + "\\" + kCyrillic;
  EXPECT_EQ(PathCallForm::kWideExtended,
            chooseOpenCallForm(X(shortForeign), false));
  std::string shortTracked = track(kCyrillic);
  ASSERT_TRUE(writeText(shortTracked, "short"));
  EXPECT_EQ("short", readText(shortTracked));
  EXPECT_TRUE(deleteFile(X(shortTracked), nullptr));

  EXPECT_TRUE(deleteFile(X(file), nullptr));
  EXPECT_FALSE(fileExists(X(file), nullptr));
  for (auto it = dirs.rbegin(); it != dirs.rend(); ++it)
    EXPECT_TRUE(removeDirectory(X(*it), nullptr)) << *it;
  EXPECT_FALSE(fileExists(X(dirs.front()), nullptr));
}

// ---- Times ----

TEST_F(FileTest, TimesAreSetAtWholeSecondsWithTheDaylightShift) {
  ScopedTimeZone zone(kCentralEuropeTz);
  time_t nowT = time(nullptr);
  struct tm local;
#ifdef _WIN32
  localtime_s(&local, &nowT);
#else
  localtime_r(&nowT, &local);
#endif
  bool summerNow = local.tm_isdst > 0;

  struct Case {
    int64_t t;
    int64_t lands;
  };
  // A time in the current period lands exactly; one in the other period
  // moves by the hour between the two offsets.
  const Case kCases[] = {
      {kJanuary, summerNow ? kJanuary - 3600 : kJanuary},
      {kJuly, summerNow ? kJuly : kJuly + 3600},
  };
  std::string p = track("timed.txt");
  ASSERT_TRUE(writeText(p, "t"));
  for (const Case& c : kCases) {
    MarlithHandle f;
    int kind = 0;
    ASSERT_TRUE(openForReadWriteWin32(X(p), false, f, &kind, nullptr));
    ASSERT_TRUE(f.setFileTime(FileTime(c.t), nullptr));
    f.close();
    ASSERT_TRUE(openForReadWin32(X(p), f, &kind, nullptr));
    uint64_t ft = 0;
    ASSERT_TRUE(f.getLastWriteTime(&ft, nullptr));
    EXPECT_EQ(0u, ft % kFileTimeTicksPerSecond);
    EXPECT_EQ(c.lands, FileTime::fromFileTime(ft).seconds()) << c.t;
  }
}

TEST_F(FileTest, DirectoryTimesAreSetExactly) {
  std::string dir = track("timed_dir");
  ASSERT_TRUE(createDirWin32(X(dir), nullptr));
  // A July time with a fraction of a second, set without any shift.
  const uint64_t kTime = FileTime(kJuly).toFileTime() + 1234500;
  ScopedTimeZone zone(kCentralEuropeTz);
  ASSERT_TRUE(setDirectoryTime(X(dir), kTime, nullptr));
  MarlithHandle* h = openDirForTimesWin32(X(dir), nullptr);
  ASSERT_NE(nullptr, h);
  uint64_t ft = 0;
  ASSERT_TRUE(h->getLastWriteTime(&ft, nullptr));
  delete h;
  EXPECT_EQ(kTime, ft);

  RecordingLog log;
  EXPECT_FALSE(setDirectoryTime(X(root_ + "\\none"), kTime, &log));
  EXPECT_TRUE(log.hasPrefix("WindowsError=")) << log.all();
}

// An extraction sets each directory's time from its entry, then fills it;
// the remembered times come back once everything is in place.
TEST_F(FileTest, RememberedDirectoryTimesComeBackAfterFilling) {
  const std::string dirs[] = {track("t"), track("t\\a"), track("t\\a\\b"),
                              track("t\\c")};
  const uint64_t kBase = FileTime(kJanuary).toFileTime();
  DirectoryTimes times;
  uint64_t set[4];
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(createDirWin32(X(dirs[i]), nullptr)) << dirs[i];
    set[i] = kBase + static_cast<uint64_t>(i) * 86400 * kFileTimeTicksPerSecond;
    ASSERT_TRUE(setDirectoryTime(X(dirs[i]), set[i], nullptr));
    times.remember(dirs[i].c_str());
  }
  times.remember((root_ + "\\missing").c_str());  // ignored
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(writeText(track(dirs[i].substr(root_.size() + 1) + "\\f"),
                          "x"));
  }
  auto timeOf = [](const std::string& dir) {
    MarlithHandle* h = openDirForTimesWin32(X(dir), nullptr);
    uint64_t ft = 0;
    if (h) h->getLastWriteTime(&ft, nullptr);
    delete h;
    return ft;
  };
  ASSERT_NE(set[0], timeOf(dirs[0]));  // the new files moved it
  times.restore();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(set[i], timeOf(dirs[i])) << dirs[i];
  // Restoring forgets: a second restore sets nothing.
  ASSERT_TRUE(writeText(track("t\\g"), "y"));
  times.restore();
  EXPECT_NE(set[0], timeOf(dirs[0]));
}

// ---- Directory queries and temporary names ----

TEST_F(FileTest, TempNamesFollowThePattern) {
  struct Case {
    const char* base;
    const char* pattern;
  };
  const Case kCases[] = {
      {"setup", "setup_[A-Z0-9]{4}\\.tmp"},
      {"data.bin", "data_[A-Z0-9]{4}\\.bin"},
      {"", "x_[A-Z0-9]{4}\\.tmp"},
      {"a.b.c", "a\\.b_[A-Z0-9]{4}\\.c"},
  };
  LogNull log;
  for (const Case& c : kCases) {
    XString out;
    ASSERT_TRUE(makeTempName(X(c.base), X(root_), out, log));
    std::string name = out.getUtf8();
    ASSERT_EQ(root_ + "\\", name.substr(0, root_.size() + 1)) << name;
    EXPECT_TRUE(
        std::regex_match(name.substr(root_.size() + 1), std::regex(c.pattern)))
        << name;
    EXPECT_FALSE(fileExists(out, nullptr));
  }

  // A directory given with its separator gets no second one.
  XString out;
  ASSERT_TRUE(makeTempName(X("f"), X(root_ + "\\"), out, log));
  EXPECT_EQ(root_ + "\\",
            std::string(out.getUtf8()).substr(0, root_.size() + 1));

  XString tmp, inTemp;
  getTempDir(tmp);
  ASSERT_TRUE(makeTempFilePath(X("setup"), inTemp, log));
  std::string t = tmp.getUtf8();
  std::replace(t.begin(), t.end(), '/', '\\');
  EXPECT_EQ(t, std::string(inTemp.getUtf8()).substr(0, t.size()));
}

TEST_F(FileTest, TempNameGivesUpWhenEveryCandidateSeemsToExist) {
  // Under a directory name Windows refuses (a wildcard) or one too long for
  // a POSIX file system, the attribute query fails with an error other than
  // "not found", which counts as existing.
#ifdef _WIN32
  const std::string kBadDir = root_ + "\\a*b";
#else
  const std::string kBadDir = root_ + "\\" + std::string(300, 'n');
#endif
  XString out = X("stale");
  RecordingLog log;
  EXPECT_FALSE(makeTempName(X("setup"), X(kBadDir), out, log));
  EXPECT_TRUE(out.isEmpty());
  EXPECT_TRUE(log.has("E:Failed to find an unused temporary file name."))
      << log.all();
}

TEST_F(FileTest, CurrentDirectoryRoundTripsAndModulePathExists) {
  XString before;
  getCurrentDir(before);
  ASSERT_FALSE(before.isEmpty());

  std::string dir = track(kCyrillic);
  ASSERT_TRUE(createDirWin32(X(dir), nullptr));
  ASSERT_TRUE(setCurrentDir(X(dir)));
  XString now;
  getCurrentDir(now);
  std::string expect = dir;
#ifndef _WIN32
  std::replace(expect.begin(), expect.end(), '\\', '/');
#endif
  EXPECT_EQ(expect, now.getUtf8());

  // A relative name now resolves inside it.
  std::string rel = track(kCyrillic + "\\rel.txt");
  ASSERT_TRUE(writeText("rel.txt", "here"));
  EXPECT_EQ("here", readText(rel));

  ASSERT_TRUE(setCurrentDir(before));
  EXPECT_FALSE(setCurrentDir(X(root_ + "\\not_there")));

  XString module;
  getModulePath(module);
  EXPECT_TRUE(fileExists(module, nullptr)) << module.getUtf8();
}

#ifdef _WIN32

std::wstring wide(const std::string& utf8) {
  XString x = X(utf8);
  return reinterpret_cast<const wchar_t*>(x.getUtf16());
}

TEST_F(FileTest, FileHeldWithoutSharingIsRetriedThenLogged) {
  std::string p = track("held.txt");
  ASSERT_TRUE(writeText(p, "held"));
  HANDLE held = CreateFileW(wide(p).c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);

  RecordingLog log;
  int kind = -1;
  DWORD start = GetTickCount();
  MarlithHandle* f = openForReadWin32(X(p), &kind, &log);
  DWORD elapsed = GetTickCount() - start;
  EXPECT_EQ(nullptr, f);
  EXPECT_EQ(kOpenErrorOther, kind);
  // Three waits of 50 ms (the tick moves in steps of 10 to 16 ms).
  EXPECT_GE(elapsed, 130u);
  EXPECT_TRUE(log.has("E:Failed to open file (2)")) << log.all();
  EXPECT_TRUE(log.hasPrefix("osErrorInfo=")) << log.all();

  // Released while the opener waits: a retry gets it.
  std::thread releaser([held]() {
    Sleep(70);
    CloseHandle(held);
  });
  RecordingLog later;
  MarlithHandle* g = openForReadWin32(X(p), &kind, &later);
  releaser.join();
  ASSERT_NE(nullptr, g) << later.all();
  EXPECT_EQ(kOpenErrorNone, kind);
  delete g;
}

TEST_F(FileTest, ExclusiveReadWriteRefusesOtherOpeners) {
  std::string p = track("exclusive.txt");
  MarlithHandle* mine = openForReadWriteWin32(X(p), true, nullptr, nullptr);
  ASSERT_NE(nullptr, mine);
  int kind = -1;
  EXPECT_EQ(nullptr, openForReadWin32(X(p), &kind, nullptr));
  delete mine;
  MarlithHandle* shared = openForReadWriteWin32(X(p), false, nullptr, nullptr);
  ASSERT_NE(nullptr, shared);
  MarlithHandle* reader = openForReadWin32(X(p), &kind, nullptr);
  EXPECT_NE(nullptr, reader);
  delete reader;
  delete shared;
}

// The Win32 layer repairs what Windows refuses in a name.
TEST_F(FileTest, DeviceNamesAreRepairedWhenWriting) {
  const char* kNames[] = {"CON.txt", "con", "Nul.log", "com1.dat"};
  for (const char* name : kNames) {
    std::string repaired = track(std::string("_") + name);
    MarlithHandle f;
    int kind = 0;
    ASSERT_TRUE(openForWriteWin32(X(root_ + "\\" + name), f, &kind, nullptr))
        << name;
    ASSERT_TRUE(f.write("kept", 4, nullptr, nullptr));
    f.close();
    EXPECT_EQ("kept", readText(repaired)) << name;
  }
}

TEST_F(FileTest, HiddenWriteSetsTheHiddenAttribute) {
  std::string p = track("hidden.txt");
  MarlithHandle* f = openForWriteHiddenWin32(X(p), nullptr, nullptr);
  ASSERT_NE(nullptr, f);
  delete f;
  EXPECT_TRUE(attributesOf(p) & kFileAttributeHidden);
}

#endif  // _WIN32

}  // namespace
}  // namespace sfx
