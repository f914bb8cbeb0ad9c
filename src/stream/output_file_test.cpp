// OutputFile on real files: positions and sizes across seeks, starting the
// file over, and setting times through the handle or the path.
#include "stream/output_file.h"

#include <gtest/gtest.h>

#include <string>

#include "fs/file.h"
#include "fs/file_time.h"
#include "fs/fs_test_util.h"
#include "fs/tz_for_test.h"
#include "log/log_base.h"

namespace sfx {
namespace {

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LogNull log;
    XString tmp;
    getTempDir(tmp);
    XString path;
    ASSERT_TRUE(makeTempName(X("outfile"), tmp, path, log));
    path_ = path.getUtf8();
  }
  void TearDown() override { deleteFile(X(path_), nullptr); }

  // A new OutputFile over a fresh read-write handle on path_.
  OutputFile* open() {
    MarlithHandle h;
    int kind = 0;
    if (!openForReadWriteWin32(X(path_), false, h, &kind, nullptr))
      return nullptr;
    return new OutputFile(path_.c_str(), h);
  }

  std::string contents() const {
    MarlithHandle h;
    int kind = 0;
    if (!openForReadWin32(X(path_), h, &kind, nullptr)) return "<none>";
    int64_t size = h.getFileSize64(nullptr);
    std::string s(static_cast<size_t>(size), '\0');
    uint32_t got = 0;
    bool eof = false;
    if (size > 0) h.readFull(&s[0], static_cast<uint32_t>(size), &got, &eof,
                             nullptr);
    return s;
  }

  std::string path_;
};

TEST_F(OutputFileTest, SeekingBackKeepsTheSizeAndMovesThePosition) {
  OutputFile* out = open();
  ASSERT_NE(nullptr, out);
  LogNull log;
  std::string first(1000, 'a');
  ASSERT_TRUE(out->writeBytesPM(first.data(), 1000, nullptr, log));
  ASSERT_TRUE(out->seekAbsolute(0, log));
  ASSERT_TRUE(out->writeBytesPM("0123456789", 10, nullptr, log));
  EXPECT_EQ(1000u, out->size());
  EXPECT_EQ(10u, out->getPosition());
  EXPECT_EQ(1010u, out->bytesWritten());
  // The end is the highest position reached, on disk as in the object.
  ASSERT_TRUE(out->seekToEnd(log));
  EXPECT_EQ(1000u, out->getPosition());
  ASSERT_TRUE(out->writeBytesPM("z", 1, nullptr, log));
  EXPECT_EQ(1001u, out->size());
  delete out;
  EXPECT_EQ("0123456789" + std::string(990, 'a') + "z", contents());
}

TEST_F(OutputFileTest, ResetStartsTheFileOver) {
  OutputFile* out = open();
  ASSERT_NE(nullptr, out);
  LogNull log;
  ASSERT_TRUE(out->writeBytesPM("old contents", 12, nullptr, log));
  ASSERT_TRUE(out->resetOutput(log));
  EXPECT_EQ(0u, out->getPosition());
  EXPECT_EQ(0u, out->size());
  EXPECT_EQ(0u, out->bytesWritten());
  ASSERT_TRUE(out->isOpen());
  ASSERT_TRUE(out->writeBytesPM("new", 3, nullptr, log));
  delete out;
  EXPECT_EQ("new", contents());
}

TEST_F(OutputFileTest, ResetAfterSeekingBackToTheStartDropsTheOldBytes) {
  // Position 0 with bytes written: a shorter rewrite after the reset must
  // not leave the tail of the first attempt behind.
  OutputFile* out = open();
  ASSERT_NE(nullptr, out);
  LogNull log;
  ASSERT_TRUE(out->writeBytesPM("first attempt", 13, nullptr, log));
  ASSERT_TRUE(out->seekAbsolute(0, log));
  ASSERT_TRUE(out->resetOutput(log));
  ASSERT_TRUE(out->writeBytesPM("second", 6, nullptr, log));
  delete out;
  EXPECT_EQ("second", contents());
}

TEST_F(OutputFileTest, TimesAreSetThroughTheHandleOrThePath) {
  ScopedTimeZone zone("UTC0");  // no daylight shift
  const int64_t kJanuary = 1768478400;  // 2026-01-15 12:00 UTC
  struct Case {
    const char* what;
    bool closeFirst;
    int64_t t;
  };
  const Case kCases[] = {{"open handle", false, kJanuary},
                         {"closed: through the path", true, kJanuary + 61}};
  for (const Case& c : kCases) {
    OutputFile* out = open();
    ASSERT_NE(nullptr, out) << c.what;
    LogNull log;
    ASSERT_TRUE(out->writeBytesPM("t", 1, nullptr, log));
    if (c.closeFirst) out->close();
    RecordingLog timeLog;
    ASSERT_TRUE(out->setFileTime(FileTime(c.t), &timeLog))
        << c.what << "\n" << timeLog.all();
    delete out;
    MarlithHandle h;
    int kind = 0;
    ASSERT_TRUE(openForReadWin32(X(path_), h, &kind, nullptr));
    uint64_t ft = 0;
    ASSERT_TRUE(h.getLastWriteTime(&ft, nullptr));
    EXPECT_EQ(c.t, FileTime::fromFileTime(ft).seconds()) << c.what;
  }

  // Closed and without a path: nothing to set, and it says so.
  MarlithHandle none;
  OutputFile nameless("", none);
  RecordingLog log;
  EXPECT_FALSE(nameless.setFileTime(FileTime(kJanuary), &log));
  EXPECT_TRUE(
      log.has("E:Cannot set file time because output file path is empty. (1a)"))
      << log.all();
}

}  // namespace
}  // namespace sfx
