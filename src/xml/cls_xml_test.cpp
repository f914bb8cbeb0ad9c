// ClsXml: every operation of the handle, loading text and files (byte-order
// marks, declared charsets, the file-name rule), the node check, shared
// documents, and parse-serialize-parse on configuration documents.
#include "xml/cls_xml.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "text/string_buffer.h"
#include "text/xstring.h"
#include "xml/tree_node.h"
#include "xml/xml_test_util.h"

namespace sfx {

class ClsXmlTestPeer {
 public:
  // Points `handle` at child `index` of `other`'s node.
  static void attachToChild(ClsXml& handle, const ClsXml& other, int index) {
    handle.attach(other.node_->getChild(index));
  }
};

namespace {

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n";

std::string getXml(ClsXml& xml) {
  XString out;
  EXPECT_TRUE(xml.GetXml(out));
  return out.getUtf8();
}

bool load(ClsXml& xml, const std::string& text, bool trim = true) {
  XString x;
  x.setFromUtf8(text.c_str());
  return xml.LoadXml2(x, trim);
}

std::string logText(ClsXml& xml) {
  StringBuffer sb;
  xml.log().getLogText(sb);
  return sb.getString();
}

std::string child(ClsXml& xml, const char* tag) {
  XString out;
  xml.GetChildContent(tag, out);
  return out.getUtf8();
}

void writeFile(const std::string& name, const std::string& bytes) {
  FILE* f = std::fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr) << name;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

TEST(ClsXmlTest, NewHandleHoldsAnUnnamedRoot) {
  ClsXml xml;
  EXPECT_EQ(getXml(xml), std::string(kDecl) + "<unnamed />\r\n");
  StringBuffer tag;
  EXPECT_TRUE(xml.GetTag(tag));
  EXPECT_STREQ(tag.getString(), "unnamed");
}

TEST(ClsXmlTest, BuildsAConfigurationDocument) {
  ClsXml xml;
  ASSERT_TRUE(xml.SetTag("SfxConfig"));
  ASSERT_TRUE(xml.SetEncoding("utf-8"));
  ASSERT_TRUE(xml.UpdateChildBool("AutoTemp", false));
  ASSERT_TRUE(xml.UpdateChildBool("ShowMain", true));
  ASSERT_TRUE(xml.UpdateChildInt("KeyLength", 128));
  ASSERT_TRUE(xml.UpdateChildInt("MainWidth", -5));
  ASSERT_TRUE(xml.UpdateChildContent("MainTitle", "A & B <1>"));
  ASSERT_TRUE(xml.UpdateChildContent("UnzipDir", ""));
  EXPECT_EQ(getXml(xml),
            std::string(kDecl) +
                "<SfxConfig>\r\n"
                "    <AutoTemp>0</AutoTemp>\r\n"
                "    <ShowMain>1</ShowMain>\r\n"
                "    <KeyLength>128</KeyLength>\r\n"
                "    <MainWidth>-5</MainWidth>\r\n"
                "    <MainTitle>A &amp; B &lt;1&gt;</MainTitle>\r\n"
                "    <UnzipDir />\r\n"
                "</SfxConfig>\r\n");
}

TEST(ClsXmlTest, ChildValuesReadAsIntegersAndFlags) {
  ClsXml xml;
  ASSERT_TRUE(load(xml,
                   "<c><a>1</a><b>0</b><e></e><t>true</t><y>yes</y><two>2</two>"
                   "<neg>-5</neg><pos>+7</pos><z>007</z><mix>12abc</mix>"
                   "<sp> 3</sp><big>4294967297</big></c>"));
  struct Case {
    const char* tag;
    int value;
  };
  const Case cases[] = {
      {"a", 1},   {"b", 0},       {"e", 0},   {"t", 0}, {"y", 0},
      {"two", 2}, {"neg", -5},    {"pos", 7}, {"z", 7}, {"mix", 12},
      {"sp", 3},  {"missing", 0}, {"A", 0},  // tags compare case-sensitively
      {"big", 1},                            // overflow wraps
  };
  for (const Case& c : cases) {
    EXPECT_EQ(xml.GetChildInt(c.tag), c.value) << c.tag;
    EXPECT_EQ(xml.GetChildBool(c.tag), c.value != 0) << c.tag;
  }
}

TEST(ClsXmlTest, ChildContentOfTheFirstMatchingChild) {
  ClsXml xml;
  ASSERT_TRUE(load(xml, "<a><b>1</b><b>2</b><c/></a>"));
  EXPECT_EQ(child(xml, "b"), "1");
  XString out;
  out.setFromUtf8("stale");
  EXPECT_TRUE(xml.GetChildContent("c", out));
  EXPECT_TRUE(out.isEmpty());
  out.setFromUtf8("stale");
  EXPECT_FALSE(xml.GetChildContent("d", out));
  EXPECT_TRUE(out.isEmpty());
}

TEST(ClsXmlTest, UpdateReplacesTheFirstChildOrAppends) {
  ClsXml xml;
  ASSERT_TRUE(load(xml,
                   "<SfxConfig><UnzipDir>a</UnzipDir>"
                   "<UnzipDir>b</UnzipDir></SfxConfig>"));
  ASSERT_TRUE(xml.UpdateChildContent(" UnzipDir\r\n", "C:\\x"));
  ASSERT_TRUE(xml.UpdateChildContent("SetupExeArgs", "-q"));
  EXPECT_EQ(dumpTree(xml.getTreeNode()),
            "SfxConfig(UnzipDir\"C:\\x\" UnzipDir\"b\" SetupExeArgs\"-q\")");
  // NewChild always appends; spaces in the tag become "_".
  ASSERT_TRUE(xml.NewChild("  My Key\t", "v"));
  ASSERT_TRUE(xml.NewChild("UnzipDir", ""));
  EXPECT_EQ(xml.GetNumChildren(), 5);
  EXPECT_EQ(dumpTree(xml.getTreeNode()),
            "SfxConfig(UnzipDir\"C:\\x\" UnzipDir\"b\" SetupExeArgs\"-q\" "
            "My_Key\"v\" UnzipDir)");
}

TEST(ClsXmlTest, SetEncodingCleansTheNameAndReplacesTheOldOne) {
  ClsXml xml;
  ASSERT_TRUE(load(xml,
                   "<?xml version=\"1.0\" encoding=\"x\" "
                   "standalone=\"no\"?><a/>"));
  ASSERT_TRUE(xml.SetEncoding(" win</dows->1252 \r\n"));
  EXPECT_EQ(getXml(xml),
            "<?xml version=\"1.0\" encoding=\"windows-1252\" "
            "standalone=\"no\" ?>\r\n<a />\r\n");
  // A declaration without an encoding gets utf-8 from GetXml.
  ASSERT_TRUE(load(xml, "<?xml version=\"1.1\"?><a/>"));
  EXPECT_EQ(getXml(xml),
            "<?xml version=\"1.1\" encoding=\"utf-8\" ?>\r\n<a />\r\n");
}

TEST(ClsXmlTest, FailedLoadLeavesTheDocument) {
  ClsXml xml;
  ASSERT_TRUE(load(xml, "<a>1</a>"));
  for (const char* text : {"", "no markup", "<!-- -->", "   "}) {
    EXPECT_FALSE(load(xml, text)) << text;
    EXPECT_EQ(logText(xml),
              "MarlithLog:\r\n  LoadXml2:\r\n  --LoadXml2\r\n--MarlithLog\r\n")
        << text;
    EXPECT_EQ(dumpTree(xml.getTreeNode()), "a\"1\"");
  }
  EXPECT_FALSE(load(xml, "<!DOCTYPE x [ <a/>"));
  EXPECT_NE(logText(xml).find("Failed to parse DTD"), std::string::npos);
  EXPECT_EQ(dumpTree(xml.getTreeNode()), "a\"1\"");
}

TEST(ClsXmlTest, LoadWithoutTrimKeepsWhitespace) {
  ClsXml xml;
  ASSERT_TRUE(load(xml, "<a><b> x </b></a>", false));
  EXPECT_EQ(child(xml, "b"), " x ");
  ASSERT_TRUE(load(xml, "<a><b> x </b></a>", true));
  EXPECT_EQ(child(xml, "b"), "x");
}

TEST(ClsXmlTest, FilesWithByteOrderMarksAndDeclaredCharsets) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* content;  // of the child t; null when the load fails
  };
  const std::string utf16le(
      "\xFF\xFE<\0r\0>\0<\0t\0>\0\xE9\0<\0/\0t\0>\0<\0/\0r\0>\0", 32);
  const std::string utf16be(
      "\xFE\xFF\0<\0r\0>\0<\0t\0>\0\xE9\0<\0/\0t\0>\0<\0/\0r\0>", 32);
  const Case cases[] = {
      {"xml_plain.xml", "<r><t>\xC3\xA9</t></r>", "\xC3\xA9"},
      {"xml_bom8.xml", "\xEF\xBB\xBF<r><t>\xC3\xA9</t></r>", "\xC3\xA9"},
      {"xml_le.xml", utf16le, "\xC3\xA9"},
      {"xml_be.xml", utf16be, "\xC3\xA9"},
      {"xml_1252.xml",
       "<?xml version='1.0' encoding='windows-1252'?><r><t>\xE9\x80</t></r>",
       "\xC3\xA9\xE2\x82\xAC"},
      {"xml_1252b.xml",
       "<?XML Version = \"1.0\" Encoding = \"Windows_1252\" "
       "?><r><t>\xE9</t></r>",
       "\xC3\xA9"},
      {"xml_utf8decl.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><t>\xC3\xA9</t></r>",
       "\xC3\xA9"},
      {"xml_latin2.xml",
       "<?xml version=\"1.0\" encoding=\"iso-8859-2\"?><r><t>\xE9\xB9</t></r>",
       "\xC3\xA9\xC5\xA1"},
      {"xml_sjis.xml",
       "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r><t>\x82\xA0</t></r>",
       "\xE3\x81\x82"},
      // A name the charset lookup does not know: the bytes stay as they are.
      {"xml_unknown.xml",
       "<?xml version=\"1.0\" encoding=\"x-nothing\"?><r><t>\xE9</t></r>",
       "\xE9"},
      {"xml_empty.xml", "", nullptr},
  };
  for (const Case& c : cases) {
    writeFile(c.name, c.bytes);
    ClsXml xml;
    bool ok = load(xml, c.name);
    EXPECT_EQ(ok, c.content != nullptr) << c.name << "\n" << logText(xml);
    if (ok) {
      EXPECT_EQ(child(xml, "t"), c.content) << c.name;
    }
    std::remove(c.name);
  }
}

