// Names a Windows system can hold: the checks of one component, the
// renaming and its agreement with the stub's own repair, and collisions
// between siblings under case folding.
#include "pack/name_check.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "fs/path_rules.h"
#include "text/xstring.h"

namespace sfxpack {
namespace {

TEST(NameCheck, ComponentProblems) {
  const struct {
    std::string name;
    unsigned problems;
  } kCases[] = {
      {"plain.txt", 0},
      {"Grüße 世界 🙂.txt", 0},
      {".profile", 0},
      {"a:b.txt", kForbiddenChar},
      {"back\\slash.txt", kForbiddenChar},
      {"q?.txt", kForbiddenChar},
      {"<>|*\"", kForbiddenChar},
      {"new\nline", kControlChar},
      {"tab\there", kControlChar},
      {std::string("bell\x07", 5), kControlChar},
      {"dot.", kTrailingDotSpace},
      {"space ", kTrailingDotSpace},
      {"..", kTrailingDotSpace},
      {"CON", kDeviceName},
      {"con.txt", kDeviceName},
      {"Nul.tar.gz", kDeviceName},
      {"com1", kDeviceName},
      {"LPT9.log", kDeviceName},
      {"COM\xC2\xB9.txt", kDeviceName},
      {"clock$", kDeviceName},
      {"CONOUT$.txt", kDeviceName},
      {"console.txt", 0},
      {"com10.txt", 0},
      {"lpt.txt", 0},
      {"xcon.txt", 0},
      {"CON.", kDeviceName | kTrailingDotSpace},
      {std::string("bad\xff.txt"), kNotUtf8},
      {std::string("overlong\xc0\xaf"), kNotUtf8},
      {std::string("surrogate\xed\xa0\x80"), kNotUtf8},
      // The rest of what the stub's converter refuses as UTF-8.
      {std::string("overlong3\xe0\x80\xaf"), kNotUtf8},
      {std::string("overlong4\xf0\x80\x80\xaf"), kNotUtf8},
      {std::string("beyond\xf4\x90\x80\x80"), kNotUtf8},
      {std::string("lead\xf5\x80\x80\x80"), kNotUtf8},
      {std::string("stray\x80"), kNotUtf8},
      {std::string("cut\xe2\x82"), kNotUtf8},
      {std::string("cut\xe2\x82.txt"), kNotUtf8},
      {std::string("last\xf4\x8f\xbf\xbf"), 0},  // U+10FFFF
      {std::string(255, 'a'), 0},
      {std::string(256, 'a'), kTooLong},
      // 128 characters outside the BMP: 256 UTF-16 units in 512 bytes.
      {[] {
         std::string s;
         for (int i = 0; i < 128; ++i) s += "\xF0\x9F\x99\x82";
         return s;
       }(),
       kTooLong},
      // 255 two-byte characters: 510 bytes but 255 units, allowed.
      {[] {
         std::string s;
         for (int i = 0; i < 255; ++i) s += "\xC3\xA9";
         return s;
       }(),
       0},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.problems, componentProblems(c.name)) << printableName(c.name);
  }
}

// Each repair ends in a name without problems, and where the stub repairs a
// name itself (refused characters, CR and LF, device names) the packer's
// result is the stub's, so the stub creates what the packer reported.
TEST(NameCheck, RepairMatchesTheStubAndLeavesNoProblem) {
  const struct {
    std::string name, repaired;
    bool stubRepairsAlike;
  } kCases[] = {
      {"a:b.txt", "a_b.txt", true},
      {"w<h>a|t?*\".txt", "w_h_a_t___.txt", true},
      {"new\nline\r.txt", "newline.txt", true},
      {"CON.txt", "_CON.txt", true},
      {"nul", "_nul", true},
      {"com7.log", "_com7.log", true},
      {"back\\slash.txt", "back_slash.txt", false},
      {"tab\there", "tab_here", false},
      {"dots..", "dots__", false},
      {"trailing ", "trailing_", false},
      {"\n", "_", false},
      {"CON.", "_CON_", false},
      {std::string("bad\xff.txt"), "bad_.txt", false},
  };
  for (const auto& c : kCases) {
    std::string got = repairComponent(c.name);
    EXPECT_EQ(c.repaired, got) << printableName(c.name);
    EXPECT_EQ(0u, componentProblems(got)) << got;
    if (c.stubRepairsAlike) {
      sfx::XString stub;
      stub.setFromUtf8(c.name.c_str());
      // The stub turns ":" into "_" before its file rules.
      std::string s = c.name;
      for (char& ch : s)
        if (ch == ':') ch = '_';
      stub.setFromUtf8(s.c_str());
      sfx::sanitizeFileName(stub, true, nullptr);
      EXPECT_EQ(got, stub.getUtf8()) << printableName(c.name);
    }
  }
}

TEST(NameCheck, OverlongNamesKeepTheirExtensionAndWholeCharacters) {
  std::string stem;
  for (int i = 0; i < 200; ++i) stem += "\xF0\x9F\x99\x82";  // 400 units
  std::string got = repairComponent(stem + ".txt");
  EXPECT_EQ(".txt", got.substr(got.size() - 4));
  EXPECT_LE(utf16Units(got), kMaxComponentUnits);
  EXPECT_GE(utf16Units(got), kMaxComponentUnits - 1);  // a pair is not split
  EXPECT_EQ(0u, componentProblems(got));
}

TEST(NameCheck, FoldingAsNtfsCompares) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } kCases[] = {
      {"README.txt", "readme.TXT", true},
      {"Straße", "STRAẞE", true},         // capital sharp s folds to ß
      {"ΣΊΣΥΦΟΣ", "σίσυφος", true},       // final sigma folds with sigma
      {"Ǆ", "ǆ", true},
      {"K", "\xE2\x84\xAA", true},         // Kelvin sign
      {"straße", "strasse", false},        // no full folding
      {"I", "ı", false},                   // dotless i keeps itself
      {"İ", "i", false},
      {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8", false},  // outside the BMP
      {"a", "b", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.same, foldedName(c.a) == foldedName(c.b)) << c.a << " " << c.b;
  }
}

