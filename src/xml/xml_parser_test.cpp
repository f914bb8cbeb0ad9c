// The parser: the walk over well-formed and broken documents as tables of
// text and expected tree, the three logged problems, the prologue kept in
// the document, cut and mutated documents, depth and size limits.
#include "xml/xml_parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "log/logger.h"
#include "text/string_buffer.h"
#include "xml/tree_node.h"
#include "xml/xml_serializer.h"
#include "xml/xml_test_util.h"

namespace sfx {
namespace {

struct Deleter {
  void operator()(TreeNode* n) const { delete n; }
};
using Tree = std::unique_ptr<TreeNode, Deleter>;

Tree parse(const std::string& text, bool trim = true, LogBase* log = nullptr) {
  return Tree(parseXmlBytes(reinterpret_cast<const uint8_t*>(text.data()),
                            static_cast<uint32_t>(text.size()), log, trim));
}

std::string logText(Logger& log) {
  StringBuffer sb;
  log.getLogText(sb);
  return sb.getString();
}

std::string serialize(TreeNode* root) {
  StringBuffer sb;
  EXPECT_TRUE(serializeXmlNode(root, sb, 0, 0, false));
  return sb.getString();
}

struct Case {
  const char* text;
  const char* tree;
};

TEST(XmlParserTest, TrimmedDocuments) {
  const Case cases[] = {
      // Elements, repeated tags, text and entities.
      {"<a><b>1</b><b>2</b></a>", "a(b\"1\" b\"2\")"},
      {"<a>  x &amp; y  </a>", "a\"x & y\""},
      {"<a>x<b/>y</a>", "a\"x y\"(b)"},
      {"<a>\r\n\t x \r\n</a>", "a\"x\""},
      {"<a>&lt;&gt;&quot;&apos;&amp;amp;</a>", "a\"<>\"'&amp;\""},
      {"<a>&#65; &bogus; &amp</a>", "a\"&#65; &bogus; &amp\""},
      {"<a>x<!-- c -->y</a>", "a\"x y\""},
      // CDATA: kept as is, appended without separator, flag set.
      {"<a><![CDATA[1<2]]></a>", "a\"1<2\"#"},
      {"<a>x<![CDATA[y]]></a>", "a\"xy\"#"},
      {"<a><![CDATA[ x ]]> <![CDATA[&amp;]]></a>", "a\" x &amp;\"#"},
      {"<a><![CDATA[x]]>dropped<b/></a>", "a\"x\"#(b)"},
      {"<a><![CDATA[x]y]]]></a>", "a\"x]y]\"#"},
      {"<a><![CDATA[open", "a\"open\"#"},
      {"<a><![CDATA[]]></a>", "a"},
      // Any end tag closes the current element; unclosed ones are closed.
      {"<a>1</b>", "a\"1\""},
      {"<a><b>", "a(b)"},
      {"<a><b></c>t</a>", "a\"t\"(b)"},
      {"</x><a/>", "a"},
      {"<a><b>x</b>", "a(b\"x\")"},
      // Several top-level elements: the last closed one wins; an unclosed
      // one after it is dropped.
      {"<a/><b/>", "b"},
      {"<a>1</a><b>2", "a\"1\""},
      {"junk<a>t</a>more junk", "a\"t\""},
      // Attributes.
      {"<e x=\"1\" 2y=\"2\"/>", "e[x=1,A2y=2]"},
      {"<e -x='1' .y='2'/>", "e[A-x=1,A.y=2]"},
      {"<e x='1\"2' y=\"3'4\"/>", "e[x=1\"2,y=3'4]"},
      {"<e \"q\"=1 <r=2/>", "e[q=1,r=2]"},
      {"<e checked/>", "e[checked=]"},
      {"<e x = \"1\" >t</e>", "e[x=1]\"t\""},
      {"<e v=\"&lt;&gt;&quot;&apos;&amp;lt;\"/>", "e[v=<>\"'&lt;]"},
      {"<e x=1 y=two/>", "e[x=1,y=two]"},
      {"<e x=1>t</e>", "e[x=1]\"t\""},
      // An unquoted value stops at whitespace, ">" or "/>" only.
      {"<e x=a/b>t</e>", "e[x=a/b]\"t\""},
      {"<a href=http://x/y>t</a>", "a[href=http://x/y]\"t\""},
      {"<a href=http://x/y/>", "a[href=http://x/y]"},
      {"<a href=x/ y=2>t</a>", "a[href=x/,y=2]\"t\""},
      {"<a x=/>t", "a[x=]"},
      {"<a x=//>t", "a[x=/]"},
      {"<e a$b=1 =2 $=3/>", "e[ab=1]"},
      {"<e x=\"1\" x=\"2\"/>", "e[x=1,x=2]"},
      {"<a/ x=\"1\">", "a[x=1]"},
      {"<a x=\"1\"", "a[x=1]"},
      // Tags: the clean-up rule, a space after "<", long tags.
      {"<a$b%c>t</a$b%c>", "abc\"t\""},
      {"< a>t</a>", "a\"t\""},
      {"<ns:x-y.z_1!/>", "ns:x-y.z_1!"},
      {"<abcdefghijklmnopqrstuvwxyz>t</abcdefghijklmnopqrstuvwxyz>",
       "abcdefghijklmnopqrstuvwxyz\"t\""},
      {"<a<b>t</a>", "ab\"t\""},
      // Other markup inside and around the root.
      {"<a><!-- x > y --><b/></a>", "a(b)"},
      {"<a><!ELEMENT x><b/></a>", "a(b)"},
      {"<a>t<?pi x?>u</a>", "a\"t u\""},
      // Nothing that makes a root.
      {"", "null"},
      {"no markup", "null"},
      {"<!-- only a comment -->", "null"},
      {"<a", "null"},
      {"<", "null"},
      {"</a>", "null"},
  };
  for (const Case& c : cases) {
    Tree root = parse(c.text);
    EXPECT_EQ(dumpTree(root.get()), c.tree) << c.text;
  }
}

TEST(XmlParserTest, UntrimmedDocuments) {
  const Case cases[] = {
      {"<a>  x  </a>", "a\"  x  \""},
      {"<a>  </a>", "a\"  \""},
      // Whitespace alone counts only before the first child, and a node
      // with children loses surrounding whitespace when it closes.
      {"<a> <b/> </a>", "a(b)"},
      {"<a> x <b/> y </a>", "a\"x   y\"(b)"},
      {"<a>x<b/>y</a>", "a\"x y\"(b)"},
      {"<a>\r\n  <b>1</b>\r\n</a>", "a(b\"1\")"},
      {"<a> &amp; </a>", "a\" & \""},
  };
  for (const Case& c : cases) {
    Tree root = parse(c.text, false);
    EXPECT_EQ(dumpTree(root.get()), c.tree) << c.text;
  }
}

TEST(XmlParserTest, ZeroByteEndsTheDocument) {
  Tree root = parse(std::string("<a>x\0y</a>", 10));
  EXPECT_EQ(dumpTree(root.get()), "a\"x\"");
}

TEST(XmlParserTest, LoggedProblems) {
  struct LogCase {
    const char* text;
    const char* tree;
    const char* logged;  // every line that must appear in the log
    const char* logged2;
  };
  const LogCase cases[] = {
      {"<a><!-- no end", "a", "Unclosed comment", nullptr},
      {"<a><!-- no end --", "a", "Unclosed comment", nullptr},
      {"<!DOCTYPE a [<!ELEMENT a", "null", "Failed to parse DTD", nullptr},
      {"<a><b>x</b <c/></a>", "a(b\"x\" c)", "Error in closing tag",
       "error_tag: b"},
      {"</x <a/>", "a", "Error in closing tag", nullptr},
  };
  for (const LogCase& c : cases) {
    Logger log;
    Tree root = parse(c.text, true, &log);
    EXPECT_EQ(dumpTree(root.get()), c.tree) << c.text;
    std::string text = logText(log);
    EXPECT_NE(text.find(c.logged), std::string::npos) << text;
    if (c.logged2 != nullptr) {
      EXPECT_NE(text.find(c.logged2), std::string::npos) << text;
    }
  }
  // A well-formed document logs nothing.
  Logger log;
  Tree root = parse("<?xml version=\"1.0\"?><a x=\"1\"><b/></a>", true, &log);
  EXPECT_EQ(logText(log).find("rror"), std::string::npos) << logText(log);
}

TEST(XmlParserTest, PrologueGoesToTheDocument) {
  Tree root = parse(
      "<?xml version=\"1.0\" standalone='yes' encoding=\"utf-8\"?>\r\n"
      "<?xml-stylesheet type=\"text/xsl\" href=\"s.xsl\"?>\r\n"
      "<!DOCTYPE r [<!ELEMENT r (#PCDATA)> <!ATTLIST r a CDATA #IMPLIED>]>\r\n"
      "<?pi one?><r>t<?pi two?></r><?pi after?>");
  ASSERT_NE(root, nullptr);
  TreeInfo* doc = root->getDocument();
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->getRoot(), root.get());
  ASSERT_NE(doc->getDeclaration(), nullptr);
  EXPECT_EQ(dumpTree(doc->getDeclaration()),
            "xml[version=1.0,standalone=yes,encoding=utf-8]");
  ASSERT_EQ(doc->stylesheets().getSize(), 1);
  EXPECT_EQ(dumpTree(doc->stylesheets().elementAtAs<TreeNode>(0)),
            "xml-stylesheet[type=text/xsl,href=s.xsl]");
  EXPECT_STREQ(doc->getDoctype(),
               "<!DOCTYPE r [<!ELEMENT r (#PCDATA)> <!ATTLIST r a CDATA "
               "#IMPLIED>]>\n");
  // Instructions after the root element closed are not the document's.
  EXPECT_STREQ(doc->getInstructions(), "<?pi one?>\n<?pi two?>\n");
}

TEST(XmlParserTest, DeclarationPseudoAttributes) {
  const Case cases[] = {
      {"<?xml version='1.0' encoding='windows-1252'?><a/>",
       "xml[version=1.0,encoding=windows-1252]"},
      {"<?xml version=1.0 encoding=utf-8 ?><a/>",
       "xml[version=1.0,encoding=utf-8]"},
      {"<?xml v=\"&lt;&apos;&quot;&amp;gt;\"?><a/>", "xml[v=<'\"&gt;]"},
      {"<?xml 1x=\"a\"?><a/>", "xml[A1x=a]"},
      {"<?xml ?><a/>", "xml"},
      // A later declaration replaces an earlier one.
      {"<?xml version=\"1\"?><?xml version=\"2\"?><a/>", "xml[version=2]"},
  };
  for (const Case& c : cases) {
    Tree root = parse(c.text);
    ASSERT_NE(root, nullptr) << c.text;
    EXPECT_EQ(dumpTree(root->getDocument()->getDeclaration()), c.tree)
        << c.text;
  }
  // A declaration that went to a root destroyed later is gone with it.
  Tree root = parse("<?xml version=\"1.0\"?><a/><b/>");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->getDocument()->getDeclaration(), nullptr);
}

