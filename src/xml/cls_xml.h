// ClsXml: a handle on one element of a shared XML document. The
// configuration record keeps its settings as the text of the children of one
// such document; this is the interface through which it reads, changes,
// loads and writes that document.
#ifndef SFX_XML_CLS_XML_H_
#define SFX_XML_CLS_XML_H_

#include <cstdint>

#include "log/crit_sec.h"
#include "log/logger.h"

namespace sfx {

class StringBuffer;
class TreeNode;
class XString;

// A document lives while any handle points into it: each handle adds one to
// its node's and its document's handle counts, and the document is
// destroyed with the last handle.
//
// Every public operation holds the handle's critical section for its whole
// run and first checks the handle's node: a node that fails its validity tag
// makes the handle point at a new document whose root tag is "rRoot", and
// the operation returns its failure value (false, 0 or empty). LoadXml2 and
// GetXml log that check ("m_tree is null." / "m_tree is invalid.", the
// latter with a new document rooted at "rroot").
//
// Texts in and out are UTF-8. Operations taking a child `tag` use the first
// child of the handle's node whose tag equals it byte for byte.
class ClsXml : public MarlithCritSec {
 public:
  static constexpr uint32_t kValidTag = 0x11bbdce9u;

  // A handle on a fresh document whose root tag is "unnamed". When memory
  // for it runs out the handle has no node, and every operation fails.
  ClsXml();
  // Releases the node (destroying the document with the last handle). A
  // handle whose validity tag is broken stops the process.
  ~ClsXml();
  ClsXml(const ClsXml&) = delete;
  ClsXml& operator=(const ClsXml&) = delete;

  // Clears the handle's log, then parses `xml` inside the log context
  // "LoadXml2". A text without "<", shorter than 100 bytes and ending in
  // ".xml" (any case) is the path of a file to read instead (trimmed of
  // whitespace; byte-order marks and a declared charset are honoured). With
  // `autoTrim`, whitespace around element text is dropped.
  // On success the handle points at the new document's root (the old
  // document is released) and true is returned. When no root element is
  // found, or the file cannot be read, returns false and the handle is
  // unchanged; an empty or root-less text logs nothing.
  bool LoadXml2(const XString& xml, bool autoTrim);

  // Clears the handle's log and, inside the log context "GetXml", replaces
  // `out` by the serialization of the handle's node: CR LF line ends, four
  // spaces of indentation a level (at most 200). For a document root a
  // declaration with encoding "utf-8" is added first when the document has
  // none (or one without an encoding), so the text starts with
  // <?xml version="1.0" encoding="utf-8" ?>. A child's node is written
  // without any prologue, starting with CR LF. False when the node fails its
  // check or memory runs out.
  bool GetXml(XString& out);

  // Sets the node's tag; bytes other than ASCII letters and digits, ".",
  // "-", "_", ":", "!" and 0x80 and above are dropped.
  bool SetTag(const char* tag);
  // Replaces `out` by the node's tag.
  bool GetTag(StringBuffer& out);

  // Sets the document's declared encoding: `charset` is trimmed and its
  // spaces, LF, CR, ">", "<" and "/" are removed; a declaration (version
  // "1.0") is created when the document has none; any "encoding"
  // pseudo-attribute is replaced by one appended at the end.
  bool SetEncoding(const char* charset);

  // Replaces `out` by the content of the child `tag` (empty when there is no
  // such child or it has no content). Returns whether the child exists.
  bool GetChildContent(const char* tag, XString& out);
  // The child's content read as a decimal integer (optional sign, leading
  // zeros, digits up to the first other byte; overflow wraps); 0 when there
  // is no such child or no content.
  int GetChildInt(const char* tag);
  // True when GetChildInt is not 0.
  bool GetChildBool(const char* tag);

  // Trims `tag` of space, tab, CR and LF; replaces the content of the child
  // with that tag, or appends one with NewChild when there is none. A null
  // or empty value leaves the child without content. False when memory runs
  // out or the node fails its check.
  bool UpdateChildContent(const char* tag, const char* value);
  // UpdateChildContent with the decimal form / with "1" or "0".
  bool UpdateChildInt(const char* tag, int value);
  bool UpdateChildBool(const char* tag, bool value);

  // Appends a child at the end of the node's children with the given
  // content. The tag is trimmed, its spaces become "_", then the tag rule
  // of SetTag applies. False when memory runs out.
  bool NewChild(const char* tag, const char* content);

  // The number of children of the node.
  int GetNumChildren();

  // The log the operations write into.
  Logger& log() { return log_; }

  // The node the handle points at (null when it has none), for code that
  // walks the tree directly. The handle keeps ownership.
  TreeNode* getTreeNode() const { return node_; }

 private:
  friend class ClsXmlTestPeer;

  void checkValid() const;
  // True when the node passes its check; otherwise repoints the handle at a
  // new document rooted at "rRoot" and returns false.
  bool checkNode();
  // The same with the log lines of LoadXml2 and GetXml.
  bool checkNodeLogged();
  // Releases the current node and points the handle at `node` (which may be
  // null).
  void attach(TreeNode* node);
  // Points the handle at a new document with the given root tag.
  void attachNewDocument(const char* rootTag);
  bool setEncoding(const char* charset);
  bool newChild(const char* tag, const char* content);

  uint32_t valid_ = kValidTag;
  TreeNode* node_ = nullptr;
  bool emitDeclaration_ = true;
  Logger log_;
};

}  // namespace sfx

#endif  // SFX_XML_CLS_XML_H_