std::vector<NameNode> tree(const std::vector<std::pair<size_t, std::string>>& shape) {
  std::vector<NameNode> nodes;
  for (const auto& s : shape) nodes.push_back({s.first, s.second, "in/" + s.second});
  return nodes;
}

TEST(NameCheck, CollisionsAmongSiblingsOnly) {
  auto nodes = tree({{kNoParent, "Docs"},
                     {0, "a.txt"},
                     {kNoParent, "docs"},
                     {2, "A.TXT"},
                     {kNoParent, "other"},
                     {4, "a.txt"}});
  auto issues = checkNames(&nodes, false);
  ASSERT_EQ(1u, issues.size());
  EXPECT_EQ(2u, issues[0].node);
  EXPECT_EQ(unsigned(kCaseCollision), issues[0].problems);
  EXPECT_EQ("in/Docs", issues[0].collidesWith);
  EXPECT_EQ("", issues[0].newName);
  EXPECT_EQ("docs", nodes[2].component);  // nothing renamed without asking
}

TEST(NameCheck, RenamingGivesUniqueNamesAndKeepsGoodOnes) {
  auto nodes = tree({{kNoParent, "a:b.txt"},    // repaired to a taken name
                     {kNoParent, "a_b.txt"},    // a good name keeps itself
                     {kNoParent, "A_B.txt"},    // collides with the good one
                     {kNoParent, "CON"},        // a folder with a child
                     {3, "x?.txt"},
                     {kNoParent, "ok.txt"}});
  auto issues = checkNames(&nodes, true);
  std::vector<std::string> got;
  for (const auto& i : issues) got.push_back(i.oldName + " -> " + i.newName);
  EXPECT_EQ((std::vector<std::string>{"a:b.txt -> a_b~2.txt",
                                      "A_B.txt -> A_B~3.txt", "CON -> _CON",
                                      "CON/x?.txt -> _CON/x_.txt"}),
            got);
  EXPECT_EQ("a_b.txt", nodes[1].component);
  EXPECT_EQ("ok.txt", nodes[5].component);
  EXPECT_TRUE(checkNames(&nodes, false).empty());
}

// Siblings whose repaired names collide and must be numbered, where the
// extension alone fills (nearly) the whole name, or where a cut ends on a
// dot or space: every repaired name passes the checks again, and no two
// siblings are left equal under folding.
TEST(NameCheck, RepairedNamesAlwaysPassTheChecks) {
  auto x = [](size_t n, char c = 'x') { return std::string(n, c); };
  const std::vector<std::vector<std::string>> kGroups = {
      {"a." + x(253), "A." + x(253)},             // 255 units, extension 254
      {"a." + x(254), "A." + x(254)},             // too long, extension 255
      {"a." + x(300), "A." + x(300), "b." + x(300)},
      {"." + x(254), "." + x(254, 'X')},          // a dot name: no extension
      {x(254) + ". b", x(254) + ". B"},           // the cut ends on ". "
      {x(250) + "   .." + x(10)},                 // the cut ends on spaces
      {"n." + x(252) + " ", "N." + x(252) + "_"},  // repaired, then numbered
      {"CON." + x(251), "con." + x(251)},
  };
  for (const auto& group : kGroups) {
    std::vector<NameNode> nodes;
    for (const std::string& n : group) nodes.push_back({kNoParent, n, n});
    checkNames(&nodes, true);
    std::set<std::string> folded;
    for (size_t i = 0; i < nodes.size(); ++i) {
      const std::string& got = nodes[i].component;
      EXPECT_EQ(0u, componentProblems(got))
          << group[i].substr(0, 12) << "... -> " << got << " ("
          << utf16Units(got) << " units)";
      EXPECT_TRUE(folded.insert(foldedName(got)).second) << got;
    }
    EXPECT_TRUE(checkNames(&nodes, false).empty());
  }
}

TEST(NameCheck, PrintableNameEscapesWhatWouldBreakALine) {
  EXPECT_EQ("a\\nb\\x01\\xff\\t", printableName(std::string("a\nb\x01\xff\t")));
  EXPECT_EQ("back\\slash é", printableName("back\\slash é"));
}

}  // namespace
}  // namespace sfxpack
