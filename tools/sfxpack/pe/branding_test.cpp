// Branding resources: icon files, version information, manifests and the
// string table, written into small PE images and read back.
#include "pe/branding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "pe/pe_test_image.h"

namespace sfxpack {
namespace {

using testing::Layout;
using testing::makeImage;

void put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
  put16(b, v & 0xffff);
  put16(b, v >> 16);
}

// A bitmap icon image: BITMAPINFOHEADER, 32-bit pixels, AND mask.
std::vector<uint8_t> dibImage(unsigned side, uint8_t fill) {
  std::vector<uint8_t> d;
  put32(d, 40);
  put32(d, side);
  put32(d, 2 * side);
  put16(d, 1);
  put16(d, 32);
  for (int k = 0; k < 6; ++k) put32(d, 0);
  d.insert(d.end(), size_t(side) * side * 4, fill);
  d.insert(d.end(), size_t((side + 31) / 32 * 4) * side, 0);
  return d;
}

std::vector<uint8_t> pngImage() {
  return {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
          0,    0,   0,   13,  'I',  'H',  'D',  'R'};
}

// An .ico with the given images; the directory's size byte is side % 256
// and its bit count is left 0 for the writer to fill in.
std::vector<uint8_t> ico(
    const std::vector<std::pair<unsigned, std::vector<uint8_t>>>& imgs) {
  std::vector<uint8_t> f;
  put16(f, 0);
  put16(f, 1);
  put16(f, uint32_t(imgs.size()));
  uint32_t offset = uint32_t(6 + 16 * imgs.size());
  for (const auto& i : imgs) {
    f.push_back(uint8_t(i.first));
    f.push_back(uint8_t(i.first));
    f.push_back(0);
    f.push_back(0);
    put16(f, 1);
    put16(f, 0);
    put32(f, uint32_t(i.second.size()));
    put32(f, offset);
    offset += uint32_t(i.second.size());
  }
  for (const auto& i : imgs)
    f.insert(f.end(), i.second.begin(), i.second.end());
  return f;
}

PeImage parsed(std::vector<uint8_t> file) {
  PeImage image;
  std::string error;
  EXPECT_TRUE(image.parse(std::move(file), &error)) << error;
  return image;
}

std::vector<uint8_t> groupOf(
    const std::vector<std::pair<uint16_t, uint16_t>>& idsAndSides) {
  std::vector<uint8_t> g;
  put16(g, 0);
  put16(g, 1);
  put16(g, uint32_t(idsAndSides.size()));
  for (const auto& e : idsAndSides) {
    g.push_back(uint8_t(e.second));
    g.push_back(uint8_t(e.second));
    g.push_back(0);
    g.push_back(0);
    put16(g, 1);
    put16(g, 32);
    put32(g, 10);
    put16(g, e.first);
  }
  return g;
}

Resource resource(uint16_t type, ResId name, std::vector<uint8_t> data) {
  Resource r;
  r.type = ResId::number(type);
  r.name = std::move(name);
  r.lang = kLangEnUs;
  r.data = std::move(data);
  return r;
}

TEST(IconTest, EveryImageBecomesAnIconOfTheFirstGroup) {
  PeImage image = parsed(makeImage(false, Layout::kRsrcThenReloc));
  // The stub has two groups: "MAIN" (named, so first) with icons 1 and 2,
  // and 5 with icons 2 and 3. "MAIN" is replaced; icon 1 goes, 2 and 3 stay.
  ResId mainName;
  mainName.name = u"MAIN";
  image.put(resource(kRtGroupIcon, mainName, groupOf({{1, 16}, {2, 32}})));
  image.put(
      resource(kRtGroupIcon, ResId::number(5), groupOf({{2, 32}, {3, 48}})));
  for (uint16_t id : {1, 2, 3}) {
    image.put(resource(kRtIcon, ResId::number(id),
                       std::vector<uint8_t>(10, uint8_t(id))));
  }
  std::string error;
  ASSERT_TRUE(setIcon(
      &image,
      ico({{16, dibImage(16, 1)}, {48, dibImage(48, 2)}, {0, pngImage()}}),
      &error))
      << error;

  const Resource* group = image.find(ResId::number(kRtGroupIcon), mainName);
  ASSERT_NE(nullptr, group);
  std::vector<IconImage> imgs;
  ASSERT_TRUE(readIconGroup(image, *group, &imgs, &error)) << error;
  ASSERT_EQ(3u, imgs.size());
  EXPECT_EQ(16u, imgs[0].width);
  EXPECT_EQ(48u, imgs[1].height);
  EXPECT_EQ(256u, imgs[2].width);  // 0 in the directory
  EXPECT_TRUE(imgs[2].png);
  EXPECT_EQ(32u, imgs[0].bitCount);  // taken from the bitmap header
  EXPECT_EQ(dibImage(48, 2).size(), imgs[1].bytes);
  // New icons take ids no other icon has; icon 1 was freed and is reused.
  std::vector<uint16_t> ids = {imgs[0].id, imgs[1].id, imgs[2].id};
  EXPECT_EQ((std::vector<uint16_t>{1, 4, 5}), ids);
  // Group 5 still finds its icons 2 and 3, unchanged.
  const Resource* other =
      image.find(ResId::number(kRtGroupIcon), ResId::number(5));
  ASSERT_NE(nullptr, other);
  ASSERT_TRUE(readIconGroup(image, *other, &imgs, &error)) << error;
  EXPECT_EQ(std::vector<uint8_t>(10, 2),
            image.find(ResId::number(kRtIcon), ResId::number(2))->data);
  EXPECT_EQ(std::vector<uint8_t>(10, 3),
            image.find(ResId::number(kRtIcon), ResId::number(3))->data);
}

TEST(IconTest, AStubWithoutIconGetsGroupOne) {
  PeImage image = parsed(makeImage(true, Layout::kRsrcThenReloc));
  std::string error;
  ASSERT_TRUE(setIcon(&image, ico({{32, dibImage(32, 9)}}), &error)) << error;
  const Resource* group =
      image.find(ResId::number(kRtGroupIcon), ResId::number(1));
  ASSERT_NE(nullptr, group);
  EXPECT_EQ(kLangEnUs, group->lang);
}

TEST(IconTest, HostileIconFiles) {
  std::vector<uint8_t> good =
      ico({{16, dibImage(16, 1)}, {32, dibImage(32, 2)}});
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    const char* message;
  };
  std::vector<uint8_t> lying = good;
  lying[4] = 40;  // 40 images claimed, two present
  std::vector<uint8_t> beyond = good;
  beyond[6 + 16 + 8] = 0xff;  // the second image's size runs past the end
  std::vector<uint8_t> cursor = good;
  cursor[2] = 2;
  std::vector<uint8_t> garbage = ico({{16, std::vector<uint8_t>(64, 0x41)}});
  std::vector<uint8_t> many = good;
  many[4] = 200;
  const Case cases[] = {
      {"empty", {}, "no header"},
      {"header only", {0, 0, 1, 0}, "no header"},
      {"a cursor", cursor, "not an icon file"},
      {"no images", {0, 0, 1, 0, 0, 0}, "holds no images"},
      {"count lies", lying, "the image count does not match"},
      {"count lies, file short",
       {0, 0, 1, 0, 3, 0, 16, 16, 0, 0, 1, 0, 32, 0, 0, 0, 0, 0, 22, 0, 0, 0},
       "too short for their directory"},
      {"truncated image", std::vector<uint8_t>(good.begin(), good.end() - 1),
       "beyond the end of the icon file"},
      {"size lies", beyond, "beyond the end of the icon file"},
      {"neither bitmap nor PNG", garbage, "neither a bitmap nor a PNG"},
      {"too many images", many, "at most"},
  };
  for (const Case& c : cases) {
    PeImage image = parsed(makeImage(false, Layout::kRsrcThenReloc));
    size_t before = image.resources().size();
    std::string error;
    EXPECT_FALSE(setIcon(&image, c.file, &error)) << c.what;
    EXPECT_NE(std::string::npos, error.find(c.message))
        << c.what << ": " << error;
    EXPECT_EQ(before, image.resources().size()) << c.what;
  }
}

