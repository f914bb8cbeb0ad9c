// The file operations on real files (fs/file_test_fixture.h): the handle,
// opening and creating. Win32-only behaviour sits inside #ifdef _WIN32.
#include "fs/file_test_fixture.h"

namespace sfx {
namespace {

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

TEST_F(FileTest, OpenNewCreatesOnlyWhereNothingIsThere) {
  std::string fresh = track("new.txt");
  std::string existing = track("old.txt");
  std::string dir = track("adir");
  ASSERT_TRUE(writeText(existing, "keep"));
  ASSERT_TRUE(createDirWin32(X(dir), nullptr));
  struct Case {
    std::string path;
    bool created;
  } cases[] = {
      {fresh, true},
      {existing, false},  // left whole: the caller takes the usual way
      {dir, false},
      {root_ + "\\missing\\x.txt", false},  // no folder is made
  };
  for (const Case& c : cases) {
    MarlithHandle h;
    EXPECT_EQ(c.created, openNewForWriteWin32(X(c.path), false, h)) << c.path;
    EXPECT_EQ(c.created, h.isOpen()) << c.path;
    if (h.isOpen()) {
      EXPECT_TRUE(h.write("abc", 3, nullptr, nullptr));
    }
  }
  EXPECT_EQ("abc", readText(fresh));
  EXPECT_EQ("keep", readText(existing));
  EXPECT_EQ(kInvalidFileAttributes, attributesOf(root_ + "\\missing"));
#ifdef _WIN32
  std::string hidden = track("hidden.txt");
  {
    MarlithHandle h;
    ASSERT_TRUE(openNewForWriteWin32(X(hidden), true, h));
  }
  EXPECT_TRUE(attributesOf(hidden) & kFileAttributeHidden);
#else
  // A link in the file's place, even one to nothing, is not followed.
  std::string link = track("link.txt");
  std::string target = track("target.txt");
  std::string nativeLink = link, nativeTarget = target;
  std::replace(nativeLink.begin(), nativeLink.end(), '\\', '/');
  std::replace(nativeTarget.begin(), nativeTarget.end(), '\\', '/');
  ASSERT_EQ(0, symlink(nativeTarget.c_str(), nativeLink.c_str()));
  MarlithHandle h;
  EXPECT_FALSE(openNewForWriteWin32(X(link), false, h));
  EXPECT_EQ(kInvalidFileAttributes, attributesOf(target));
  unlink(nativeLink.c_str());
#endif
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

}  // namespace
}  // namespace sfx
