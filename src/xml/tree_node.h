// The XML document tree: TreeNode (one element) and TreeInfo (what belongs
// to the whole document: declaration, stylesheet instructions, DOCTYPE and
// other processing instructions, and the count of handles into it).
// Every operation on the tree is iterative, so a document of any depth can
// be built, walked and destroyed without deep recursion.
#ifndef SFX_XML_TREE_NODE_H_
#define SFX_XML_TREE_NODE_H_

#include <cstdint>

#include "text/ext_ptr_array.h"
#include "text/marlith_object.h"
#include "text/string_buffer.h"
#include "xml/attribute_set.h"

namespace sfx {

class TreeInfo;

class TreeNode : public MarlithObject {
 public:
  // Validity byte while the node is alive / after its destruction.
  static constexpr uint8_t kValid = 206;
  static constexpr uint8_t kDestroyed = 0x31;
  // Tags shorter than this many bytes are kept inside the node.
  static constexpr uint32_t kInlineTagSize = 16;
  // The growth increment of a content buffer.
  static constexpr uint32_t kContentGrowBy = 120;

  // A node with no parent and no document (the form of a declaration or a
  // stylesheet instruction, and of a node about to be inserted). Null when
  // memory runs out. The caller owns the node.
  static TreeNode* createNode(const char* tag);
  // The root of a new document (a fresh TreeInfo that the root owns). Null
  // when memory runs out. The caller owns the root and, through it, the
  // document; destroying the root destroys the document.
  static TreeNode* createRoot(const char* tag);

  // Destroys the tag copy, content, attributes and every descendant (without
  // recursion); a document root also destroys its TreeInfo. A node that is
  // still a child is destroyed only with its parent, never on its own.
  ~TreeNode() override;
  TreeNode(const TreeNode&) = delete;
  TreeNode& operator=(const TreeNode&) = delete;

  // True while the validity byte is intact. Every operation below does
  // nothing (returning false, 0, null or "") on a node that fails it.
  bool isValid() const { return valid_ == kValid; }

  // --- Tag. Setting it keeps only ASCII letters and digits, ".", "-", "_",
  // ":", "!" and bytes of value 0x80 and above; if a long tag cannot be
  // copied the tag becomes "outOfMemory".
  const char* getTag() const;
  void setTag(const char* tag);
  void setTagN(const char* bytes, uint32_t count);
  bool tagEquals(const char* tag) const;
  // Applies the tag rule above to `text` in place.
  static void cleanTag(StringBuffer& text);
  // True when the tag rule keeps the byte `c`.
  static bool isTagByte(unsigned char c);

  // --- Content (none and empty both read as "").
  const char* getContent() const;
  uint32_t getContentSize() const;
  bool hasContent() const { return getContentSize() != 0; }
  // The content buffer, created empty when there is none; null when memory
  // runs out (or the node is invalid).
  StringBuffer* contentBuffer();
  // Replaces the content (null or "" removes it). False when memory runs
  // out; the old content then stays.
  bool setContent(const char* text);
  void removeContent();
  // Set when any content came from a CDATA section; the serializer then
  // writes the content as one CDATA section.
  bool isCdata() const { return isValid() && cdata_; }
  void setCdata(bool on) {
    if (isValid()) cdata_ = on;
  }

  // --- Attributes.
  // The set, or null when the node has none yet.
  AttributeSet* getAttributes() const { return isValid() ? attrs_ : nullptr; }
  // The set, created when missing with duplicates kept (or replaced, when
  // `replaceDuplicates` is set) and names as given; null when memory runs
  // out. The flag matters only when the set is created.
  AttributeSet* ensureAttributes(bool replaceDuplicates = false);
  int getNumAttributes() const;
  // Appends a pair to the set (created when missing). False when memory
  // runs out or the name is empty.
  bool addAttribute(const char* name, uint32_t nameLen, const char* value,
                    uint32_t valueLen);

  // --- Children, in document order.
  // True once the children list exists (created by the first child).
  bool hasChildrenList() const { return isValid() && children_ != nullptr; }
  int getNumChildren() const;
  // Child `index`, or null outside 0 .. count - 1.
  TreeNode* getChild(int index) const;
  // The first child whose tag equals `tag` byte for byte, or null.
  TreeNode* findChild(const char* tag) const;
  TreeNode* getParent() const { return isValid() ? parent_ : nullptr; }
  TreeNode* getPrevSibling() const { return isValid() ? prev_ : nullptr; }
  TreeNode* getNextSibling() const { return isValid() ? next_ : nullptr; }