TEST(VersionTest, DottedVersions) {
  struct Case {
    const char* text;
    bool ok;
    uint32_t ms, ls;
  };
  const Case cases[] = {
      {"1.2.3.4", true, 0x00010002, 0x00030004},
      {"1.2", true, 0x00010002, 0},
      {"2,5,1", true, 0x00020005, 0x00010000},
      {"65535.0.0.65535", true, 0xffff0000, 0x0000ffff},
      {"3.1-rc1", true, 0x00030001, 0},
      {"1.2.3.4.5", true, 0x00010002, 0x00030004},
      {"7.", true, 0x00070000, 0},
      {"65536.0", false, 0, 0},
      {"beta", false, 0, 0},
      {"", false, 0, 0},
      {"99999999999999999999", false, 0, 0},
  };
  for (const Case& c : cases) {
    uint32_t ms = 1, ls = 1;
    EXPECT_EQ(c.ok, parseDottedVersion(c.text, &ms, &ls)) << c.text;
    if (c.ok) {
      EXPECT_EQ(c.ms, ms) << c.text;
      EXPECT_EQ(c.ls, ls) << c.text;
    }
  }
}

// The layout a version resource must have, checked by offset rather than by
// our reader: root length, the key, the fixed part's signature and versions.
TEST(VersionTest, FreshVersionResourceLayout) {
  PeImage image = parsed(makeImage(false, Layout::kRsrcThenReloc));
  std::string error;
  ASSERT_TRUE(setVersionInfo(&image,
                             {{"FileVersion", "1.2.3.4"},
                              {"ProductName", "Acme \xE2\x9C\x93"},
                              {"CompanyName", ""}},
                             &error))
      << error;
  const Resource* r = image.find(ResId::number(kRtVersion), ResId::number(1));
  ASSERT_NE(nullptr, r);
  const std::vector<uint8_t>& d = r->data;
  ASSERT_GT(d.size(), 92u);
  EXPECT_EQ(d.size(), testing::get16(d, 0));
  EXPECT_EQ(52, testing::get16(d, 2));
  std::u16string key;
  for (size_t k = 6; testing::get16(d, k); k += 2)
    key.push_back(testing::get16(d, k));
  EXPECT_EQ(u"VS_VERSION_INFO", key);
  EXPECT_EQ(0xFEEF04BDu, testing::get32(d, 40));
  EXPECT_EQ(0x00010002u, testing::get32(d, 48));  // file version
  EXPECT_EQ(0x00030004u, testing::get32(d, 52));
  EXPECT_EQ(0x00010002u, testing::get32(d, 56));  // product: the file's
  EXPECT_EQ(0x00030004u, testing::get32(d, 60));

  VersionInfo info;
  ASSERT_TRUE(readVersionInfo(d, &info, &error)) << error;
  EXPECT_EQ(kLangEnUs, info.lang);
  EXPECT_EQ(1200, info.codePage);
  std::vector<std::pair<std::string, std::string>> want = {
      {"FileVersion", "1.2.3.4"},
      {"ProductName", "Acme \xE2\x9C\x93"},
      {"CompanyName", ""}};
  EXPECT_EQ(want, info.strings);
}

