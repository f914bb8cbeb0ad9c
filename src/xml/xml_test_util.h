// Test helper: a compact one-line picture of an XML tree, so that parser
// cases can state the whole expected tree in a table.
#ifndef SFX_XML_XML_TEST_UTIL_H_
#define SFX_XML_XML_TEST_UTIL_H_

#include <cstdint>
#include <string>

#include "xml/attribute_set.h"
#include "xml/tree_node.h"

namespace sfx {

// Reaches into a node for the tests.
class TreeNodeTestPeer {
 public:
  static bool tagIsInline(const TreeNode& n) { return n.heapTag_ == nullptr; }
  static void setValidity(TreeNode& n, uint8_t value) { n.valid_ = value; }
};

// tag[name=value,...]"content"#(child child ...) where the attribute list,
// the content (with # after it when it carries the CDATA flag) and the child
// list appear only when present. "null" for no node. Walks without recursion.
// With `showCdata` clear the # marks are left out.
inline std::string dumpTree(const TreeNode* root, bool showCdata = true) {
  if (root == nullptr) return "null";
  std::string s;
  const TreeNode* n = root;
  for (;;) {
    s += n->getTag();
    const AttributeSet* attrs = n->getAttributes();
    if (attrs != nullptr && attrs->getNumAttributes() > 0) {
      s += "[";
      for (int i = 0; i < attrs->getNumAttributes(); ++i) {
        uint32_t nl = 0, vl = 0;
        const char* name = attrs->nameAt(i, &nl);
        const char* value = attrs->valueAt(i, &vl);
        if (i > 0) s += ",";
        s.append(name, nl);
        s += "=";
        s.append(value, vl);
      }
      s += "]";
    }
    if (n->hasContent()) {
      s += "\"";
      s += n->getContent();
      s += "\"";
      if (n->isCdata() && showCdata) s += "#";
    }
    if (n->getNumChildren() > 0) {
      s += "(";
      n = n->getChild(0);
      continue;
    }
    while (n != root && n->getNextSibling() == nullptr) {
      n = n->getParent();
      s += ")";
    }
    if (n == root) break;
    s += " ";
    n = n->getNextSibling();
  }
  return s;
}

}  // namespace sfx

#endif  // SFX_XML_XML_TEST_UTIL_H_
