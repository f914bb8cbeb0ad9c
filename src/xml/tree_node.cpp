// The XML document tree. Destruction, insertion and subtree walks use the
// parent and sibling links instead of recursion.
#include "xml/tree_node.h"

#include <atomic>
#include <cstring>
#include <new>

namespace sfx {

namespace {

// The serial number of the next document of the process.
std::atomic<uint32_t> g_nextSerial{1};

// The next node of a pre-order walk of the subtree at `top`, or null after
// its last node.
TreeNode* nextInSubtree(TreeNode* n, const TreeNode* top) {
  if (n->getNumChildren() > 0) return n->getChild(0);
  while (n != top && n->getNextSibling() == nullptr) n = n->getParent();
  return n == top ? nullptr : n->getNextSibling();
}

}  // namespace

// ---------------------------------------------------------------- TreeNode

TreeNode::TreeNode() { inlineTag_[0] = '\0'; }

TreeNode* TreeNode::createNode(const char* tag) {
  TreeNode* node = new (std::nothrow) TreeNode();
  if (node != nullptr) node->setTag(tag);
  return node;
}

TreeNode* TreeNode::createRoot(const char* tag) {
  TreeNode* node = createNode(tag);
  if (node == nullptr) return nullptr;
  TreeInfo* doc = new (std::nothrow) TreeInfo();
  if (doc == nullptr) {
    delete node;
    return nullptr;
  }
  doc->root_ = node;
  node->doc_ = doc;
  return node;
}

TreeNode::~TreeNode() {
  destroyDescendants();
  delete children_;
  delete content_;
  delete attrs_;
  delete[] heapTag_;
  if (doc_ != nullptr && doc_->root_ == this) {
    doc_->root_ = nullptr;
    delete doc_;
  }
  valid_ = kDestroyed;
}

void TreeNode::destroyDescendants() {
  // Walk down the last children to a leaf, destroy it, step back to its
  // parent; each node is entered once and destroyed once.
  TreeNode* cur = this;
  for (;;) {
    if (cur->children_ != nullptr && cur->children_->getSize() > 0) {
      cur = static_cast<TreeNode*>(cur->children_->lastElement());
      continue;
    }
    if (cur == this) break;
    TreeNode* parent = cur->parent_;
    parent->children_->pop();
    if (cur->prev_ != nullptr) cur->prev_->next_ = nullptr;
    cur->parent_ = nullptr;
    cur->prev_ = nullptr;
    delete cur;
    cur = parent;
  }
}

const char* TreeNode::getTag() const {
  if (!isValid()) return "";
  return heapTag_ != nullptr ? heapTag_ : inlineTag_;
}

void TreeNode::setTag(const char* tag) {
  setTagN(tag, tag != nullptr ? static_cast<uint32_t>(std::strlen(tag)) : 0);
}

void TreeNode::setTagN(const char* bytes, uint32_t count) {
  if (!isValid()) return;
  if (bytes == nullptr) count = 0;
  uint32_t kept = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (isTagByte(static_cast<unsigned char>(bytes[i]))) ++kept;
  }
  char* dest = inlineTag_;
  char* heap = nullptr;
  if (kept >= kInlineTagSize) {
    heap = new (std::nothrow) char[kept + 1];
    if (heap == nullptr) {
      delete[] heapTag_;
      heapTag_ = nullptr;
      std::strcpy(inlineTag_, "outOfMemory");
      return;
    }
    dest = heap;
  }
  uint32_t j = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (isTagByte(static_cast<unsigned char>(bytes[i]))) dest[j++] = bytes[i];
  }
  dest[j] = '\0';
  delete[] heapTag_;
  heapTag_ = heap;
}

bool TreeNode::isTagByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' ||
         c == ':' || c == '!' || c >= 0x80;
}

void TreeNode::cleanTag(StringBuffer& text) {
  char* p = const_cast<char*>(text.getString());
  uint32_t n = text.getSize();
  uint32_t j = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (isTagByte(static_cast<unsigned char>(p[i]))) p[j++] = p[i];
  }
  text.shorten(n - j);
}

bool TreeNode::tagEquals(const char* tag) const {
  return isValid() && tag != nullptr && std::strcmp(getTag(), tag) == 0;
}

const char* TreeNode::getContent() const {
  if (!isValid() || content_ == nullptr) return "";
  return content_->getString();
}

uint32_t TreeNode::getContentSize() const {
  if (!isValid() || content_ == nullptr) return 0;
  return content_->getSize();
}

StringBuffer* TreeNode::contentBuffer() {
  if (!isValid()) return nullptr;
  if (content_ == nullptr) {
    content_ = new (std::nothrow)
        StringBuffer(StringBuffer::withGrowBy(kContentGrowBy));
  }
  return content_;
}

bool TreeNode::setContent(const char* text) {
  if (!isValid()) return false;
  if (text == nullptr || *text == '\0') {
    removeContent();
    return true;
  }
  StringBuffer* sb = contentBuffer();
  return sb != nullptr && sb->setString(text);
}

void TreeNode::removeContent() {
  if (!isValid()) return;
  delete content_;
  content_ = nullptr;
}