TEST(VersionTest, MergesIntoTheStubsVersion) {
  PeImage image = parsed(makeImage(true, Layout::kRsrcThenReloc));
  VersionInfo old;
  old.fileMs = 0x00090000;
  old.productMs = 0x00080007;
  old.lang = 0x0407;
  old.codePage = 1252;
  old.strings = {{"CompanyName", "Old Co"}, {"FileVersion", "9.0"}};
  Resource r = resource(kRtVersion, ResId::number(1), buildVersionInfo(old));
  r.lang = 0x0407;
  image.put(r);
  std::string error;
  ASSERT_TRUE(setVersionInfo(
      &image, {{"FileVersion", "2.0.1"}, {"ProductName", "New"}}, &error))
      << error;
  ASSERT_EQ(nullptr,
            image.find(ResId::number(kRtVersion), ResId::number(1), kLangEnUs));
  const Resource* now =
      image.find(ResId::number(kRtVersion), ResId::number(1), 0x0407);
  ASSERT_NE(nullptr, now);
  VersionInfo info;
  ASSERT_TRUE(readVersionInfo(now->data, &info, &error)) << error;
  EXPECT_EQ(0x00020000u, info.fileMs);
  EXPECT_EQ(0x00010000u, info.fileLs);
  EXPECT_EQ(0x00080007u, info.productMs);  // kept
  EXPECT_EQ(0x0407, info.lang);
  EXPECT_EQ(1252, info.codePage);
  std::vector<std::pair<std::string, std::string>> want = {
      {"CompanyName", "Old Co"},
      {"FileVersion", "2.0.1"},
      {"ProductName", "New"}};
  EXPECT_EQ(want, info.strings);
}

