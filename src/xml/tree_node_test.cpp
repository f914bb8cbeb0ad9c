// The tree: the tag rule and where tags are kept, attribute sets with their
// two flags, insertion between documents with the handle counts, and
// destruction of deep trees.
#include "xml/tree_node.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "text/string_buffer.h"
#include "xml/attribute_set.h"
#include "xml/xml_test_util.h"

namespace sfx {

namespace {

struct Deleter {
  void operator()(TreeNode* n) const { delete n; }
};
using Tree = std::unique_ptr<TreeNode, Deleter>;

TEST(TreeNodeTest, TagRuleAndStorage) {
  struct Case {
    const char* tag;
    const char* kept;
    bool inlineTag;
  };
  const Case cases[] = {
      {"abc", "abc", true},
      {"a b\tc<>/\"'=?&;", "abc", true},
      {"Ns:x-y.z_1!", "Ns:x-y.z_1!", true},
      {"caf\xC3\xA9", "caf\xC3\xA9", true},
      {"", "", true},
      {"abcdefghijklmno", "abcdefghijklmno", true},  // 15 bytes
      {"abcdefghijklmnop", "abcdefghijklmnop", false},
      {"a b c d e f g h i j k l m n o p", "abcdefghijklmnop", false},
  };
  for (const Case& c : cases) {
    Tree n(TreeNode::createNode(c.tag));
    ASSERT_NE(n, nullptr);
    EXPECT_STREQ(n->getTag(), c.kept) << c.tag;
    EXPECT_EQ(TreeNodeTestPeer::tagIsInline(*n), c.inlineTag) << c.tag;
  }
  // Setting a short tag after a long one goes back inside the node.
  Tree n(TreeNode::createNode("abcdefghijklmnopqrstuvwxyz"));
  n->setTag(n->getTag() + 20);
  EXPECT_STREQ(n->getTag(), "uvwxyz");
  EXPECT_TRUE(TreeNodeTestPeer::tagIsInline(*n));
}

TEST(TreeNodeTest, ContentNoneAndEmptyReadTheSame) {
  Tree n(TreeNode::createNode("a"));
  EXPECT_STREQ(n->getContent(), "");
  EXPECT_FALSE(n->hasContent());
  ASSERT_NE(n->contentBuffer(), nullptr);
  EXPECT_FALSE(n->hasContent());
  ASSERT_TRUE(n->setContent("x"));
  EXPECT_STREQ(n->getContent(), "x");
  ASSERT_TRUE(n->setContent(""));
  EXPECT_FALSE(n->hasContent());
}

TEST(AttributeSetTest, DuplicatesKeptOrReplaced) {
  AttributeSet keep(false, false);
  AttributeSet replace(true, false);
  for (AttributeSet* set : {&keep, &replace}) {
    ASSERT_TRUE(set->addAttribute("a", "1"));
    ASSERT_TRUE(set->addAttribute("b", ""));
    ASSERT_TRUE(set->addAttribute("a", "2"));
  }
  StringBuffer v;
  ASSERT_EQ(keep.getNumAttributes(), 3);
  EXPECT_TRUE(keep.getValue("a", v));
  EXPECT_STREQ(v.getString(), "1");
  ASSERT_EQ(replace.getNumAttributes(), 2);
  EXPECT_TRUE(replace.getNameAt(1, v));
  EXPECT_STREQ(v.getString(), "a");
  EXPECT_TRUE(replace.getValueAt(1, v));
  EXPECT_STREQ(v.getString(), "2");
  EXPECT_TRUE(replace.getValue("b", v));
  EXPECT_STREQ(v.getString(), "");
  EXPECT_FALSE(replace.addAttribute("", "x"));
  EXPECT_FALSE(replace.getValue("c", v));
  EXPECT_FALSE(replace.getNameAt(2, v));
}

TEST(AttributeSetTest, LowerCaseNamesAndExactLookup) {
  AttributeSet set(false, true);
  ASSERT_TRUE(set.addAttribute("AbC\xC9", "Val"));
  StringBuffer v;
  EXPECT_TRUE(set.getNameAt(0, v));
  EXPECT_STREQ(v.getString(), "abc\xE9");
  EXPECT_EQ(set.indexOf("abc\xE9"), 0);
  EXPECT_EQ(set.indexOf("ABC\xC9"), -1);  // lookups compare exactly
  EXPECT_TRUE(set.getValueAt(0, v));
  EXPECT_STREQ(v.getString(), "Val");
}

TEST(AttributeSetTest, RemoveKeepsTheOthersInOrder) {
  AttributeSet set(false, false);
  const char* names[] = {"a", "bb", "a", "ccc"};
  const char* values[] = {"1", "22", "3", "444"};
  for (int i = 0; i < 4; ++i)
    ASSERT_TRUE(set.addAttribute(names[i], values[i]));
  EXPECT_TRUE(set.removeAt(1));
  EXPECT_TRUE(set.removeByName("a"));
  ASSERT_EQ(set.getNumAttributes(), 1);
  StringBuffer v;
  set.getNameAt(0, v);
  EXPECT_STREQ(v.getString(), "ccc");
  set.getValueAt(0, v);
  EXPECT_STREQ(v.getString(), "444");
  EXPECT_FALSE(set.removeAt(1));
  EXPECT_FALSE(set.removeByName("a"));
}

TEST(AttributeSetTest, MoveToEndKeepsBothGroupsInOrder) {
  struct Case {
    const char* name;
    std::vector<std::string> pairs;  // "name=value"
    const char* moved;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"interleaved", {"s=1", "a=x", "s=2", "bb=yy", "s=3"}, "s",
       {"a=x", "bb=yy", "s=1", "s=2", "s=3"}},
      {"already last", {"a=1", "s=2"}, "s", {"a=1", "s=2"}},
      {"only moved", {"s=1", "s=22"}, "s", {"s=1", "s=22"}},
      {"absent", {"a=1", "b="}, "s", {"a=1", "b="}},
      {"prefix is not the name", {"ss=1", "s=", "a=3"}, "s",
       {"ss=1", "a=3", "s="}},
  };
  for (const Case& c : cases) {
    AttributeSet set(false, false);
    for (const std::string& p : c.pairs) {
      const size_t eq = p.find('=');
      ASSERT_TRUE(set.addAttribute(p.c_str(), static_cast<uint32_t>(eq),
                                   p.c_str() + eq + 1,
                                   static_cast<uint32_t>(p.size() - eq - 1)));
    }
    EXPECT_TRUE(set.moveToEnd(c.moved)) << c.name;
    std::vector<std::string> got;
    StringBuffer n, v;
    for (int i = 0; i < set.getNumAttributes(); ++i) {
      set.getNameAt(i, n);
      set.getValueAt(i, v);
      got.push_back(std::string(n.getString()) + "=" + v.getString());
    }
    EXPECT_EQ(got, c.expected) << c.name;
    // Removal after the move finds the moved pairs where they now are.
    set.removeByName(c.moved);
    EXPECT_EQ(set.indexOf(c.moved), -1) << c.name;
    EXPECT_TRUE(set.addAttribute("z", "9")) << c.name;
    EXPECT_EQ(set.indexOf("z"), set.getNumAttributes() - 1) << c.name;
  }
}

TEST(TreeNodeTest, AppendKeepsOrderAndSiblingLinks) {
  Tree root(TreeNode::createRoot("r"));
  TreeNode* kids[3];
  for (int i = 0; i < 3; ++i) {
    kids[i] = TreeNode::createNode(std::string(1, 'a' + i).c_str());
    ASSERT_TRUE(root->appendChild(kids[i]));
    EXPECT_EQ(kids[i]->getDocument(), root->getDocument());
  }
  EXPECT_EQ(dumpTree(root.get()), "r(a b c)");
  EXPECT_EQ(kids[0]->getPrevSibling(), nullptr);
  EXPECT_EQ(kids[0]->getNextSibling(), kids[1]);
  EXPECT_EQ(kids[2]->getPrevSibling(), kids[1]);
  EXPECT_EQ(kids[2]->getNextSibling(), nullptr);
  EXPECT_EQ(kids[1]->getParent(), root.get());
  EXPECT_EQ(root->findChild("b"), kids[1]);
  EXPECT_EQ(root->findChild("B"), nullptr);
  EXPECT_TRUE(root->isDocumentRoot());
  EXPECT_FALSE(kids[0]->isDocumentRoot());
}

TEST(TreeNodeTest, AppendRefusesParentedNodesSelfAndAncestors) {
  Tree root(TreeNode::createRoot("r"));
  TreeNode* a = TreeNode::createNode("a");
  ASSERT_TRUE(root->appendChild(a));
  TreeNode* b = TreeNode::createNode("b");
  ASSERT_TRUE(a->appendChild(b));
  EXPECT_FALSE(root->appendChild(a));        // already has a parent
  EXPECT_FALSE(a->appendChild(a));           // itself
  EXPECT_FALSE(b->appendChild(root.get()));  // its own ancestor
  EXPECT_FALSE(root->appendChild(nullptr));
  EXPECT_EQ(dumpTree(root.get()), "r(a(b))");
}

TEST(TreeNodeTest, NodeMovedFromItsOwnDocumentTakesItsHandlesAlong) {
  Tree parent(TreeNode::createRoot("p"));
  TreeNode* child = TreeNode::createRoot("c");
  TreeNode* grandchild = TreeNode::createNode("g");
  ASSERT_TRUE(child->appendChild(grandchild));
  parent->addHandle();
  grandchild->addHandle();
  grandchild->addHandle();
  EXPECT_EQ(child->getDocument()->getHandleCount(), 2u);
  TreeInfo* parentDoc = parent->getDocument();
  uint32_t parentSerial = parentDoc->getSerial();

  ASSERT_TRUE(parent->appendChild(child));
  EXPECT_EQ(child->getDocument(), parentDoc);
  EXPECT_EQ(grandchild->getDocument(), parentDoc);
  EXPECT_EQ(parentDoc->getHandleCount(), 3u);
  EXPECT_EQ(parentDoc->getSerial(), parentSerial);
  EXPECT_FALSE(child->isDocumentRoot());

  EXPECT_FALSE(grandchild->releaseHandle());
  EXPECT_FALSE(grandchild->releaseHandle());
  EXPECT_TRUE(parent->releaseHandle());  // the last handle of the document
  EXPECT_EQ(parentDoc->getHandleCount(), 0u);
}

TEST(TreeNodeTest, EveryDocumentGetsANewSerialNumber) {
  Tree a(TreeNode::createRoot("a"));
  Tree b(TreeNode::createRoot("b"));
  EXPECT_NE(a->getDocument()->getSerial(), b->getDocument()->getSerial());
}

TEST(TreeNodeTest, DeclarationCreatedOnceWithVersion) {
  Tree root(TreeNode::createRoot("a"));
  TreeInfo* doc = root->getDocument();
  EXPECT_EQ(doc->getDeclaration(), nullptr);
  TreeNode* decl = doc->ensureDeclaration();
  ASSERT_NE(decl, nullptr);
  EXPECT_EQ(doc->ensureDeclaration(), decl);
  EXPECT_EQ(dumpTree(decl), "xml[version=1.0]");
  EXPECT_TRUE(decl->getAttributes()->replacesDuplicates());
}

TEST(TreeNodeTest, DeepAndWideTreesAreDestroyedWithoutRecursion) {
  // A chain 200,000 deep, with a second child at every level.
  Tree root(TreeNode::createRoot("r"));
  TreeNode* n = root.get();
  for (int i = 0; i < 200000; ++i) {
    TreeNode* side = TreeNode::createNode("s");
    TreeNode* next = TreeNode::createNode("n");
    ASSERT_TRUE(n->appendChild(next));
    ASSERT_TRUE(n->appendChild(side));
    n = next;
  }
  root.reset();
}

}  // namespace
}  // namespace sfx
