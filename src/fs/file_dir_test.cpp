// The directory operations on real files (fs/file_test_fixture.h):
// attributes, existence, deletion, ensureDir and ensureFile, long and
// foreign names, times, directory queries and temporary names.
// Win32-only behaviour (share modes, the hidden attribute, missing
// drives) sits inside #ifdef _WIN32.
#include "fs/file_test_fixture.h"

namespace sfx {
namespace {

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

TEST_F(FileTest, CreateDirIfMissingTellsWhatItMadeAndLogsOnlyFailures) {
  std::string made = track("made");
  std::string there = track("there");
  std::string file = track("file.txt");
  ASSERT_TRUE(createDirWin32(X(there), nullptr));
  ASSERT_TRUE(writeText(file, "x"));
  struct Case {
    std::string path;
    bool ok, created;
  } cases[] = {
      {made, true, true},    // new: made at once
      {there, true, false},  // an existing folder
      {file, true, false},   // an existing file counts as existing
      {root_ + "\\missing\\leaf", false, false},  // no parent
  };
  for (const Case& c : cases) {
    RecordingLog log;
    bool created = true;
    EXPECT_EQ(c.ok, createDirIfMissing(X(c.path), &created, &log)) << c.path;
    EXPECT_EQ(c.created, created) << c.path;
    // Only the failure is logged, once, in the context of the call.
    EXPECT_EQ(c.ok ? 0 : 1,
              std::count(log.lines.begin(), log.lines.end(), "[createDirWin32"))
        << c.path << ": " << log.all();
  }
  EXPECT_TRUE(attributesOf(made) & kFileAttributeDirectory);
  EXPECT_EQ(kInvalidFileAttributes, attributesOf(root_ + "\\missing"));
}

// A folder removed behind the file operations' back, so that only a call to
// the system could tell it is gone.
bool removeBehindTheBack(const std::string& path) {
#ifdef _WIN32
  XString x = X(path);
  return RemoveDirectoryW(reinterpret_cast<const wchar_t*>(x.getUtf16())) != 0;
#else
  std::string native = path;
  std::replace(native.begin(), native.end(), '\\', '/');
  return rmdir(native.c_str()) == 0;
#endif
}

TEST_F(FileTest, KnownFoldersAreAskedAboutOnceAndForgottenOnRemoval) {
  std::string dir = track("known");
  std::string sub = track("known\\sub");
  std::string other = track("other");
  ExtPtrArray undo;
  undo.setOwnsObjects(true);
  LogNull log;
  {
    KnownFolders known;
    KnownFolders second;  // one at a time: this one does nothing
    XString part;
    ASSERT_TRUE(ensureFile(X(sub + "\\f0.txt"), &part, &undo, log));
    size_t folders = known.size();
    EXPECT_GE(folders, 2u);
    EXPECT_EQ(0u, second.size());
    // More files in the same folder add nothing.
    for (int i = 1; i < 20; ++i) {
      ASSERT_TRUE(ensureFile(X(sub + "\\f" + std::to_string(i) + ".txt"),
                             &part, &undo, log));
    }
    EXPECT_EQ(folders, known.size());
    EXPECT_EQ((std::vector<std::string>{dir + "D", sub + "D"}),
              undoLines(undo));

    // A known folder is not asked about: gone behind the back, it is still
    // taken as there.
    ASSERT_TRUE(removeBehindTheBack(sub));
    EXPECT_TRUE(ensureDir(X(sub), &undo, log));
    EXPECT_EQ(kInvalidFileAttributes, attributesOf(sub));

    // removeDirectory forgets every folder: the next ensureDir makes it
    // again and records it.
    ASSERT_TRUE(createDirWin32(X(other), nullptr));
    ASSERT_TRUE(removeDirectory(X(other), nullptr));
    EXPECT_EQ(0u, known.size());
    ASSERT_TRUE(ensureDir(X(sub), &undo, log));
    EXPECT_TRUE(attributesOf(sub) & kFileAttributeDirectory);
    EXPECT_EQ((std::vector<std::string>{dir + "D", sub + "D", sub + "D"}),
              undoLines(undo));
  }
  // Without one, every call asks the system.
  ASSERT_TRUE(removeBehindTheBack(sub));
  ASSERT_TRUE(ensureDir(X(sub), nullptr, log));
  EXPECT_TRUE(attributesOf(sub) & kFileAttributeDirectory);
  KnownFolders later;  // the first has ended: this one is in use
  ASSERT_TRUE(ensureDir(X(sub), nullptr, log));
  EXPECT_EQ(1u, later.size());  // the folder, found at once
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
