#include "archive/sfx_config.h"

#include <gtest/gtest.h>

#include "text/xstring.h"

namespace sfx {
namespace {

bool load(SfxConfig& c, const char* doc) {
  XString x;
  x.setFromUtf8(doc);
  return c.loadDocument(x);
}

std::string text(const SfxConfig& c, const char* key) {
  XString x;
  c.getText(key, x);
  return x.getUtf8();
}

TEST(SfxConfigTest, ConstructionDefaults) {
  SfxConfig c;
  EXPECT_TRUE(c.getShowMain());
  EXPECT_TRUE(c.getShowProgress());
  EXPECT_TRUE(c.getWaitForSetup());
  EXPECT_FALSE(c.getShowFin());
  EXPECT_FALSE(c.getAutoTemp());
  EXPECT_EQ(128, c.getInt("KeyLength"));
  EXPECT_FALSE(c.isSilent());
  EXPECT_FALSE(c.unzipDirKnown());
  XString doc;
  c.getDocument(doc);
  std::string d = doc.getUtf8();
  EXPECT_LT(d.find("<AutoTemp>0</AutoTemp>"),
            d.find("<KeyLength>128</KeyLength>"));
}

TEST(SfxConfigTest, LoadedDocumentReplacesEverything) {
  SfxConfig c;
  ASSERT_TRUE(load(
      c,
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<SfxConfig>\n</SfxConfig>"));
  EXPECT_FALSE(c.getShowMain());
  EXPECT_FALSE(c.getWaitForSetup());
  EXPECT_TRUE(c.isSilent());
  EXPECT_EQ(0, c.getInt("KeyLength"));
}

TEST(SfxConfigTest, ValuesReadAsIntegers) {
  SfxConfig c;
  ASSERT_TRUE(
      load(c,
           "<SfxConfig><ShowMain>true</ShowMain><ShowProgress>2</ShowProgress>"
           "<MainWidth>-5</MainWidth><ShowFin>007x</ShowFin><A>+3</A>"
           "<UnzipDir>C:\\a &amp; b</UnzipDir><UnzipDir>second</UnzipDir>"
           "<Empty/></SfxConfig>"));
  EXPECT_FALSE(c.getShowMain());
  EXPECT_TRUE(c.getShowProgress());
  EXPECT_EQ(-5, c.getInt("MainWidth"));
  EXPECT_EQ(7, c.getInt("ShowFin"));
  EXPECT_EQ(3, c.getInt("A"));
  EXPECT_EQ("C:\\a & b", text(c, "UnzipDir"));  // the first of two
  EXPECT_EQ("", text(c, "Empty"));
  EXPECT_EQ("", text(c, "Missing"));
  EXPECT_TRUE(c.unzipDirKnown());
  c.setText(" UnzipDir ", "D:\\x");
  EXPECT_EQ("D:\\x", text(c, "UnzipDir"));
}

TEST(SfxConfigTest, SetAppendsMissingKeysLast) {
  SfxConfig c;
  c.setText("Unzip Dir", "x");
  c.setAutoTemp(true);
  XString doc;
  c.getDocument(doc);
  std::string d = doc.getUtf8();
  EXPECT_NE(std::string::npos,
            d.find("<Unzip_Dir>x</Unzip_Dir>\r\n</SfxConfig>"));
  EXPECT_TRUE(c.unzipDirKnown());
}

TEST(SfxConfigTest, UnparsableDocumentKeepsWhatIsInForce) {
  for (const char* bad : {"", "not xml", "   "}) {
    SfxConfig c;
    EXPECT_FALSE(load(c, bad)) << bad;
    EXPECT_TRUE(c.getShowMain()) << bad;
    EXPECT_EQ(128, c.getInt("KeyLength")) << bad;
  }
}

TEST(SfxConfigTest, SetKeepsTheFirstOfTwoAndAddsWhatIsMissing) {
  SfxConfig c;
  ASSERT_TRUE(load(
      c,
      "<SfxConfig><UnzipDir>a</UnzipDir><UnzipDir>b</UnzipDir></SfxConfig>"));
  c.setText("UnzipDir", "c");
  XString doc;
  c.getDocument(doc);
  std::string d = doc.getUtf8();
  EXPECT_NE(std::string::npos, d.find("<UnzipDir>c</UnzipDir>")) << d;
  EXPECT_NE(std::string::npos, d.find("<UnzipDir>b</UnzipDir>")) << d;
  EXPECT_EQ("c", text(c, "UnzipDir"));
  EXPECT_EQ(0u, d.find("<?xml version=\"1.0\" encoding=\"utf-8\" ?>")) << d;
}

}  // namespace
}  // namespace sfx