TEST(ClsXmlTest, CharsetWithoutConverterFailsCleanly) {
  // A name the lookup knows, for a code page the converter has no table for.
  writeFile("xml_userdef.xml",
            "<?xml version=\"1.0\" encoding=\"x-user-defined\"?><r><t>\xE9</t>"
            "</r>");
  ClsXml xml;
  EXPECT_FALSE(load(xml, "xml_userdef.xml"));
  EXPECT_NE(logText(xml).find("Failed to convert XML to utf-8"),
            std::string::npos)
      << logText(xml);
  EXPECT_EQ(dumpTree(xml.getTreeNode()), "unnamed");
  std::remove("xml_userdef.xml");
}

TEST(ClsXmlTest, FileNameRule) {
  writeFile("xml_name.XML", "<r><t>file</t></r>");
  ClsXml xml;
  // Upper-case extension, leading whitespace trimmed.
  ASSERT_TRUE(load(xml, " \txml_name.XML"));
  EXPECT_EQ(child(xml, "t"), "file");
  // The name must end the text: with a line break after it, it is text.
  EXPECT_FALSE(load(xml, "xml_name.XML\r\n"));
  std::remove("xml_name.XML");

  // A missing file fails with the file layer's entries.
  EXPECT_FALSE(load(xml, "xml_missing.xml"));
  EXPECT_NE(logText(xml).find("Failed to open for read."), std::string::npos)
      << logText(xml);
  EXPECT_EQ(child(xml, "t"), "file");

  // 100 bytes or more: text, not a file name, even when such a file exists.
  std::string name99 = std::string(95, 'n') + ".xml";
  std::string name100 = "n" + name99;
  writeFile(name99, "<r><t>99</t></r>");
  writeFile(name100, "<r><t>100</t></r>");
  EXPECT_TRUE(load(xml, name99));
  EXPECT_EQ(child(xml, "t"), "99");
  EXPECT_FALSE(load(xml, name100));
  EXPECT_EQ(child(xml, "t"), "99");
  std::remove(name99.c_str());
  std::remove(name100.c_str());
}