  // Appends `child` as the last child. The child must have no parent and be
  // neither this node nor one of its ancestors. A child that is the root of
  // a document of its own leaves that document: its TreeInfo is destroyed,
  // and the child's subtree joins this node's document, whose handle count
  // grows by the handle counts of the subtree. Returns false, and changes
  // nothing, when the child is refused or the list cannot grow; the caller
  // keeps the child then.
  bool appendChild(TreeNode* child);

  // --- Document.
  TreeInfo* getDocument() const { return isValid() ? doc_ : nullptr; }
  // True when this node is its document's root.
  bool isDocumentRoot() const;

  // --- Handles (ClsXml) pointing at this node. Adding and releasing also
  // change the document's count. releaseHandle returns true when the
  // document's count fell to 0: the caller then destroys the document root.
  uint32_t getHandleCount() const { return isValid() ? handleCount_ : 0; }
  void addHandle();
  bool releaseHandle();

 private:
  friend class TreeInfo;
  friend class TreeNodeTestPeer;

  TreeNode();
  // Destroys every descendant, leaves first, with no recursion.
  void destroyDescendants();

  uint8_t valid_ = kValid;
  bool cdata_ = false;
  char inlineTag_[kInlineTagSize];
  char* heapTag_ = nullptr;  // for tags of kInlineTagSize bytes or more
  StringBuffer* content_ = nullptr;
  AttributeSet* attrs_ = nullptr;
  ExtPtrArray* children_ = nullptr;  // owns its TreeNode elements
  TreeNode* parent_ = nullptr;
  TreeNode* prev_ = nullptr;
  TreeNode* next_ = nullptr;
  TreeInfo* doc_ = nullptr;
  uint32_t handleCount_ = 0;
};

class TreeInfo : public MarlithObject {
 public:
  static constexpr uint8_t kValid = 206;
  static constexpr uint8_t kDestroyed = 0x31;

  // Takes the next serial number of the process. The root is set by
  // TreeNode::createRoot.
  TreeInfo();
  // Destroys the declaration, the stylesheet nodes and the texts; the root
  // is not destroyed here (the root destroys its TreeInfo).
  ~TreeInfo() override;
  TreeInfo(const TreeInfo&) = delete;
  TreeInfo& operator=(const TreeInfo&) = delete;

  bool isValid() const { return valid_ == kValid; }

  TreeNode* getRoot() const { return root_; }
  uint32_t getSerial() const { return serial_; }
  uint32_t getHandleCount() const { return handleCount_; }

  // The declaration node (tag "xml", its pseudo-attributes), or null.
  TreeNode* getDeclaration() const { return declaration_; }
  // Replaces the declaration (destroying the old one) by `decl`, which the
  // document then owns; null removes it.
  void setDeclaration(TreeNode* decl);
  // Creates a declaration (tag "xml", attribute version="1.0", duplicates
  // replaced) when there is none. Null when memory runs out.
  TreeNode* ensureDeclaration();

  // The stylesheet instruction nodes in document order (owned).
  ExtPtrArray& stylesheets() { return stylesheets_; }
  const ExtPtrArray& stylesheets() const { return stylesheets_; }

  // The DOCTYPE text and the other processing instructions, each as written
  // and followed by LF; "" when there are none.
  const char* getDoctype() const;
  const char* getInstructions() const;
  // Replace the texts by `count` bytes at `bytes`; false when memory runs
  // out (the old text then stays).
  bool setDoctype(const char* bytes, uint32_t count);
  bool setInstructions(const char* bytes, uint32_t count);

 private:
  friend class TreeNode;

  uint8_t valid_ = kValid;
  TreeNode* root_ = nullptr;
  TreeNode* declaration_ = nullptr;
  ExtPtrArray stylesheets_;
  StringBuffer* doctype_ = nullptr;
  StringBuffer* instructions_ = nullptr;
  uint32_t serial_;
  uint32_t handleCount_ = 0;
};

}  // namespace sfx

#endif  // SFX_XML_TREE_NODE_H_
