#include "app/undo_list.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "text/ext_ptr_array.h"
#include "text/string_buffer.h"

namespace sfx {
namespace {

namespace stdfs = std::filesystem;

std::string g_runLog;

void captureLog(const char* format, ...) {
  char line[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  g_runLog += line;
}

class UndoListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_runLog.clear();
    list_.setOwnsObjects(true);
    root_ = stdfs::temp_directory_path() /
            ("undo_test_" + std::to_string(counter_++) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    stdfs::remove_all(root_);
    ASSERT_TRUE(stdfs::create_directories(root_));
  }
  void TearDown() override {
    std::error_code ec;
    stdfs::remove_all(root_, ec);
  }

  // The path of `rel` under the test directory, with "/" separators.
  std::string at(const std::string& rel) const {
    return root_.generic_string() + "/" + rel;
  }
  void makeFile(const std::string& rel) { std::ofstream(at(rel)) << "x"; }
  void add(const std::string& rel, char type) {
    ASSERT_TRUE(appendUndoEntry(list_, at(rel).c_str(), type));
  }

  static int counter_;
  stdfs::path root_;
  ExtPtrArray list_;
};

int UndoListTest::counter_ = 0;

TEST_F(UndoListTest, EntriesAreThePathAndTheTypeLetter) {
  add("a.txt", kUndoFile);
  add("d", kUndoDir);
  ASSERT_EQ(2, list_.getSize());
  EXPECT_EQ(at("a.txt") + "F", list_.elementAtAs<StringBuffer>(0)->getString());
  EXPECT_EQ(at("d") + "D", list_.elementAtAs<StringBuffer>(1)->getString());
}

TEST_F(UndoListTest, DeletesNewestFirstSoDirectoriesEmptyBeforeRemoval) {
  // Creation order: dir, dir/sub, a file in each; undone in reverse.
  stdfs::create_directories(at("dir/sub"));
  makeFile("dir/one.txt");
  makeFile("dir/sub/two.txt");
  add("dir", kUndoDir);
  add("dir/sub", kUndoDir);
  add("dir/one.txt", kUndoFile);
  add("dir/sub/two.txt", kUndoFile);
  processUndoList(list_, true, captureLog);
  EXPECT_EQ(0, list_.getSize());
  EXPECT_FALSE(stdfs::exists(at("dir")));
  std::string expected = "processing undo list...\r\n";
  expected += "(deleteFile) " + at("dir/sub/two.txt") + "\r\n";
  expected += "(deleteFile) " + at("dir/one.txt") + "\r\n";
  expected += "(deleteDir) " + at("dir/sub") + "\r\n";
  expected += "(deleteDir) " + at("dir") + "\r\n";
  EXPECT_EQ(expected, g_runLog);
}

TEST_F(UndoListTest, DirectoryPathsAreLoggedWithForwardSlashes) {
  stdfs::create_directories(at("w"));
  std::string winStyle = at("w");
  for (char& c : winStyle)
    if (c == '/') c = '\\';
  ASSERT_TRUE(appendUndoEntry(list_, winStyle.c_str(), kUndoDir));
  processUndoList(list_, true, captureLog);
  EXPECT_FALSE(stdfs::exists(at("w")));
  EXPECT_NE(std::string::npos, g_runLog.find("(deleteDir) " + at("w") + "\r\n"))
      << g_runLog;
}

TEST_F(UndoListTest, NonEmptyDirectoryStaysAndTheLoopGoesOn) {
  // A directory with a file the list does not know stays; an older entry
  // is still processed after that failure.
  stdfs::create_directories(at("kept"));
  makeFile("kept/foreign.txt");
  makeFile("old.txt");
  add("old.txt", kUndoFile);
  add("kept", kUndoDir);
  processUndoList(list_, true, captureLog);
  EXPECT_TRUE(stdfs::exists(at("kept/foreign.txt")));
  EXPECT_FALSE(stdfs::exists(at("old.txt")));
  EXPECT_NE(std::string::npos,
            g_runLog.find("(failedToDelete) " + at("kept") + "\r\n"))
      << g_runLog;
  EXPECT_EQ(0, list_.getSize());
}

TEST_F(UndoListTest, QuietUnlessVerboseAndSilentWithoutLog) {
  makeFile("a.txt");
  add("a.txt", kUndoFile);
  add("missing-dir", kUndoDir);
  processUndoList(list_, false, captureLog);
  EXPECT_EQ("processing undo list...\r\n", g_runLog);
  EXPECT_FALSE(stdfs::exists(at("a.txt")));

  makeFile("b.txt");
  add("b.txt", kUndoFile);
  processUndoList(list_, true, nullptr);
  EXPECT_FALSE(stdfs::exists(at("b.txt")));
  EXPECT_EQ(0, list_.getSize());
}

TEST_F(UndoListTest, AnyLetterOtherThanFIsADirectory) {
  stdfs::create_directories(at("x"));
  add("x", 'Q');
  processUndoList(list_, false, nullptr);
  EXPECT_FALSE(stdfs::exists(at("x")));
}

#ifdef _WIN32
TEST_F(UndoListTest, FileInUseStaysAndSoDoesItsDirectory) {
  stdfs::create_directories(at("d"));
  makeFile("d/held.txt");
  add("d", kUndoDir);
  add("d/held.txt", kUndoFile);
  HANDLE h = CreateFileW(stdfs::path(at("d/held.txt")).wstring().c_str(),
                         GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  processUndoList(list_, true, captureLog);
  CloseHandle(h);
  EXPECT_TRUE(stdfs::exists(at("d/held.txt")));
  EXPECT_NE(std::string::npos,
            g_runLog.find("(failedToDelete) " + at("d/held.txt") + "\r\n"))
      << g_runLog;
  EXPECT_NE(std::string::npos,
            g_runLog.find("(failedToDelete) " + at("d") + "\r\n"))
      << g_runLog;
}
#endif

// A folder still in use for a moment: here one that is not yet empty. The
// retries wait and try again until it goes, or the budget is spent.
std::string g_releaseWhat;
int g_sleeps = 0;
int g_releaseAfter = 0;
void fakeSleep(uint32_t) {
  ++g_sleeps;
  if (g_sleeps == g_releaseAfter) stdfs::remove(g_releaseWhat);
}

TEST_F(UndoListTest, RetriesAFolderInUseWithinTheBudget) {
  struct Case {
    int releaseAfter;  // the sleep after which the folder can go (0: never)
    bool gone;
    int sleeps;  // sleeps taken: the budget is 1000 ms in steps of 250
  } cases[] = {{2, true, 2}, {0, false, 4}, {4, true, 4}, {5, false, 4}};
  for (const Case& c : cases) {
    g_runLog.clear();
    stdfs::create_directories(at("busy"));
    makeFile("busy/left.txt");
    add("busy", kUndoDir);
    g_releaseWhat = at("busy/left.txt");
    g_sleeps = 0;
    g_releaseAfter = c.releaseAfter;
    UndoRetry retry = {1000, 250, fakeSleep};
    processUndoList(list_, false, captureLog, &retry);
    EXPECT_EQ(c.gone, !stdfs::exists(at("busy"))) << c.releaseAfter;
    EXPECT_EQ(c.sleeps, g_sleeps) << c.releaseAfter;
    size_t lines = 0;
    for (size_t at = 0; (at = g_runLog.find("(retryDelete) ", at)) != std::string::npos; ++at)
      ++lines;
    EXPECT_EQ(static_cast<size_t>(c.sleeps), lines) << g_runLog;
    std::error_code ec;
    stdfs::remove_all(root_ / "busy", ec);
  }
  // Without a retry, one attempt only.
  stdfs::create_directories(at("busy"));
  makeFile("busy/left.txt");
  add("busy", kUndoDir);
  g_sleeps = 0;
  processUndoList(list_, false, captureLog);
  EXPECT_EQ(0, g_sleeps);
  EXPECT_TRUE(stdfs::exists(at("busy")));
}

}  // namespace
}  // namespace sfx