TEST(VersionTest, RefusedValues) {
  struct Case {
    std::string key, value;
    const char* message;
  };
  const Case cases[] = {
      {"ProductName", std::string(64 * 1024, 'x'), "at most 1024"},
      {"FileVersion", "one", "expected a version"},
      {"ProductVersion", "1.70000", "expected a version"},
      {"Comments", "hi", "unknown version key"},
      {"CompanyName", "\xC3(", "not UTF-8"},
  };
  for (const Case& c : cases) {
    PeImage image = parsed(makeImage(false, Layout::kRsrcThenReloc));
    std::string error;
    EXPECT_FALSE(setVersionInfo(&image, {{c.key, c.value}}, &error)) << c.key;
    EXPECT_NE(std::string::npos, error.find(c.message))
        << c.key << ": " << error;
    EXPECT_EQ(nullptr, image.find(ResId::number(kRtVersion), ResId::number(1)));
  }
}

TEST(VersionTest, DamagedVersionResourcesAreRefused) {
  std::vector<uint8_t> good = buildVersionInfo(VersionInfo());
  std::vector<uint8_t> longer = good;
  longer[0] = 0xff;  // length past the end
  std::vector<uint8_t> tiny = good;
  tiny[92] = 2;  // a child whose length is below a header
  for (const auto& d :
       {std::vector<uint8_t>(),
        std::vector<uint8_t>(good.begin(), good.begin() + 20), longer, tiny}) {
    VersionInfo info;
    std::string error;
    EXPECT_FALSE(readVersionInfo(d, &info, &error)) << d.size();
  }
}

// Random damage to a version block, an icon group and an icon file: refused
// or read, never a read outside the data (the sanitizers watch).
TEST(VersionTest, RandomDamageIsRefusedOrRead) {
  VersionInfo v;
  v.strings = {{"ProductName", "Acme"}, {"FileVersion", "1.2"}};
  const std::vector<uint8_t> version = buildVersionInfo(v);
  const std::vector<uint8_t> icon =
      ico({{16, dibImage(16, 1)}, {0, pngImage()}});
  std::mt19937 rng(5);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> d = version, f = icon;
    for (int e = 0; e < 3; ++e) {
      d[rng() % d.size()] = uint8_t(rng());
      f[rng() % 64] = uint8_t(rng());
    }
    if (rng() % 4 == 0) d.resize(rng() % d.size());
    if (rng() % 4 == 0) f.resize(rng() % f.size());
    VersionInfo info;
    std::string error;
    readVersionInfo(d, &info, &error);
    PeImage image = parsed(makeImage(false, Layout::kRsrcThenReloc));
    if (setIcon(&image, f, &error)) {
      const Resource* g =
          image.find(ResId::number(kRtGroupIcon), ResId::number(1));
      ASSERT_NE(nullptr, g);
      std::vector<IconImage> imgs;
      EXPECT_TRUE(readIconGroup(image, *g, &imgs, &error)) << error;
    }
  }
}