// Configuration documents as packers and people write them: loaded and
// written back, they give the canonical layout, and loading that again
// gives the same text.
TEST(ClsXmlTest, ConfigurationDocumentsReachAFixedPoint) {
  struct Case {
    const char* doc;
    const char* xml;  // the first GetXml after the declaration line
  };
  const Case cases[] = {
      {"<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<SfxConfig>\n"
       "    <VersionCreatedBy>sfxpack 0.1</VersionCreatedBy>\n"
       "    <ShowMain>1</ShowMain>\n    <ShowProgress>1</ShowProgress>\n"
       "    <ShowFin>0</ShowFin>\n    <WaitForSetup>1</WaitForSetup>\n"
       "    <MainTitle>Hello example</MainTitle>\n"
       "    <DefaultDir>C:\\hello</DefaultDir>\n</SfxConfig>\n",
       "<SfxConfig>\r\n"
       "    <VersionCreatedBy>sfxpack 0.1</VersionCreatedBy>\r\n"
       "    <ShowMain>1</ShowMain>\r\n    <ShowProgress>1</ShowProgress>\r\n"
       "    <ShowFin>0</ShowFin>\r\n    <WaitForSetup>1</WaitForSetup>\r\n"
       "    <MainTitle>Hello example</MainTitle>\r\n"
       "    <DefaultDir>C:\\hello</DefaultDir>\r\n</SfxConfig>\r\n"},
      {"<SfxConfig><AutoTemp>1</AutoTemp><SetupExe>setup.exe</SetupExe>"
       "<SetupExeArgs>/S \"x y\" &amp;&amp; z</SetupExeArgs><ShowMain>0"
       "</ShowMain><ShowProgress>0</ShowProgress></SfxConfig>",
       "<SfxConfig>\r\n    <AutoTemp>1</AutoTemp>\r\n"
       "    <SetupExe>setup.exe</SetupExe>\r\n"
       "    <SetupExeArgs>/S \"x y\" &amp;&amp; z</SetupExeArgs>\r\n"
       "    <ShowMain>0</ShowMain>\r\n    <ShowProgress>0</ShowProgress>\r\n"
       "</SfxConfig>\r\n"},
      {"<SfxConfig/>", "<SfxConfig />\r\n"},
      {"\xEF\xBB\xBF<SfxConfig>\r\n\t<MainCaption><![CDATA[Click <b>Unzip"
       "</b>]]></MainCaption>\r\n\t<UnzipDir>%TEMP%\\Caf\xC3\xA9</UnzipDir>"
       "\r\n</SfxConfig>",
       "<SfxConfig>\r\n"
       "    <MainCaption><![CDATA[Click <b>Unzip</b>]]></MainCaption>\r\n"
       "    <UnzipDir>%TEMP%\\Caf\xC3\xA9</UnzipDir>\r\n</SfxConfig>\r\n"},
  };
  for (const Case& c : cases) {
    ClsXml xml;
    ASSERT_TRUE(load(xml, c.doc)) << c.doc;
    std::string once = getXml(xml);
    EXPECT_EQ(once, std::string(kDecl) + c.xml);
    ASSERT_TRUE(load(xml, once));
    EXPECT_EQ(getXml(xml), once);
  }
}