// Documents the parser repairs: each is written as given, and that text
// parses back to the same serialization.
TEST(XmlParserTest, RepairedDocumentsSerializeStably) {
  struct RepairCase {
    const char* text;
    bool trim;
    const char* xml;
  };
  const char kTwoStandalone[] =
      "<?xml version=\"1.0\" standalone=\"yes\" encoding=\"utf-8\" "
      "standalone=\"no\"?><a/>";
  const RepairCase cases[] = {
      // An element still open at the end loses the whitespace around its
      // content when it has children, as an end tag would make it.
      {"<a> <b/>", false, "<a>\r\n    <b />\r\n</a>\r\n"},
      {"<a> x <b/> y ", false, "<a>x   y\r\n    <b />\r\n</a>\r\n"},
      {"<r><n> t <e/>\n", false,
       "<r>\r\n    <n>t\r\n        <e />\r\n    </n>\r\n</r>\r\n"},
      {"<a><b/><![CDATA[ x ]]>", false,
       "<a><![CDATA[x]]>\r\n    <b />\r\n</a>\r\n"},
      {"<a><b/><![CDATA[ x ", false,
       "<a><![CDATA[x]]>\r\n    <b />\r\n</a>\r\n"},
      // Without children, or with trimming, an open element keeps what a
      // closed one keeps.
      {"<a> x ", false, "<a> x </a>\r\n"},
      {"<a><b/><![CDATA[ x ]]>", true,
       "<a><![CDATA[ x ]]>\r\n    <b />\r\n</a>\r\n"},
      // A start tag whose name begins with "!" once its stray bytes are
      // dropped is skipped like other "<!" markup.
      {"<a>< !b>t</a>", true, "<a>t</a>\r\n"},
      {"<a><$!-- c --><b/></a>", true, "<a>\r\n    <b />\r\n</a>\r\n"},
      {"<a><<!x/>t</a>", true, "<a>t</a>\r\n"},
      {"< !DOCT x><r>t</r>", true, "<r>t</r>\r\n"},
      {"<a><x!y/></a>", true, "<a>\r\n    <x!y />\r\n</a>\r\n"},
      // A DOCTYPE cut off by the end of the text is dropped; a complete
      // one before it stays.
      {"<r><!DOCTYPE x", true, "<r />\r\n"},
      {"<!DOCTYPE a><r><!DOCTYPE b [<!ELEMENT b", true,
       "<!DOCTYPE a>\n\r\n<r />\r\n"},
      // Text that decodes to "]]>" ahead of a CDATA section: the section is
      // written without its markers (also those that meet once others are
      // gone), trimmed when the element has children, and not at all when
      // nothing is left.
      {"<a>]]&gt;<![CDATA[]]></a>", true, "<a />\r\n"},
      {"<a>]]&gt;<b/><![CDATA[]]></a>", false, "<a>\r\n    <b />\r\n</a>\r\n"},
      {"<a>]]]]&gt;&gt;<![CDATA[x]]></a>", true, "<a><![CDATA[x]]></a>\r\n"},
      {"<a><b/>]]&gt; x<![CDATA[]]></a>", false,
       "<a><![CDATA[x]]>\r\n    <b />\r\n</a>\r\n"},
      {"<a><b/>]]&gt; x<![CDATA[]]></a>", true,
       "<a><![CDATA[x]]>\r\n    <b />\r\n</a>\r\n"},
      // An instruction without "?>" is dropped: in front of the root it
      // would run into the CDATA section.
      {"<r><![CDATA[?>]]><?</r>", true, "<r><![CDATA[?>]]></r>\r\n"},
      // A declaration with "standalone" twice: both go last, in their order.
      {kTwoStandalone, true,
       "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\" "
       "standalone=\"no\" ?>\r\n<a />\r\n"},
      {"<?xml standalone=\"1\" standalone=\"2\" standalone=\"3\" v=\"x\"?>"
       "<a/>",
       true,
       "<?xml v=\"x\" standalone=\"1\" standalone=\"2\" standalone=\"3\" "
       "?>\r\n<a />\r\n"},
  };
  for (const RepairCase& c : cases) {
    Tree root = parse(c.text, c.trim);
    ASSERT_NE(root, nullptr) << c.text;
    EXPECT_EQ(serialize(root.get()), c.xml) << c.text;
    // Writing the same tree again changes nothing.
    EXPECT_EQ(serialize(root.get()), c.xml) << c.text;
    Tree again = parse(c.xml, c.trim);
    ASSERT_NE(again, nullptr) << c.xml;
    EXPECT_EQ(serialize(again.get()), c.xml) << c.text;
  }
  // The first "standalone" is still the one a lookup finds.
  Tree root = parse(kTwoStandalone);
  ASSERT_NE(root, nullptr);
  serialize(root.get());
  StringBuffer value;
  ASSERT_NE(root->getDocument()->getDeclaration(), nullptr);
  ASSERT_NE(root->getDocument()->getDeclaration()->getAttributes(), nullptr);
  EXPECT_TRUE(root->getDocument()->getDeclaration()->getAttributes()->getValue(
      "standalone", value));
  EXPECT_STREQ(value.getString(), "yes");
}

