// The fixture of the file and directory tests (file_test.cpp,
// file_dir_test.cpp): real files in a fresh temporary directory, and the
// names and times the tests share. The same contract holds natively (the
// POSIX twin) and in the Win32 build under Wine.
#ifndef SFX_FS_FILE_TEST_FIXTURE_H_
#define SFX_FS_FILE_TEST_FIXTURE_H_

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

// Cyrillic, CJK and a character outside the BMP (U+1F600).
inline const std::string kCyrillic =
    "\xD0\x96\xD1\x91\xD0\xBB\xD1\x82\xD1\x8B\xD0\xB9";
inline const std::string kCjk = "\xE4\xB8\xAD\xE6\x96\x87";
inline const std::string kEmoji = "\xF0\x9F\x98\x80";

// 2026-01-15 12:00 UTC and 2026-07-15 12:00 UTC.
inline constexpr int64_t kJanuary = 1768478400;
inline constexpr int64_t kJuly = 1784116800;

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

}  // namespace sfx

#endif  // SFX_FS_FILE_TEST_FIXTURE_H_
