// Leaving files out: the shell-style patterns on stored paths, the forms of
// a pattern (any depth, from the top, folders only), files of patterns, and
// that the scan neither stores nor walks what is left out.
#include "pack/exclude.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "pack/packer.h"

namespace sfxpack {
namespace {

TEST(Exclude, PatternMatching) {
  const struct {
    const char* pattern;
    const char* text;
    bool match;
  } kCases[] = {
      {"*.log", "a.log", true},
      {"*.log", "a.log.txt", false},
      {"*.log", ".log", true},
      {"*", "", true},
      {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},
      {"*a", "aaaa", true},  // backtracking
      {"?.txt", "a.txt", true},
      {"?.txt", "ab.txt", false},
      {"[abc].txt", "b.txt", true},
      {"[abc].txt", "d.txt", false},
      {"[!abc].txt", "d.txt", true},
      {"[!abc].txt", "a.txt", false},
      {"[a-c]x", "bx", true},
      {"[a-c]x", "dx", false},
      {"[]]x", "]x", true},
      {"\\*x", "*x", true},
      {"\\*x", "ax", false},
      {"*.o", "dir/a.o", false},  // '*' stays within a name
      {"dir/*.o", "dir/a.o", true},
      {"dir/*.o", "dir/sub/a.o", false},
      {"d?r/a", "d/r/a", false},  // '?' is not '/'
      {"**/*.o", "a.o", true},    // ** as zero names
      {"**/*.o", "x/y/z/a.o", true},
      {"dir/**", "dir/a/b", true},
      {"dir/**", "dir", true},
      {"dir/**", "dirt/a", false},
      {"a/**/b", "a/b", true},
      {"a/**/b", "a/x/y/b", true},
      {"a/**/b", "a/x/y/c", false},
      {"**", "any/depth/at/all", true},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(matchPattern(c.pattern, c.text), c.match)
        << "'" << c.pattern << "' on '" << c.text << "'";
  }
}

TEST(Exclude, PatternForms) {
  ExcludeList list;
  std::string error;
  ASSERT_TRUE(list.add("*.tmp", &error));      // last name, any depth
  ASSERT_TRUE(list.add("build/", &error));     // folders only, any depth
  ASSERT_TRUE(list.add("/docs/*.md", &error)); // from the top
  ASSERT_TRUE(list.add("src/**/gen", &error));
  const struct {
    const char* path;
    bool isDirectory;
    const char* by;  // the pattern that matches, or nullptr
  } kCases[] = {
      {"a.tmp", false, "*.tmp"},
      {"x/y/a.tmp", false, "*.tmp"},
      {"x/y/a.tmp.keep", false, nullptr},
      {"build", true, "build/"},
      {"x/build", true, "build/"},
      {"build", false, nullptr},  // a file named build stays
      {"docs/a.md", false, "/docs/*.md"},
      {"x/docs/a.md", false, nullptr},
      {"src/gen", true, "src/**/gen"},
      {"src/a/b/gen", false, "src/**/gen"},
      {"other/gen", false, nullptr},
  };
  for (const auto& c : kCases) {
    const std::string* by = list.match(c.path, c.isDirectory);
    if (c.by) {
      ASSERT_NE(by, nullptr) << c.path;
      EXPECT_EQ(*by, c.by) << c.path;
    } else {
      EXPECT_EQ(by, nullptr) << c.path << " left out by " << *by;
    }
  }
}

TEST(Exclude, BadPatternsAndFiles) {
  ExcludeList list;
  std::string error;
  EXPECT_FALSE(list.add("", &error));
  EXPECT_FALSE(list.add("/", &error));
  EXPECT_FALSE(list.add("a[bc", &error));
  EXPECT_NE(error.find("unclosed"), std::string::npos) << error;
  EXPECT_TRUE(list.empty());

  char dir[] = "/tmp/sfxpack_exclude_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string file = std::string(dir) + "/patterns";
  std::ofstream(file) << "# comment\n\n*.bak\r\nlogs/\n";
  EXPECT_TRUE(list.addFile(file, &error)) << error;
  EXPECT_NE(list.match("a/b.bak", false), nullptr);  // "\r" dropped
  EXPECT_NE(list.match("logs", true), nullptr);
  EXPECT_EQ(list.match("# comment", false), nullptr);
  std::ofstream(file) << "ok\n[bad\n";
  EXPECT_FALSE(list.addFile(file, &error));
  EXPECT_NE(error.find(file), std::string::npos) << error;
  EXPECT_FALSE(list.addFile(std::string(dir) + "/missing", &error));
  unlink(file.c_str());
  rmdir(dir);
}

// The scan asks about each path once, stores nothing below a folder left
// out and never lists that folder.
TEST(Exclude, ScanLeavesOutAndDoesNotWalk) {
  char dir[] = "/tmp/sfxpack_exclude_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string root = dir;
  for (const char* d : {"/keep", "/skip", "/skip/deeper"})
    ASSERT_EQ(mkdir((root + d).c_str(), 0755), 0);
  for (const char* f : {"/a.txt", "/b.log", "/keep/c.log", "/keep/d.txt",
                        "/skip/e.txt"})
    std::ofstream(root + f) << "x";
  ExcludeList list;
  std::string error;
  ASSERT_TRUE(list.add("*.log", &error));
  ASSERT_TRUE(list.add("skip/", &error));
  std::vector<std::string> asked;
  PackOptions opts;
  opts.inputs = {root, root + "/b.log"};
  opts.exclude = [&](const std::string& path, bool isDirectory) {
    asked.push_back(path);
    return list.match(path, isDirectory) != nullptr;
  };
  PackPlan plan;
  std::vector<std::string> notes;
  ASSERT_TRUE(scanInputs(opts, &plan, &notes, &error)) << error;
  std::vector<std::string> stored;
  for (size_t i = 0; i < plan.entries.size(); ++i)
    stored.push_back(storedPath(plan.names, i));
  EXPECT_EQ(stored, (std::vector<std::string>{"a.txt", "keep", "keep/d.txt"}));
  EXPECT_EQ(asked, (std::vector<std::string>{"a.txt", "b.log", "keep",
                                             "keep/c.log", "keep/d.txt",
                                             "skip", "b.log"}));
  EXPECT_EQ(plan.totalBytes, 2u);
  std::system(("rm -rf '" + root + "'").c_str());
}

}  // namespace
}  // namespace sfxpack