TEST(ClsXmlTest, ChildHandleSharesTheDocument) {
  ClsXml* root = new ClsXml;
  ASSERT_TRUE(
      load(*root, "<?xml version=\"1.0\"?><a><b x=\"1\">t</b><c/></a>"));
  ClsXml childHandle;
  ClsXmlTestPeer::attachToChild(childHandle, *root, 0);
  TreeInfo* doc = root->getTreeNode()->getDocument();
  EXPECT_EQ(doc->getHandleCount(), 2u);

  // A child's node is written without prologue, starting with CR LF.
  EXPECT_EQ(getXml(childHandle), "\r\n<b x=\"1\">t</b>\r\n");
  // The document outlives the root's handle while the child's remains.
  delete root;
  EXPECT_EQ(doc->getHandleCount(), 1u);
  ASSERT_TRUE(childHandle.UpdateChildContent("d", "new"));
  EXPECT_EQ(getXml(childHandle),
            "\r\n<b x=\"1\">t\r\n    <d>new</d>\r\n</b>\r\n");
}

TEST(ClsXmlTest, InvalidNodeIsReplacedByAFreshDocument) {
  ClsXml xml;
  ASSERT_TRUE(load(xml, "<a><b>1</b></a>"));

  // A node that fails its validity byte is abandoned, not released; the
  // test restores and frees each one itself.
  TreeNode* broken = xml.getTreeNode();
  TreeNodeTestPeer::setValidity(*broken, TreeNode::kDestroyed);
  XString out;
  EXPECT_FALSE(xml.GetXml(out));
  EXPECT_NE(logText(xml).find("m_tree is invalid."), std::string::npos);
  EXPECT_EQ(dumpTree(xml.getTreeNode()), "rroot");
  TreeNodeTestPeer::setValidity(*broken, TreeNode::kValid);
  delete broken;

  broken = xml.getTreeNode();
  TreeNodeTestPeer::setValidity(*broken, TreeNode::kDestroyed);
  EXPECT_EQ(xml.GetChildInt("b"), 0);
  EXPECT_EQ(dumpTree(xml.getTreeNode()), "rRoot");
  TreeNodeTestPeer::setValidity(*broken, TreeNode::kValid);
  delete broken;

  // The handle works on its new document.
  EXPECT_TRUE(xml.UpdateChildInt("b", 2));
  EXPECT_EQ(xml.GetChildInt("b"), 2);
}

