// The stored configuration: flags mapped to their keys, a loaded document
// with flags on top, the encryption rules, and the document read back by
// the stub's own configuration record.
#include "pack/config_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/sfx_config.h"
#include "text/xstring.h"

namespace sfxpack {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// What the stub reads from the document, as the stub loads it.
std::string stubReads(const std::string& xml, const char* key) {
  sfx::SfxConfig config;
  sfx::XString doc;
  doc.setFromUtf8(xml.c_str());
  EXPECT_TRUE(config.loadDocument(doc));
  sfx::XString value;
  config.getText(key, value);
  return value.getUtf8();
}

Pairs expand(const char* flag, const std::string& value = "") {
  Pairs out;
  std::string error;
  const ConfigFlag* f = findConfigFlag(flag);
  EXPECT_NE(nullptr, f) << flag;
  if (f) {
    EXPECT_TRUE(expandConfigFlag(*f, value, &out, &error)) << error;
  }
  return out;
}

TEST(ConfigKeys, EveryFlagSetsKnownKeys) {
  for (const ConfigFlag& f : configFlags()) {
    Pairs out;
    std::string error;
    ASSERT_TRUE(expandConfigFlag(f, "1", &out, &error)) << f.name << error;
    ASSERT_FALSE(out.empty()) << f.name;
    for (const auto& kv : out) EXPECT_NE(nullptr, findConfigKey(kv.first)) << f.name;
  }
}

TEST(ConfigKeys, FlagsMapToTheirKeys) {
  EXPECT_EQ((Pairs{{"MainTitle", "Setup <1> & \"2\""}}),
            expand("--title", "Setup <1> & \"2\""));
  EXPECT_EQ((Pairs{{"ShowMain", "0"}, {"ShowProgress", "0"}, {"ShowFin", "0"}}),
            expand("--silent"));
  EXPECT_EQ((Pairs{{"WaitForSetup", "0"}}), expand("--no-wait"));
  EXPECT_EQ((Pairs{{"Unattended", "1"}}), expand("--unattended"));
  EXPECT_EQ((Pairs{{"WaitForAll", "1"}}), expand("--wait-all"));
  EXPECT_EQ((Pairs{{"AutoTemp", "1"}}), expand("--temp"));
  EXPECT_EQ((Pairs{{"MainWidth", "-5"}}), expand("--main-width", "-5"));
}

TEST(ConfigKeys, ValuesMustSuitTheKeysKind) {
  const struct {
    const char* text;
    bool ok;
  } kCases[] = {
      {"MainWidth=560", true}, {"MainWidth=-5", true}, {"MainWidth=wide", false},
      {"MainWidth=", false},   {"ShowMain=1", true},   {"ShowMain=true", false},
      {"ShowMain=2", false},   {"Nope=1", false},      {"MainTitle", false},
      {"MainTitle=", true},    {"mainTitle=x", false},
  };
  for (const auto& c : kCases) {
    std::pair<std::string, std::string> kv;
    std::string error;
    EXPECT_EQ(c.ok, parseKeyAssignment(c.text, &kv, &error)) << c.text;
  }
}

struct Built {
  bool ok;
  std::string xml, error;
  std::vector<std::string> warnings;
};

Built build(const std::string* doc, const Pairs& overrides, bool encrypted) {
  ConfigRequest r;
  r.document = doc;
  r.documentName = doc ? "c.xml" : "the configuration";
  r.overrides = overrides;
  r.encrypted = encrypted;
  r.keyBits = 192;
  r.createdBy = "sfxpack 9";
  Built b;
  b.ok = buildConfig(r, &b.xml, &b.warnings, &b.error);
  return b;
}

TEST(ConfigKeys, DefaultsWithFlagsAsTheStubReadsThem) {
  Built b = build(nullptr,
                  {{"MainTitle", "Ünïcode & <markup>"},
                   {"SetupExe", "setup.exe"},
                   {"SetupExeArgs", "/q \"C:\\x y\""},
                   {"MainTitle", "Later wins"}},
                  false);
  ASSERT_TRUE(b.ok) << b.error;
  EXPECT_EQ("Later wins", stubReads(b.xml, "MainTitle"));
  EXPECT_EQ("/q \"C:\\x y\"", stubReads(b.xml, "SetupExeArgs"));
  EXPECT_EQ("1", stubReads(b.xml, "ShowMain"));  // construction defaults kept
  EXPECT_EQ("128", stubReads(b.xml, "KeyLength"));
  EXPECT_EQ("0", stubReads(b.xml, "Encryption"));
  EXPECT_EQ("sfxpack 9", stubReads(b.xml, "VersionCreatedBy"));
}

TEST(ConfigKeys, FlagsOverrideALoadedDocument) {
  std::string doc =
      "<?xml version=\"1.0\"?><SfxConfig><MainTitle>Old</MainTitle>"
      "<FinTitle>Kept</FinTitle><VersionCreatedBy>me</VersionCreatedBy>"
      "</SfxConfig>";
  Built b = build(&doc, {{"MainTitle", "New"}}, true);
  ASSERT_TRUE(b.ok) << b.error;
  EXPECT_EQ("New", stubReads(b.xml, "MainTitle"));
  EXPECT_EQ("Kept", stubReads(b.xml, "FinTitle"));
  EXPECT_EQ("me", stubReads(b.xml, "VersionCreatedBy"));
  EXPECT_EQ("1", stubReads(b.xml, "Encryption"));  // --password sets it
  EXPECT_EQ("192", stubReads(b.xml, "KeyLength"));
  EXPECT_EQ("", stubReads(b.xml, "ShowMain"));  // absent stays absent

  std::string bare = "<SfxConfig><ShowMain>0</ShowMain></SfxConfig>";
  b = build(&bare, {}, false);
  ASSERT_TRUE(b.ok) << b.error;
  EXPECT_EQ(std::string::npos, b.xml.find("Encryption")) << b.xml;
  EXPECT_EQ(std::string::npos, b.xml.find("VersionCreatedBy")) << b.xml;
}

TEST(ConfigKeys, EncryptionMustAgreeWithThePassword) {
  std::string says0 = "<SfxConfig><Encryption>0</Encryption></SfxConfig>";
  std::string says1 = "<SfxConfig><Encryption>1</Encryption></SfxConfig>";
  const struct {
    const std::string* doc;
    Pairs overrides;
    bool encrypted, ok;
    const char* errorHas;
  } kCases[] = {
      {&says0, {}, true, false, "c.xml sets Encryption to 0"},
      {&says1, {}, false, false, "c.xml sets Encryption to 1"},
      {nullptr, {{"Encryption", "1"}}, false, false, "--set Encryption=1"},
      {nullptr, {{"Encryption", "0"}}, true, false, "contradicts --password"},
      {&says1, {}, true, true, ""},
      {&says0, {}, false, true, ""},
      {nullptr, {}, true, true, ""},
  };
  for (const auto& c : kCases) {
    Built b = build(c.doc, c.overrides, c.encrypted);
    EXPECT_EQ(c.ok, b.ok) << b.error;
    EXPECT_NE(std::string::npos, b.error.find(c.errorHas)) << b.error;
    if (b.ok) {
      EXPECT_EQ(c.encrypted ? "1" : "0", stubReads(b.xml, "Encryption"));
    }
  }
}

// Documents the stub reads in another form than UTF-8 text (a file it
// loads when it runs, a code page it converts where it runs) are stored
// byte for byte, and nothing can be added to them.
TEST(ConfigKeys, OtherFormsAreStoredAsTheyAre) {
  const std::string kDocs[] = {
      "cfg.xml",
      "<?xml version=\"1.0\" encoding=\"ansi\"?><SfxConfig><MainTitle>\xC0\xE1"
      "</MainTitle></SfxConfig>",
      "<?xml version='1.0' encoding='windows-1251'?><SfxConfig/>",
      std::string("\xFF\xFE<\0S\0/\0>\0", 10),
  };
  for (const std::string& doc : kDocs) {
    Built b = build(&doc, {}, false);
    ASSERT_TRUE(b.ok) << b.error;
    EXPECT_EQ(doc, b.xml);
    b = build(&doc, {{"MainTitle", "x"}}, false);
    EXPECT_FALSE(b.ok);
    EXPECT_NE(std::string::npos, b.error.find("stores as it is")) << b.error;
    EXPECT_FALSE(build(&doc, {}, true).ok);
  }
  std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SfxConfig/>";
  Built b = build(&utf8, {{"MainTitle", "x"}}, false);
  EXPECT_TRUE(b.ok) << b.error;
}

TEST(ConfigKeys, RefusesWhatIsNotAConfigurationDocument) {
  std::string notXml = "setup.txt", other = "<Other><A>1</A></Other>",
              empty = "";
  for (const std::string* doc : {&notXml, &other, &empty}) {
    Built b = build(doc, {}, false);
    EXPECT_FALSE(b.ok) << *doc;
    EXPECT_EQ(0u, b.error.find("c.xml")) << b.error;
  }
}

TEST(ConfigKeys, WarnsAboutSettingsTheStubWouldNotHonour) {
  const struct {
    Pairs overrides;
    const char* warning;  // nullptr: none
  } kCases[] = {
      {{{"ShowMain", "0"}}, "no unzip folder is known"},
      {{{"ShowMain", "0"}, {"AutoTemp", "1"}}, nullptr},
      {{{"ShowMain", "0"}, {"UnzipDir", "C:\\x"}}, nullptr},
      {{{"Cleanup", "1"}, {"WaitForSetup", "0"}}, "WaitForSetup is 0"},
      {{{"Cleanup", "1"}, {"AutoExit", "1"}}, "AutoExit turns cleanup off"},
      {{{"SetupExeArgs", "/q"}}, "no program"},
      {{{"ShowMain", "0"}, {"Unattended", "1"}}, nullptr},
      {{{"WaitForAll", "1"}, {"WaitForSetup", "0"}}, "waits for nothing"},
      {{{"SetupExe", "a.exe"}, {"SetupExeArgs", "/q"}, {"Cleanup", "1"}}, nullptr},
  };
  for (const auto& c : kCases) {
    Built b = build(nullptr, c.overrides, false);
    ASSERT_TRUE(b.ok);
    if (!c.warning) {
      EXPECT_TRUE(b.warnings.empty()) << b.warnings[0];
    } else {
      ASSERT_EQ(1u, b.warnings.size());
      EXPECT_NE(std::string::npos, b.warnings[0].find(c.warning)) << b.warnings[0];
    }
  }
}

}  // namespace
}  // namespace sfxpack