AttributeSet* TreeNode::ensureAttributes(bool replaceDuplicates) {
  if (!isValid()) return nullptr;
  if (attrs_ == nullptr) {
    attrs_ = new (std::nothrow) AttributeSet(replaceDuplicates, false);
  }
  return attrs_;
}

int TreeNode::getNumAttributes() const {
  return isValid() && attrs_ != nullptr ? attrs_->getNumAttributes() : 0;
}

bool TreeNode::addAttribute(const char* name, uint32_t nameLen,
                            const char* value, uint32_t valueLen) {
  AttributeSet* set = ensureAttributes();
  return set != nullptr && set->addAttribute(name, nameLen, value, valueLen);
}

int TreeNode::getNumChildren() const {
  return isValid() && children_ != nullptr ? children_->getSize() : 0;
}

TreeNode* TreeNode::getChild(int index) const {
  if (!isValid() || children_ == nullptr) return nullptr;
  return children_->elementAtAs<TreeNode>(index);
}

TreeNode* TreeNode::findChild(const char* tag) const {
  int n = getNumChildren();
  for (int i = 0; i < n; ++i) {
    TreeNode* child = children_->elementAtAs<TreeNode>(i);
    if (child->tagEquals(tag)) return child;
  }
  return nullptr;
}

bool TreeNode::appendChild(TreeNode* child) {
  if (!isValid() || child == nullptr || !child->isValid() || child == this ||
      child->parent_ != nullptr) {
    return false;
  }
  // Only a node with children can be an ancestor of this one.
  if (child->getNumChildren() > 0) {
    for (TreeNode* up = parent_; up != nullptr; up = up->parent_) {
      if (up == child) return false;
    }
  }
  if (children_ == nullptr) {
    children_ = new (std::nothrow) ExtPtrArray();
    if (children_ == nullptr) return false;
    children_->setOwnsObjects(true);
  }
  TreeNode* last = static_cast<TreeNode*>(children_->lastElement());
  if (!children_->append(child)) return false;

  child->parent_ = this;
  child->prev_ = last;
  child->next_ = nullptr;
  if (last != nullptr) last->next_ = child;

  if (child->doc_ != doc_) {
    // The child leaves its own document for this one.
    TreeInfo* old = child->doc_;
    if (old != nullptr && old->root_ == child) {
      old->root_ = nullptr;
      delete old;
    }
    uint32_t handles = 0;
    for (TreeNode* n = child; n != nullptr; n = nextInSubtree(n, child)) {
      n->doc_ = doc_;
      handles += n->handleCount_;
    }
    if (doc_ != nullptr) doc_->handleCount_ += handles;
  }
  return true;
}

bool TreeNode::isDocumentRoot() const {
  return isValid() && doc_ != nullptr && doc_->root_ == this;
}

void TreeNode::addHandle() {
  if (!isValid()) return;
  ++handleCount_;
  if (doc_ != nullptr) ++doc_->handleCount_;
}

bool TreeNode::releaseHandle() {
  if (!isValid()) return false;
  if (handleCount_ > 0) --handleCount_;
  if (doc_ == nullptr) return handleCount_ == 0;
  if (doc_->handleCount_ > 0) --doc_->handleCount_;
  return doc_->handleCount_ == 0;
}

// ---------------------------------------------------------------- TreeInfo

TreeInfo::TreeInfo() : serial_(g_nextSerial.fetch_add(1)) {
  stylesheets_.setOwnsObjects(true);
}

TreeInfo::~TreeInfo() {
  delete declaration_;
  delete doctype_;
  delete instructions_;
  valid_ = kDestroyed;
}

void TreeInfo::setDeclaration(TreeNode* decl) {
  if (decl == declaration_) return;
  delete declaration_;
  declaration_ = decl;
}

TreeNode* TreeInfo::ensureDeclaration() {
  if (declaration_ != nullptr) return declaration_;
  TreeNode* decl = TreeNode::createNode("xml");
  if (decl == nullptr) return nullptr;
  AttributeSet* attrs = decl->ensureAttributes(true);
  if (attrs == nullptr || !attrs->addAttribute("version", "1.0")) {
    delete decl;
    return nullptr;
  }
  declaration_ = decl;
  return decl;
}

const char* TreeInfo::getDoctype() const {
  return doctype_ != nullptr ? doctype_->getString() : "";
}

const char* TreeInfo::getInstructions() const {
  return instructions_ != nullptr ? instructions_->getString() : "";
}

namespace {

bool setText(StringBuffer*& slot, const char* bytes, uint32_t count) {
  if (count == 0) {
    delete slot;
    slot = nullptr;
    return true;
  }
  if (slot == nullptr) {
    slot = new (std::nothrow) StringBuffer();
    if (slot == nullptr) return false;
  }
  return slot->setStringN(bytes, count);
}

}  // namespace

bool TreeInfo::setDoctype(const char* bytes, uint32_t count) {
  return setText(doctype_, bytes, count);
}

bool TreeInfo::setInstructions(const char* bytes, uint32_t count) {
  return setText(instructions_, bytes, count);
}

}  // namespace sfx