// A 0.7 MB document whose declaration holds many pseudo-attributes, half of
// them "standalone", and whose root holds many attributes. GetXml moves
// every standalone pair last and SetEncoding removes every encoding pair,
// each in one pass over the set (a rebuild per pair takes minutes here).
TEST(ClsXmlTest, ManyPseudoAttributesSerializeInLinearTime) {
  const int kPairs = 20000;
  std::string decl = "<?xml version=\"1.0\"";
  std::string others = decl;
  std::string standalones;
  for (int i = 0; i < kPairs; ++i) {
    const std::string pair = (i % 2 ? " standalone=\"s" : " p") +
                             std::to_string(i) + (i % 2 ? "\"" : "=\"v\"");
    decl += pair;
    (i % 2 ? standalones : others) += pair;
  }
  decl += " encoding=\"utf-8\" ?>\r\n";
  std::string root = "<r";
  for (int i = 0; i < kPairs; ++i)
    root += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
  root += ">t</r>";

  ClsXml xml;
  ASSERT_TRUE(load(xml, decl + root));
  std::string out = getXml(xml);
  const std::string head =
      others + " encoding=\"utf-8\"" + standalones + " ?>\r\n";
  ASSERT_GT(out.size(), head.size() + root.size());
  EXPECT_EQ(out.compare(0, head.size(), head), 0);
  EXPECT_EQ(out.compare(head.size(), root.size(), root), 0);
  // Written again, nothing moves.
  EXPECT_EQ(getXml(xml), out);

  std::string encodings = "<?xml version=\"1.0\"";
  for (int i = 0; i < kPairs; ++i)
    encodings += " encoding=\"e" + std::to_string(i) + "\" x=\"1\"";
  ASSERT_TRUE(load(xml, encodings + " ?><r/>"));
  ASSERT_TRUE(xml.SetEncoding("utf-8"));
  std::string rest;
  for (int i = 0; i < kPairs; ++i) rest += " x=\"1\"";
  const std::string expected =
      "<?xml version=\"1.0\"" + rest + " encoding=\"utf-8\" ?>\r\n<r />";
  EXPECT_EQ(getXml(xml).compare(0, expected.size(), expected), 0);
}

}  // namespace
}  // namespace sfx
