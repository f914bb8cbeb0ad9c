#include "app/fresh_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "text/ext_ptr_array.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace {

namespace stdfs = std::filesystem;

// The candidates the fake generator hands out, in order.
std::vector<std::string> g_names;
size_t g_next = 0;

bool drawFromList(XString& out) {
  if (g_next >= g_names.size()) return false;
  out.setFromUtf8(g_names[g_next++].c_str());
  return true;
}

class FreshDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ =
        stdfs::temp_directory_path() /
        ("fresh_dir_test_" +
         std::string(
             ::testing::UnitTest::GetInstance()->current_test_info()->name()));
    stdfs::remove_all(root_);
    ASSERT_TRUE(stdfs::create_directories(root_));
    undo_.setOwnsObjects(true);
    g_names.clear();
    g_next = 0;
  }
  void TearDown() override {
    std::error_code ec;
    stdfs::remove_all(root_, ec);
  }
  std::string at(const std::string& rel) const {
    return root_.generic_string() + "/" + rel;
  }

  stdfs::path root_;
  ExtPtrArray undo_;
};

TEST_F(FreshDirTest, ADirectoryThatExistsIsPassedOver) {
  // Someone else's qz_AAAA exists (with a file in it): the next name is
  // drawn, created and recorded for removal.
  stdfs::create_directories(at("qz_AAAA"));
  g_names = {at("qz_AAAA.tmp"), at("qz_BBBB.tmp")};
  StringBuffer dir;
  ASSERT_TRUE(createFreshTempDir(drawFromList, false, undo_, dir));
  EXPECT_EQ(at("qz_BBBB"), std::string(dir.getString()));
  EXPECT_TRUE(stdfs::is_directory(at("qz_BBBB")));
  ASSERT_EQ(1, undo_.getSize());
  std::string entry = undo_.elementAtAs<StringBuffer>(0)->getString();
  EXPECT_EQ('D', entry.back());
  EXPECT_NE(std::string::npos, entry.find("qz_BBBB"));
}

TEST_F(FreshDirTest, DryRunCreatesNothing) {
  g_names = {at("qz_CCCC.tmp")};
  StringBuffer dir;
  ASSERT_TRUE(createFreshTempDir(drawFromList, true, undo_, dir));
  EXPECT_EQ(at("qz_CCCC"), std::string(dir.getString()));
  EXPECT_FALSE(stdfs::exists(at("qz_CCCC")));
  EXPECT_EQ(0, undo_.getSize());
}

TEST_F(FreshDirTest, GivesUpWhenEveryNameIsTaken) {
  stdfs::create_directories(at("qz_TAKEN"));
  g_names.assign(kMaxFreshDirAttempts + 5, at("qz_TAKEN.tmp"));
  StringBuffer dir;
  EXPECT_FALSE(createFreshTempDir(drawFromList, false, undo_, dir));
  EXPECT_EQ(static_cast<size_t>(kMaxFreshDirAttempts), g_next);
  EXPECT_EQ(0, undo_.getSize());
}

TEST_F(FreshDirTest, FailedCreationFails) {
  // The parent is a file, so the directory cannot be made.
  {
    FILE* f = fopen(at("file").c_str(), "wb");
    if (f) fclose(f);
  }
  g_names = {at("file/qz_DDDD.tmp")};
  StringBuffer dir;
  EXPECT_FALSE(createFreshTempDir(drawFromList, false, undo_, dir));
  EXPECT_EQ(at("file/qz_DDDD"), std::string(dir.getString()));
}

TEST_F(FreshDirTest, TheShownNameIsKeptWhileFreeAndReplacedOnceTaken) {
  struct Case {
    const char* what;
    bool planted;  // the shown directory appeared before Unzip
    bool dryRun;
    const char* chosen;
    size_t drawn;
  };
  const Case kCases[] = {
      {"free: kept and created", false, false, "qz_SHOW", 0},
      {"planted: another drawn", true, false, "qz_NEXT", 1},
      {"debug run, free", false, true, "qz_SHOW", 0},
      {"debug run, planted", true, true, "qz_NEXT", 1},
  };
  for (const Case& c : kCases) {
    TearDown();
    SetUp();
    if (c.planted) stdfs::create_directories(at("qz_SHOW"));
    g_names = {at("qz_NEXT.tmp")};
    ExtPtrArray undo;
    undo.setOwnsObjects(true);
    StringBuffer dir;
    ASSERT_TRUE(createFreshTempDir(drawFromList, c.dryRun, undo, dir,
                                   at("qz_SHOW").c_str()))
        << c.what;
    EXPECT_EQ(at(c.chosen), std::string(dir.getString())) << c.what;
    EXPECT_EQ(c.drawn, g_next) << c.what;
    // Only a run that creates the directory records it; a planted one is
    // never taken over, so it is never recorded for removal either.
    EXPECT_EQ(c.dryRun ? 0 : 1, undo.getSize()) << c.what;
    if (!c.dryRun) {
      std::string entry = undo.elementAtAs<StringBuffer>(0)->getString();
      EXPECT_NE(std::string::npos, entry.find(c.chosen)) << c.what;
    }
    if (c.planted) {
      EXPECT_TRUE(stdfs::is_empty(at("qz_SHOW"))) << c.what;
    }
  }
}

TEST_F(FreshDirTest, TheRunsGeneratorGivesQzNames) {
  XString name;
  ASSERT_TRUE(drawQzTempName(name));
  std::string s = name.getUtf8();
  size_t slash = s.find_last_of("\\/");
  std::string file = s.substr(slash == std::string::npos ? 0 : slash + 1);
  EXPECT_EQ(0u, file.find("qz_")) << s;
  EXPECT_EQ(".tmp", file.substr(file.size() - 4)) << s;
}

}  // namespace
}  // namespace sfx
