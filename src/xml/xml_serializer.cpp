// The XML serializer. The subtree is walked through the parent and sibling
// links, so the depth of a document costs no stack.
#include "xml/xml_serializer.h"

#include <cstring>

#include "text/string_buffer.h"
#include "xml/attribute_set.h"
#include "xml/tree_node.h"

namespace sfx {

namespace {

// A CDATA section cannot hold its own terminator: every "<![CDATA[" and
// every "]]>" of `body` is dropped, including a "]]>" that only comes
// together once others are gone, so the section written ends where it is
// read back to end. One pass.
void dropCdataMarkers(StringBuffer& body) {
  body.replaceAllOccurrences("<![CDATA[", "");
  char* p = const_cast<char*>(body.getString());
  uint32_t n = body.getSize();
  uint32_t j = 0;
  for (uint32_t i = 0; i < n; ++i) {
    p[j++] = p[i];
    if (j >= 3 && p[j - 3] == ']' && p[j - 2] == ']' && p[j - 1] == '>') {
      j -= 3;
    }
  }
  body.shorten(n - j);
}

class Writer {
 public:
  explicit Writer(StringBuffer& out) : out_(out) {}

  bool ok() const { return ok_; }

  void put(const char* text) { ok_ = out_.append(text) && ok_; }
  void putN(const char* bytes, uint32_t n) {
    ok_ = out_.appendN(bytes, n) && ok_;
  }
  void crlf() { ok_ = out_.appendChar2('\r', '\n') && ok_; }
  void indent(int depth) {
    if (depth > kXmlMaxIndentDepth) depth = kXmlMaxIndentDepth;
    if (depth > 0) {
      ok_ = out_.appendCharN(' ', static_cast<uint32_t>(4 * depth)) && ok_;
    }
  }

  // Writes `n` bytes of content ("<", ">" and "&" escaped) or of an
  // attribute value (the quotes escaped too; a zero byte ends the value).
  void putEscaped(const char* p, uint32_t n, bool attribute) {
    uint32_t runStart = 0;
    uint32_t i = 0;
    for (; i < n; ++i) {
      char c = p[i];
      if (c == '\0' && attribute) break;
      const char* entity = nullptr;
      switch (c) {
        case '<':
          entity = "&lt;";
          break;
        case '>':
          entity = "&gt;";
          break;
        case '&':
          entity = "&amp;";
          break;
        case '"':
          if (attribute) entity = "&quot;";
          break;
        case '\'':
          if (attribute) entity = "&apos;";
          break;
        default:
          break;
      }
      if (entity == nullptr) continue;
      putN(p + runStart, i - runStart);
      put(entity);
      runStart = i + 1;
    }
    putN(p + runStart, i - runStart);
  }

  void attributes(const AttributeSet* attrs) {
    if (attrs == nullptr) return;
    int n = attrs->getNumAttributes();
    for (int i = 0; i < n; ++i) {
      uint32_t nameLen = 0;
      uint32_t valueLen = 0;
      const char* name = attrs->nameAt(i, &nameLen);
      const char* value = attrs->valueAt(i, &valueLen);
      put(" ");
      putN(name, nameLen);
      put("=\"");
      putEscaped(value, valueLen, true);
      put("\"");
    }
  }

  // Moves every "standalone" pair of a declaration behind the others,
  // keeping their order among themselves, so that the first one stays the
  // one a lookup finds and writing the document again changes nothing.
  void moveStandaloneLast(AttributeSet* attrs);
  void prologue(TreeNode* root, bool noDeclaration);
  // Writes the start tag and content; returns true when the node was
  // written whole as an empty-element tag. CDATA content is written so
  // that it loads back as itself: a section that holds nothing once its
  // markers are dropped is not written (it would load as no content).
  bool open(TreeNode* node, bool first, int depth);
  void close(TreeNode* node, int depth);

 private:
  StringBuffer& out_;
  bool ok_ = true;
};

void Writer::moveStandaloneLast(AttributeSet* attrs) {
  ok_ = attrs->moveToEnd("standalone") && ok_;
}

void Writer::prologue(TreeNode* root, bool noDeclaration) {
  TreeInfo* doc = root->getDocument();
  TreeNode* decl = doc->getDeclaration();
  if (!noDeclaration && decl != nullptr) {
    put("<?xml");
    AttributeSet* attrs = decl->getAttributes();
    if (attrs != nullptr) {
      moveStandaloneLast(attrs);
      attributes(attrs);
    }
    put(" ?>");
    crlf();
  }
  const ExtPtrArray& sheets = doc->stylesheets();
  for (int i = 0; i < sheets.getSize(); ++i) {
    TreeNode* sheet = sheets.elementAtAs<TreeNode>(i);
    if (sheet->getNumAttributes() == 0) continue;
    put("<?xml-stylesheet");
    attributes(sheet->getAttributes());
    put(" ?>");
    crlf();
  }
  if (*doc->getDoctype() != '\0') {
    put(doc->getDoctype());
    crlf();
  }
  if (*doc->getInstructions() != '\0') {
    put(doc->getInstructions());
    crlf();
  }
}

bool Writer::open(TreeNode* node, bool first, int depth) {
  if (first && !node->isDocumentRoot()) crlf();
  indent(depth);
  put("<");
  put(*node->getTag() != '\0' ? node->getTag() : "nothing");
  attributes(node->getAttributes());
  const char* content = node->getContent();
  uint32_t n = node->getContentSize();
  bool cdata = node->isCdata();
  StringBuffer body;
  if (cdata && n != 0 && std::strstr(content, "]]>") != nullptr) {
    ok_ = body.appendN(content, n) && ok_;
    dropCdataMarkers(body);
    // Whitespace the markers held inside would be trimmed from an element
    // with children when it is loaded without trimming.
    if (node->getNumChildren() > 0) body.trim2();
    content = body.getString();
    n = body.getSize();
  }
  if (n == 0) {
    if (!node->hasChildrenList()) {
      put(" />");
      crlf();
      return true;
    }
    put(">");
    return false;
  }
  put(">");
  if (cdata) {
    put("<![CDATA[");
    putN(content, n);
    put("]]>");
  } else {
    putEscaped(content, n, false);
  }
  return false;
}

void Writer::close(TreeNode* node, int depth) {
  if (node->hasChildrenList()) indent(depth);
  put("</");
  put(*node->getTag() != '\0' ? node->getTag() : "nothing");
  put(">");
  crlf();
}

}  // namespace

bool serializeXmlNode(TreeNode* node, StringBuffer& out, int index, int depth,
                      bool noDeclaration) {
  if (node == nullptr || !node->isValid()) return false;
  Writer w(out);
  if (node->isDocumentRoot()) w.prologue(node, noDeclaration);

  // Depth-first walk; a node is "first" when it opens its parent's list
  // (or is the starting node with index 0).
  TreeNode* n = node;
  bool first = index == 0;
  int d = depth;
  for (;;) {
    bool done = w.open(n, first, d);
    if (!done && n->getNumChildren() > 0) {
      n = n->getChild(0);
      first = true;
      ++d;
      continue;
    }
    if (!done) w.close(n, d);
    // Up to the next node that has a following sibling.
    while (n != node && n->getNextSibling() == nullptr) {
      n = n->getParent();
      --d;
      w.close(n, d);
    }
    if (n == node) break;
    n = n->getNextSibling();
    first = false;
  }
  return w.ok();
}

}  // namespace sfx