TEST(ManifestTest, Elevation) {
  struct Case {
    const char* what;
    std::string in, out;
  };
  const std::string head =
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\">";
  const Case cases[] = {
      {"level replaced, the rest kept",
       head +
           "<!-- a --><trustInfo><security><requestedPrivileges>"
           "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"
           "</requestedPrivileges></security></trustInfo></assembly>",
       head + "<!-- a --><trustInfo><security><requestedPrivileges>"
              "<requestedExecutionLevel level=\"requireAdministrator\" "
              "uiAccess=\"false\"/>"
              "</requestedPrivileges></security></trustInfo></assembly>"},
      {"prefixed element, single quotes, commented decoy",
       head + "<!-- <requestedExecutionLevel level='highestAvailable'/> -->"
              "<v3:requestedExecutionLevel uiAccess='false' level='asInvoker' "
              "/></assembly>",
       head + "<!-- <requestedExecutionLevel level='highestAvailable'/> -->"
              "<v3:requestedExecutionLevel uiAccess='false' "
              "level='requireAdministrator' />"
              "</assembly>"},
      {"element without level",
       head + "<requestedExecutionLevel uiAccess=\"false\"/></assembly>",
       head + "<requestedExecutionLevel level=\"requireAdministrator\" "
              "uiAccess=\"false\"/>"
              "</assembly>"},
      {"no trust information",
       head + "<description>x</description>\r\n</assembly>\r\n",
       head +
           "<description>x</description>\r\n  "
           "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security>"
           "<requestedPrivileges><requestedExecutionLevel "
           "level=\"requireAdministrator\" uiAccess=\"false\"/>"
           "</requestedPrivileges></security></trustInfo>\r\n</assembly>\r\n"},
  };
  for (const Case& c : cases) {
    std::string m = c.in, error;
    ASSERT_TRUE(elevateManifest(&m, &error)) << c.what << ": " << error;
    EXPECT_EQ(c.out, m) << c.what;
    EXPECT_EQ("requireAdministrator", manifestLevel(m)) << c.what;
  }
  std::string empty = "<?xml version=\"1.0\"?><asmv1:assembly a=\"/\" />",
              error;
  ASSERT_TRUE(elevateManifest(&empty, &error)) << error;
  EXPECT_EQ(
      std::string("<?xml version=\"1.0\"?><asmv1:assembly a=\"/\" >") +
          "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security>"
          "<requestedPrivileges><requestedExecutionLevel "
          "level=\"requireAdministrator\" uiAccess=\"false\"/>"
          "</requestedPrivileges></security></trustInfo></asmv1:assembly>",
      empty);
  std::string broken = "<assembly><description/>";
  EXPECT_FALSE(elevateManifest(&broken, &error));
  EXPECT_NE(std::string::npos, error.find("no closing assembly")) << error;
  EXPECT_EQ("", manifestLevel("<assembly/>"));
}

TEST(ManifestTest, ReplacedOrElevatedInTheImage) {
  PeImage image = parsed(
      makeImage(false, Layout::kRsrcThenReloc, nullptr,
                "<assembly><requestedExecutionLevel level=\"asInvoker\"/>"
                "</assembly>"));
  std::string error;
  ASSERT_TRUE(setManifest(&image, nullptr, true, &error)) << error;
  const Resource* m = image.find(ResId::number(kRtManifest), ResId::number(1));
  ASSERT_NE(nullptr, m);
  EXPECT_EQ("requireAdministrator",
            manifestLevel(std::string(m->data.begin(), m->data.end())));
  EXPECT_EQ(1u, image.resources().size());

  std::string mine = "<asmv1:assembly><x/></asmv1:assembly>";
  ASSERT_TRUE(setManifest(&image, &mine, true, &error)) << error;
  m = image.find(ResId::number(kRtManifest), ResId::number(1));
  std::string text(m->data.begin(), m->data.end());
  EXPECT_EQ("requireAdministrator", manifestLevel(text));
  EXPECT_EQ(0u, text.find("<asmv1:assembly><x/>  <trustInfo")) << text;

  std::string notManifest = "<html/>";
  EXPECT_FALSE(setManifest(&image, &notManifest, false, &error));
  EXPECT_NE(std::string::npos, error.find("no assembly element")) << error;
}

std::vector<uint8_t> stringBlock(const std::vector<std::u16string>& s) {
  std::vector<uint8_t> b;
  for (size_t k = 0; k < 16; ++k) {
    std::u16string e = k < s.size() ? s[k] : u"";
    put16(b, uint32_t(e.size()));
    for (char16_t c : e) put16(b, c);
  }
  return b;
}

TEST(StringTableTest, ReplacesOneStringAndKeepsTheOthers) {
  PeImage image = parsed(makeImage(false, Layout::kRsrcThenReloc));
  // Block 7 holds ids 96 to 111: 103 is index 7, 109 index 13.
  std::vector<std::u16string> s(16);
  s[7] = u"Nimbral Unpacker";
  s[13] = u"SELFEXTRACT";
  image.put(resource(kRtString, ResId::number(7), stringBlock(s)));
  std::string error;
  ASSERT_TRUE(setString(&image, 103, "Acme Setup \xE2\x9C\x93", &error))
      << error;
  const Resource* r = image.find(ResId::number(kRtString), ResId::number(7));
  std::u16string got;
  ASSERT_TRUE(readStringTableEntry(r->data, 7, &got));
  EXPECT_EQ(u"Acme Setup \u2713", got);
  ASSERT_TRUE(readStringTableEntry(r->data, 13, &got));
  EXPECT_EQ(u"SELFEXTRACT", got);

  struct Case {
    uint16_t id;
    std::string text;
    const char* message;
  };
  const Case refused[] = {
      {103, std::string(100, 'x'), "1 to 99 characters"},
      {103, "", "1 to 99 characters"},
      {104, "x", "no string 104"},
      {1000, "x", "no string 1000"},
      {109, "\xFF", "not UTF-8"},
  };
  for (const Case& c : refused) {
    std::vector<uint8_t> before = r->data;
    EXPECT_FALSE(setString(&image, c.id, c.text, &error)) << c.id;
    EXPECT_NE(std::string::npos, error.find(c.message))
        << c.id << ": " << error;
    EXPECT_EQ(before,
              image.find(ResId::number(kRtString), ResId::number(7))->data);
  }
  EXPECT_TRUE(setString(&image, 103, std::string(99, 'x'), &error)) << error;
}

