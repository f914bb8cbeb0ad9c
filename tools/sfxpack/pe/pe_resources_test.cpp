// The PE resource reader and writer on images built byte by byte: both
// header formats, every section layout, and damaged or hostile images.
#include "pe/pe_resources.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "pe/pe_test_image.h"

namespace sfxpack {
namespace {

using testing::get32;
using testing::Layout;
using testing::makeImage;
using testing::put16;
using testing::put32;

Resource res(uint16_t type, ResId name, uint16_t lang, size_t size,
             uint8_t fill) {
  Resource r;
  r.type = ResId::number(type);
  r.name = std::move(name);
  r.lang = lang;
  r.data.assign(size, fill);
  return r;
}

ResId named(const char16_t* s) {
  ResId r;
  r.name = s;
  return r;
}

struct LayoutCase {
  bool is64;
  Layout layout;
  bool addsSection;  // the rewritten image has one more section
};

class PeWriteTest : public ::testing::TestWithParam<LayoutCase> {};

// Resources added and replaced, the image written and read back: the same
// resources, valid headers, and every byte outside the resources where the
// loader expects it.
TEST_P(PeWriteTest, RewrittenImageIsValidAndKeepsTheRest) {
  const LayoutCase& c = GetParam();
  std::vector<testing::Section> secs;
  std::vector<uint8_t> file = makeImage(c.is64, c.layout, &secs);
  PeImage image;
  std::string error;
  ASSERT_TRUE(image.parse(file, &error)) << error;
  EXPECT_EQ(c.is64, image.is64());
  size_t before = image.resources().size();
  EXPECT_EQ(c.layout == Layout::kNoResources ? 0u : 1u, before);

  // 9000 bytes: more than the old resource section's raw size.
  image.put(res(kRtIcon, ResId::number(1), kLangEnUs, 9000, 0x11));
  image.put(res(kRtIcon, ResId::number(2), kLangEnUs, 33, 0x22));
  image.put(res(kRtManifest, ResId::number(1), kLangEnUs, 100, 'm'));
  image.put(res(10, named(u"zeta"), 0, 5, 0x33));
  image.put(res(10, named(u"Alpha"), 0, 7, 0x44));
  image.put(res(10, ResId::number(7), 0x407, 3, 0x55));
  std::vector<uint8_t> out;
  ASSERT_TRUE(image.write(&out, &error)) << error;

  EXPECT_EQ("", testing::headerProblems(out, c.is64));
  size_t sections = testing::get16(out, testing::kPeOffset + 6);
  EXPECT_EQ(secs.size() + (c.addsSection ? 1 : 0), sections);

  PeImage back;
  ASSERT_TRUE(back.parse(out, &error)) << error;
  ASSERT_EQ(6u, back.resources().size());
  for (const Resource& r : image.resources()) {
    const Resource* got = back.find(r.type, r.name, r.lang);
    ASSERT_NE(nullptr, got) << r.type.text() << "/" << r.name.text();
    EXPECT_EQ(r.data, got->data) << r.type.text() << "/" << r.name.text();
  }
  // Directory order: named entries first (case-insensitively), then ids.
  std::vector<std::string> order;
  for (const Resource& r : back.resources()) {
    if (r.type == ResId::number(10)) order.push_back(r.name.text());
  }
  EXPECT_EQ((std::vector<std::string>{"\"Alpha\"", "\"zeta\"", "7"}), order);

  // .text is where it was, byte for byte.
  EXPECT_TRUE(std::equal(file.begin() + secs[0].rawOffset,
                         file.begin() + secs[0].rawOffset + secs[0].rawSize,
                         out.begin() + secs[0].rawOffset));
  // The relocations (and .data) are intact wherever their section now is,
  // and the data directories point at them.
  size_t dirs = testing::dataDirs(c.is64);
  for (size_t i = 0; i < secs.size(); ++i) {
    if (secs[i].name != ".reloc" && secs[i].name != ".data") continue;
    size_t h = testing::sectionTable(c.is64) + 40 * i;
    uint32_t va = get32(out, h + 12), off = get32(out, h + 20);
    EXPECT_TRUE(
        std::equal(file.begin() + secs[i].rawOffset,
                   file.begin() + secs[i].rawOffset + secs[i].virtualSize,
                   out.begin() + off))
        << secs[i].name;
    uint32_t dir = secs[i].name == ".reloc" ? 5 : 9;
    EXPECT_EQ(va + (dir == 9 ? 0x10 : 0), get32(out, dirs + dir * 8))
        << secs[i].name;
  }
}

std::string layoutName(const ::testing::TestParamInfo<LayoutCase>& info) {
  static const char* const kNames[] = {"RsrcThenReloc", "RsrcLast",
                                       "RsrcInMiddle", "NoResources"};
  return std::string(info.param.is64 ? "Pe32Plus_" : "Pe32_") +
         kNames[static_cast<int>(info.param.layout)];
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PeWriteTest,
    ::testing::Values(LayoutCase{false, Layout::kRsrcThenReloc, false},
                      LayoutCase{true, Layout::kRsrcThenReloc, false},
                      LayoutCase{false, Layout::kRsrcLast, false},
                      LayoutCase{true, Layout::kRsrcLast, false},
                      LayoutCase{false, Layout::kRsrcInMiddle, true},
                      LayoutCase{true, Layout::kRsrcInMiddle, true},
                      LayoutCase{false, Layout::kNoResources, true},
                      LayoutCase{true, Layout::kNoResources, true}),
    layoutName);

TEST(PeImageTest, ArchitectureAndTheStubsManifest) {
  PeImage image;
  std::string error;
  ASSERT_TRUE(image.parse(makeImage(false, Layout::kRsrcThenReloc), &error));
  EXPECT_EQ("x86 (PE32)", image.architecture());
  const Resource* m =
      image.find(ResId::number(kRtManifest), ResId::number(1), kLangEnUs);
  ASSERT_NE(nullptr, m);
  EXPECT_EQ("<assembly/>", std::string(m->data.begin(), m->data.end()));
  ASSERT_TRUE(image.parse(makeImage(true, Layout::kRsrcLast), &error));
  EXPECT_EQ("x64 (PE32+)", image.architecture());
}

// A relocation that patches the resource section pins it: the writer must
// not move what follows, so it appends a section instead.
TEST(PeImageTest, RelocationIntoTheResourcesKeepsThemInPlace) {
  std::vector<testing::Section> secs;
  std::vector<uint8_t> file = makeImage(false, Layout::kRsrcThenReloc, &secs);
  put32(file, secs[2].rawOffset, secs[1].va);  // the block's page: .rsrc
  PeImage image;
  std::string error;
  ASSERT_TRUE(image.parse(file, &error)) << error;
  image.put(res(kRtIcon, ResId::number(1), kLangEnUs, 5000, 1));
  std::vector<uint8_t> out;
  ASSERT_TRUE(image.write(&out, &error)) << error;
  EXPECT_EQ(4, testing::get16(out, testing::kPeOffset + 6));
  EXPECT_EQ(secs[2].va, get32(out, testing::dataDirs(false) + 5 * 8));
  EXPECT_EQ("", testing::headerProblems(out, false));
}

TEST(PeImageTest, NoRoomForANewSectionHeader) {
  std::vector<uint8_t> file = makeImage(false, Layout::kRsrcInMiddle);
  // Headers end right after the three section entries.
  size_t end = testing::sectionTable(false) + 3 * 40;
  put32(file, testing::kOpt + 60, uint32_t(end));
  PeImage image;
  std::string error;
  ASSERT_TRUE(image.parse(file, &error)) << error;
  std::vector<uint8_t> out;
  EXPECT_FALSE(image.write(&out, &error));
  EXPECT_NE(std::string::npos, error.find("no room")) << error;
}

TEST(PeImageTest, RefusesWhatItCannotRewriteSafely) {
  struct Case {
    const char* what;
    void (*damage)(std::vector<uint8_t>&);
    const char* message;
  };
  const Case cases[] = {
      {"signed",
       [](std::vector<uint8_t>& f) {
         put32(f, testing::dataDirs(false) + 4 * 8, uint32_t(f.size()));
         put32(f, testing::dataDirs(false) + 4 * 8 + 4, 8);
         f.resize(f.size() + 8, 0);
       },
       "signed"},
      {"payload appended",
       [](std::vector<uint8_t>& f) { f.resize(f.size() + 100, 0x42); },
       "100 bytes after its last section"},
      {"symbols",
       [](std::vector<uint8_t>& f) {
         put32(f, testing::kPeOffset + 12, 0x400);
       },
       "symbol table"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> file = makeImage(false, Layout::kRsrcThenReloc);
    c.damage(file);
    PeImage image;
    std::string error;
    ASSERT_TRUE(image.parse(file, &error)) << c.what << ": " << error;
    std::vector<uint8_t> out;
    EXPECT_FALSE(image.write(&out, &error)) << c.what;
    EXPECT_NE(std::string::npos, error.find(c.message))
        << c.what << ": " << error;
    EXPECT_TRUE(out.empty()) << c.what;
  }
}

// Layouts the writer must not trust: section data inside the headers (the
// in-place rewrite would cut the image there), headers that claim more than
// the file holds (a new section header would land on the new resources),
// overlapping sections, and a section-table slot that is not free. Each is
// refused by checkLayout and by write, with nothing written.
TEST(PeImageTest, RefusesUnsoundLayouts) {
  const size_t table = testing::sectionTable(false);
  struct Case {
    const char* what;
    Layout layout;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* message;
    bool layoutRefused;  // checkLayout refuses it too
  };
  const Case cases[] = {
      {"resource data at offset 0", Layout::kRsrcThenReloc,
       [&](std::vector<uint8_t>& f) { put32(f, table + 40 + 20, 0); },
       "inside the headers", true},
      {"code inside the headers", Layout::kRsrcThenReloc,
       [&](std::vector<uint8_t>& f) { put32(f, table + 20, 0x100); },
       "inside the headers", true},
      {"headers larger than the file", Layout::kRsrcInMiddle,
       [](std::vector<uint8_t>& f) {
         put32(f, testing::kOpt + 60, uint32_t(f.size() + 0x1000));
       },
       "more than the file", true},
      {"overlapping sections", Layout::kRsrcInMiddle,
       [&](std::vector<uint8_t>& f) {
         put32(f, table + 2 * 40 + 20, testing::get32(f, table + 40 + 20));
       },
       "overlap", true},
      {"a used slot after the section table", Layout::kRsrcInMiddle,
       [&](std::vector<uint8_t>& f) { f[table + 3 * 40 + 7] = 0x5a; },
       "no room", false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> file = makeImage(false, c.layout);
    c.damage(file);
    PeImage image;
    std::string error;
    ASSERT_TRUE(image.parse(file, &error)) << c.what << ": " << error;
    EXPECT_EQ(!c.layoutRefused, image.checkLayout(&error)) << c.what;
    image.put(Resource{ResId::number(kRtManifest), ResId::number(1), 0x409, 0,
                       std::vector<uint8_t>(600, 'm')});
    std::vector<uint8_t> out;
    error.clear();
    EXPECT_FALSE(image.write(&out, &error)) << c.what;
    EXPECT_NE(std::string::npos, error.find(c.message))
        << c.what << ": " << error;
    EXPECT_TRUE(out.empty()) << c.what;
  }
}

// Damaged and hostile images: each is refused with its reason, quickly.
TEST(PeImageTest, HostileImages) {
  std::vector<testing::Section> secs;
  const std::vector<uint8_t> good =
      makeImage(false, Layout::kRsrcThenReloc, &secs);
  const size_t rsrc = secs[1].rawOffset;
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* message;
  };
  const Case cases[] = {
      {"empty", [](std::vector<uint8_t>& f) { f.clear(); }, "no MZ header"},
      {"cut in the PE header", [](std::vector<uint8_t>& f) { f.resize(0x90); },
       "no PE header"},
      {"e_lfanew far away",
       [](std::vector<uint8_t>& f) { put32(f, 0x3c, 0xfffffff0); },
       "no PE header"},
      {"cut in the sections",
       [&](std::vector<uint8_t>& f) { f.resize(secs[2].rawOffset + 4); },
       "beyond the end of the file"},
      {"section count too large",
       [](std::vector<uint8_t>& f) { put16(f, testing::kPeOffset + 6, 5000); },
       "bad section count"},
      {"odd file alignment",
       [](std::vector<uint8_t>& f) { put32(f, testing::kOpt + 36, 0x300); },
       "unsupported alignments"},
      {"root loops to itself",
       [&](std::vector<uint8_t>& f) { put32(f, rsrc + 0x14, 0x80000000); },
       "loops"},
      {"language table loops to the names",
       [&](std::vector<uint8_t>& f) { put32(f, rsrc + 0x2c, 0x80000018); },
       "loops"},
      {"entry count lies",
       [&](std::vector<uint8_t>& f) { put16(f, rsrc + 0x0e, 0xffff); },
       "claims more entries than fit"},
      {"a fourth level",
       [&](std::vector<uint8_t>& f) { put32(f, rsrc + 0x44, 0x80000048); },
       "deeper than type, name and language"},
      {"data entry beyond the section",
       [&](std::vector<uint8_t>& f) { put32(f, rsrc + 0x44, 0x7ff0); },
       "truncated"},
      {"data beyond the file",
       [&](std::vector<uint8_t>& f) { put32(f, rsrc + 0x4c, 0x7fffffff); },
       "lies outside the file"},
      {"name string beyond the section",
       [&](std::vector<uint8_t>& f) {
         put32(f, rsrc + 0x28, 0x80000000 | 0x1ff);
       },
       "resource name"},
      {"type that is a leaf",
       [&](std::vector<uint8_t>& f) { put32(f, rsrc + 0x14, 0x48); },
       "not a directory"},
      {"directory outside the sections",
       [](std::vector<uint8_t>& f) {
         put32(f, testing::dataDirs(false) + 2 * 8, 0x900000);
       },
       "outside the image's sections"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> file = good;
    c.damage(file);
    PeImage image;
    std::string error;
    EXPECT_FALSE(image.parse(file, &error)) << c.what;
    EXPECT_NE(std::string::npos, error.find(c.message))
        << c.what << ": " << error;
  }
}

// info loads only the image part of a large self-extractor: its end comes
// from the headers alone.
TEST(PeImageTest, ImageEndFromTheHeaders) {
  for (bool is64 : {false, true}) {
    std::vector<uint8_t> file = makeImage(is64, Layout::kRsrcInMiddle);
    size_t size = file.size();
    file.resize(size + 5000, 0x42);  // a payload
    std::vector<uint8_t> head(file.begin(), file.begin() + 0x400);
    uint64_t end = 0;
    ASSERT_TRUE(peImageEndFromHeaders(head, &end)) << is64;
    EXPECT_EQ(size, end) << is64;
    head.resize(testing::sectionTable(is64) + 2 * 40);  // the table cut short
    EXPECT_FALSE(peImageEndFromHeaders(head, &end)) << is64;
    head.assign(0x400, 0);
    EXPECT_FALSE(peImageEndFromHeaders(head, &end)) << is64;
  }
}

// Random damage to the headers and the resource tree: every image is either
// refused or read, and one that is read is written and read again. Under
// the sanitizers this catches any read outside the file.
TEST(PeImageTest, RandomDamageIsRefusedOrRoundTrips) {
  std::vector<testing::Section> secs;
  for (bool is64 : {false, true}) {
    const std::vector<uint8_t> good =
        makeImage(is64, Layout::kRsrcThenReloc, &secs);
    std::mt19937 rng(is64 ? 64 : 32);
    int read = 0;
    for (int round = 0; round < 3000; ++round) {
      std::vector<uint8_t> file = good;
      int edits = 1 + int(rng() % 4);
      for (int e = 0; e < edits; ++e) {
        // Mostly the resource tree, sometimes the headers.
        size_t at =
            rng() % 4 ? secs[1].rawOffset + rng() % 0x60 : rng() % 0x200;
        file[at] = uint8_t(rng() % 3 ? rng() : (rng() % 2 ? 0x80 : 0xff));
      }
      if (rng() % 8 == 0) file.resize(rng() % file.size());
      PeImage image;
      std::string error;
      if (!image.parse(file, &error)) {
        EXPECT_FALSE(error.empty());
        continue;
      }
      ++read;
      std::vector<uint8_t> out;
      if (!image.write(&out, &error)) continue;
      PeImage back;
      EXPECT_TRUE(back.parse(out, &error)) << round << ": " << error;
      EXPECT_EQ(image.resources().size(), back.resources().size()) << round;
    }
    EXPECT_GT(read, 100) << "the damage should leave some images readable";
  }
}

TEST(PeChecksumTest, MatchesTheReferenceForAnyLengthAndSplit) {
  std::mt19937 rng(7);
  for (size_t size : {0u, 1u, 67u, 68u, 69u, 4096u, 200001u}) {
    std::vector<uint8_t> data(size);
    for (auto& b : data) b = uint8_t(rng());
    size_t field = 64;
    uint32_t want = testing::referenceChecksum(data, field);
    PeChecksum whole(field);
    whole.add(data.data(), data.size());
    EXPECT_EQ(want, whole.finish()) << size;
    PeChecksum pieces(field);
    for (size_t at = 0; at < size;) {  // odd-sized pieces cross words
      size_t n = std::min<size_t>(size - at, 1 + rng() % 5001);
      pieces.add(data.data() + at, n);
      at += n;
    }
    EXPECT_EQ(want, pieces.finish()) << size;
  }
}

TEST(Utf16Test, ConvertsAndRefusesBadUtf8) {
  std::u16string w;
  ASSERT_TRUE(utf8ToUtf16("A\xC3\xA9\xE2\x9C\x93\xF0\x9F\x98\x80", &w));
  EXPECT_EQ(u"A\u00e9\u2713\U0001F600", w);
  EXPECT_EQ("A\xC3\xA9\xE2\x9C\x93\xF0\x9F\x98\x80", utf16ToUtf8(w));
  for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80",
                          "\xF4\x90\x80\x80", "\xFF", "a\x80"}) {
    EXPECT_FALSE(utf8ToUtf16(bad, &w)) << bad;
  }
  EXPECT_EQ("\xEF\xBF\xBD", utf16ToUtf8(std::u16string(1, char16_t(0xd800))));
}

}  // namespace
}  // namespace sfxpack
