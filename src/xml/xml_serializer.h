// The XML serializer: writes a TreeNode and its subtree (and, for a document
// root, the document's prologue) as UTF-8 text with CR LF line ends and four
// spaces of indentation a level.
#ifndef SFX_XML_XML_SERIALIZER_H_
#define SFX_XML_XML_SERIALIZER_H_

#include <cstdint>

namespace sfx {

class StringBuffer;
class TreeNode;

// Indentation stops growing at this depth (4 spaces a level: 200 spaces).
constexpr int kXmlMaxIndentDepth = 50;

// Appends the serialization of `node` to `out`. `index` is the node's
// position among its parent's children and `depth` its indentation level (0
// and 0 for the node a serialization starts at). For a document root the
// prologue comes first: the declaration (unless `noDeclaration`; a
// "standalone" pseudo-attribute is moved to the end of the declaration's
// attributes, in the tree too), the stylesheet instructions that have
// attributes, the DOCTYPE text and the other instructions. A node that is
// not a document root and has index 0 starts with CR LF.
// Walks the subtree without recursion. Returns false when memory for the
// output runs out (what was written stays in `out`) or the node is invalid.
bool serializeXmlNode(TreeNode* node, StringBuffer& out, int index, int depth,
                      bool noDeclaration);

}  // namespace sfx

#endif  // SFX_XML_XML_SERIALIZER_H_