TEST(XmlParserTest, InstructionWithoutEnd) {
  // Nothing of it is kept; parsing goes on after "?", and an instruction
  // before it stays.
  Tree root = parse("<?pi x?><?pi <a>t</a>");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(dumpTree(root.get()), "a\"t\"");
  EXPECT_STREQ(root->getDocument()->getInstructions(), "<?pi x?>\n");
}

// A small document with every kind of markup, cut at every byte and with
// every byte replaced by each of a few markup characters: the parser never
// crashes, and whatever it returns serializes to a text that parses back to
// the same serialization.
TEST(XmlParserTest, CutAndMutatedDocuments) {
  const std::string doc =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><!DOCTYPE r [<!ENTITY e "
      "\"v\">]><r a=\"1\" b='2'><!-- c --><x>t &amp; u</x><y><![CDATA[<z>]]>"
      "</y><?pi d?><e k=v/></r>";
  auto check = [](const std::string& text, bool trim) {
    Tree root = parse(text, trim);
    if (root == nullptr) return;
    std::string once = serialize(root.get());
    Tree again = parse(once, trim);
    ASSERT_NE(again, nullptr) << text;
    EXPECT_EQ(serialize(again.get()), once) << text;
  };
  for (size_t cut = 0; cut <= doc.size(); ++cut) {
    check(doc.substr(0, cut), true);
    check(doc.substr(0, cut), false);
  }
  for (size_t i = 0; i < doc.size(); ++i) {
    for (char c : std::string("<>/\"'&!?-[]= ")) {
      std::string mutated = doc;
      mutated[i] = c;
      check(mutated, true);
      check(mutated, false);
    }
  }
}

std::string repeat(const std::string& s, int n) {
  std::string out;
  out.reserve(s.size() * n);
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

constexpr int kDeep = 100000;

TEST(XmlParserTest, DeepDocumentParsesSerializesAndIsDestroyed) {
  for (bool closed : {true, false}) {
    std::string text = repeat("<a>", kDeep) + "x";
    if (closed) text += repeat("</a>", kDeep);
    Tree root = parse(text);
    ASSERT_NE(root, nullptr);
    int depth = 0;
    TreeNode* n = root.get();
    while (n->getNumChildren() == 1) {
      n = n->getChild(0);
      ++depth;
    }
    EXPECT_EQ(depth, kDeep - 1);
    EXPECT_STREQ(n->getContent(), "x");

    std::string out = serialize(root.get());
    // Every level but the innermost writes a start and an end line.
    EXPECT_EQ(out.compare(0, 5, "<a>\r\n"), 0);
    EXPECT_EQ(out.compare(out.size() - 6, 6, "</a>\r\n"), 0);
    root.reset();  // destruction must not recurse either
  }
}

// Inputs that would make a careless parser quadratic: many top-level
// elements after a long instruction (whose text a finished root takes), many
// stylesheet instructions, many text pieces, many unclosed instructions, many
// attributes.
TEST(XmlParserTest, LargeInputsStayLinear) {
  std::string text =
      "<?pi " + std::string(200000, 'x') + "?>" + repeat("<a/>", 50000);
  Tree root = parse(text);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(std::string(root->getDocument()->getInstructions()).size(),
            200000u + 8u);

  text = repeat("<?xml-stylesheet href=\"s\"?>", 50000) + "<a/>";
  root = parse(text);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->getDocument()->stylesheets().getSize(), 50000);

  text = "<a>" + repeat("t<b/>", 50000) + "</a>";
  root = parse(text);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->getNumChildren(), 50000);
  EXPECT_EQ(root->getContentSize(), 2u * 50000 - 1);

  // Unclosed instructions, each of which looks for its "?>".
  text = "<a>" + repeat("<?", 200000) + "t";
  root = parse(text);
  ASSERT_NE(root, nullptr);
  EXPECT_STREQ(root->getContent(), "t");
  EXPECT_STREQ(root->getDocument()->getInstructions(), "");

  text = "<a " + repeat("x=\"1\" ", 50000) + "/>";
  root = parse(text);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->getNumAttributes(), 50000);
}

}  // namespace
}  // namespace sfx
