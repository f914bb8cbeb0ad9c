// The serializer: byte-exact output for the layout rules (CR LF, four spaces
// a level up to 200, empty-element tags, content and children together), the
// escaping of content and attribute values, CDATA, and the prologue.
#include "xml/xml_serializer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "text/string_buffer.h"
#include "xml/attribute_set.h"
#include "xml/tree_node.h"
#include "xml/xml_parser.h"

namespace sfx {
namespace {

struct Deleter {
  void operator()(TreeNode* n) const { delete n; }
};
using Tree = std::unique_ptr<TreeNode, Deleter>;

std::string serialize(TreeNode* node, int index = 0, int depth = 0,
                      bool noDeclaration = false) {
  StringBuffer sb;
  EXPECT_TRUE(serializeXmlNode(node, sb, index, depth, noDeclaration));
  return sb.getString();
}

TEST(XmlSerializerTest, ParsedDocumentsAreWrittenExactly) {
  struct Case {
    const char* text;
    const char* xml;
  };
  const Case cases[] = {
      {"<a/>", "<a />\r\n"},
      {"<a></a>", "<a />\r\n"},
      {"<a>1&lt;2</a>", "<a>1&lt;2</a>\r\n"},
      {"<a><![CDATA[1<2]]></a>", "<a><![CDATA[1<2]]></a>\r\n"},
      {"<a>\"q\" 'a' &amp; &gt;</a>", "<a>\"q\" 'a' &amp; &gt;</a>\r\n"},
      {"<a x=\"a&quot;b\" y='&apos;&lt;&gt;&amp;'/>",
       "<a x=\"a&quot;b\" y=\"&apos;&lt;&gt;&amp;\" />\r\n"},
      {"<a>x<b/></a>", "<a>x\r\n    <b />\r\n</a>\r\n"},
      {"<SfxConfig><AutoTemp>1</AutoTemp><SetupExe>setup.exe</SetupExe>"
       "</SfxConfig>",
       "<SfxConfig>\r\n    <AutoTemp>1</AutoTemp>\r\n"
       "    <SetupExe>setup.exe</SetupExe>\r\n</SfxConfig>\r\n"},
      {"<a><b><c/></b><d>t</d></a>",
       "<a>\r\n    <b>\r\n        <c />\r\n    </b>\r\n    <d>t</d>\r\n"
       "</a>\r\n"},
      // The declaration: attributes as stored, "standalone" moved last.
      {"<?xml version=\"1.0\" standalone=\"yes\" encoding=\"utf-8\"?><a/>",
       "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\" ?>\r\n"
       "<a />\r\n"},
      {"<?xml ?><a/>", "<?xml ?>\r\n<a />\r\n"},
      // Stylesheets with attributes, the DOCTYPE and the instructions.
      {"<?xml-stylesheet href='s.css'?><?xml-stylesheet ?><!DOCTYPE a>"
       "<?pi x?><a/>",
       "<?xml-stylesheet href=\"s.css\" ?>\r\n<!DOCTYPE a>\n\r\n<?pi x?>\n"
       "\r\n<a />\r\n"},
  };
  for (const Case& c : cases) {
    Tree root(parseXmlText(c.text, nullptr, true));
    ASSERT_NE(root, nullptr) << c.text;
    EXPECT_EQ(serialize(root.get()), c.xml) << c.text;
  }
}

TEST(XmlSerializerTest, SuppressedDeclarationKeepsTheRestOfThePrologue) {
  Tree root(
      parseXmlText("<?xml version=\"1.0\"?><!DOCTYPE a><a/>", nullptr, true));
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(serialize(root.get(), 0, 0, true), "<!DOCTYPE a>\n\r\n<a />\r\n");
}

TEST(XmlSerializerTest, ChildStartsWithLineBreakAndNoPrologue) {
  Tree root(parseXmlText("<?xml version=\"1.0\"?><a><b x=\"1\">t</b><c/></a>",
                         nullptr, true));
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(serialize(root->getChild(0)), "\r\n<b x=\"1\">t</b>\r\n");
  // A later index and a depth: no leading line break, indented.
  EXPECT_EQ(serialize(root->getChild(1), 1, 2), "        <c />\r\n");
}

TEST(XmlSerializerTest, EmptyTagIsWrittenAsNothing) {
  Tree root(TreeNode::createRoot("$$"));
  ASSERT_NE(root, nullptr);
  EXPECT_STREQ(root->getTag(), "");
  EXPECT_EQ(serialize(root.get()), "<nothing />\r\n");
  ASSERT_TRUE(root->setContent("x"));
  EXPECT_EQ(serialize(root.get()), "<nothing>x</nothing>\r\n");
}

TEST(XmlSerializerTest, CdataHoldingItsTerminatorDropsTheMarkers) {
  Tree root(TreeNode::createRoot("a"));
  ASSERT_NE(root, nullptr);
  ASSERT_TRUE(root->setContent("x]]>y<![CDATA[z"));
  root->setCdata(true);
  EXPECT_EQ(serialize(root.get()), "<a><![CDATA[xyz]]></a>\r\n");
}

TEST(XmlSerializerTest, AttributeValueEndsAtZeroByte) {
  Tree root(TreeNode::createRoot("a"));
  ASSERT_NE(root, nullptr);
  ASSERT_TRUE(root->addAttribute("v", 1, "ab\0cd", 5));
  EXPECT_EQ(serialize(root.get()), "<a v=\"ab\" />\r\n");
}

TEST(XmlSerializerTest, IndentationStopsGrowingAtDepthFifty) {
  // A chain of 61 elements: the one at depth 60 is indented like depth 50.
  Tree root(TreeNode::createRoot("n"));
  TreeNode* n = root.get();
  for (int i = 1; i <= 60; ++i) {
    TreeNode* child = TreeNode::createNode("n");
    ASSERT_TRUE(n->appendChild(child));
    n = child;
  }
  std::string out = serialize(root.get());
  // Lines 0-60 are the start tags at depths 0-60, lines 61-120 the end tags
  // at depths 59-0.
  std::string expected;
  for (int d = 0; d <= 60; ++d) {
    expected += std::string(4 * std::min(d, 50), ' ');
    expected += d < 60 ? "<n>\r\n" : "<n />\r\n";
  }
  for (int d = 59; d >= 0; --d) {
    expected += std::string(4 * std::min(d, 50), ' ') + "</n>\r\n";
  }
  EXPECT_EQ(out, expected);
}

TEST(XmlSerializerTest, InvalidNodeWritesNothing) {
  StringBuffer sb;
  EXPECT_FALSE(serializeXmlNode(nullptr, sb, 0, 0, false));
  EXPECT_TRUE(sb.isEmpty());
}

}  // namespace
}  // namespace sfx