// The whole step as the packer runs it, on a stub file.
class ApplyBrandingTest : public ::testing::Test {
 protected:
  std::string writeTemp(const std::string& name,
                        const std::vector<uint8_t>& bytes) {
    std::string path = ::testing::TempDir() + "branding_test_" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               std::streamsize(bytes.size()));
    return path;
  }
};

TEST_F(ApplyBrandingTest, BrandsAndRefusesWithoutTouchingTheStub) {
  std::vector<uint8_t> stub = makeImage(false, Layout::kRsrcThenReloc);
  BrandingOptions o;
  o.icon = writeTemp("a.ico", ico({{32, dibImage(32, 5)}}));
  o.versionInfo = {{"ProductName", "Acme"}};
  o.elevate = true;
  std::string error;
  std::vector<uint8_t> branded = stub;
  ASSERT_TRUE(applyBranding(o, &branded, &error)) << error;
  EXPECT_EQ("", testing::headerProblems(branded, false));
  PeImage image = parsed(branded);
  EXPECT_NE(nullptr, image.find(ResId::number(kRtGroupIcon), ResId::number(1)));
  EXPECT_NE(nullptr, image.find(ResId::number(kRtVersion), ResId::number(1)));

  // An icon that carries the payload marker would make the stub find a
  // false payload in its own resources.
  std::vector<uint8_t> img = dibImage(16, 0);
  const uint8_t marker[8] = {0x07, 0xD2, 0x6C, 0xBF, 0x21, 0x59, 0xAB, 0xAA};
  std::copy(marker, marker + 8, img.begin() + 100);
  BrandingOptions bad;
  bad.icon = writeTemp("marker.ico", ico({{16, img}}));
  std::vector<uint8_t> copy = stub;
  EXPECT_FALSE(applyBranding(bad, &copy, &error));
  EXPECT_NE(std::string::npos, error.find("payload marker")) << error;
  EXPECT_EQ(stub, copy);

  bad.icon = writeTemp("missing-dir/none.ico", {});
  EXPECT_FALSE(applyBranding(bad, &copy, &error));
  EXPECT_NE(std::string::npos, error.find("cannot read")) << error;
  EXPECT_EQ(stub, copy);
}

// After the payload is appended, the checksum is that of the whole file.
TEST_F(ApplyBrandingTest, ChecksumCoversThePayload) {
  std::vector<uint8_t> file = makeImage(true, Layout::kRsrcThenReloc);
  BrandingOptions o;
  o.elevate = true;
  std::string error;
  ASSERT_TRUE(applyBranding(o, &file, &error)) << error;
  for (size_t payload : {0u, 1u, 77777u}) {
    std::vector<uint8_t> whole = file;
    for (size_t k = 0; k < payload; ++k) whole.push_back(uint8_t(k * 31 + 7));
    std::string path = writeTemp("sum.exe", whole);
    FILE* f = fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    bool finished = finishBranding(o, f, path, &error);
    fclose(f);
    ASSERT_TRUE(finished) << error;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> back((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    ASSERT_EQ(whole.size(), back.size());
    size_t field = testing::kOpt + 64;
    EXPECT_EQ(testing::referenceChecksum(whole, field),
              testing::get32(back, field))
        << payload;
    std::copy(whole.begin() + field, whole.begin() + field + 4,
              back.begin() + field);
    EXPECT_EQ(whole, back) << "only the checksum may change";
  }
}

}  // namespace
}  // namespace sfxpack
