// ClsXml: the handle class over the XML tree, with its handle counting.
#include "xml/cls_xml.h"

#include "log/log_base.h"
#include "os/os.h"
#include "text/string_buffer.h"
#include "text/xstring.h"
#include "xml/attribute_set.h"
#include "xml/tree_node.h"
#include "xml/xml_parser.h"
#include "xml/xml_serializer.h"

namespace sfx {

namespace {

// A path given to LoadXml2 instead of a document is shorter than this.
constexpr uint32_t kMaxPathLength = 100;

}  // namespace

ClsXml::ClsXml() { attachNewDocument("unnamed"); }

ClsXml::~ClsXml() {
  checkValid();
  attach(nullptr);
  valid_ = 0;
}

void ClsXml::checkValid() const {
  if (valid_ != kValidTag) fatalInternalError("ClsXml: invalid object");
}

void ClsXml::attach(TreeNode* node) {
  if (node_ != nullptr && node_->isValid() && node_->releaseHandle()) {
    TreeInfo* doc = node_->getDocument();
    TreeNode* root = doc != nullptr ? doc->getRoot() : node_;
    if (root != nullptr && root->getParent() == nullptr) delete root;
  }
  node_ = node;
  if (node_ != nullptr) node_->addHandle();
}

void ClsXml::attachNewDocument(const char* rootTag) {
  // A node that failed its check is not touched again.
  if (node_ != nullptr && !node_->isValid()) node_ = nullptr;
  attach(TreeNode::createRoot(rootTag));
}

bool ClsXml::checkNode() {
  checkValid();
  if (node_ != nullptr && node_->isValid()) return true;
  attachNewDocument("rRoot");
  return false;
}

bool ClsXml::checkNodeLogged() {
  checkValid();
  if (node_ == nullptr) {
    log_.logError("m_tree is null.");
    return false;
  }
  if (!node_->isValid()) {
    log_.logError("m_tree is invalid.");
    attachNewDocument("rroot");
    return false;
  }
  return true;
}

bool ClsXml::LoadXml2(const XString& xml, bool autoTrim) {
  CritSecExitor cs(*this);
  log_.clearLog();
  LogContextExitor ctx(log_, "LoadXml2");
  if (!checkNodeLogged()) return false;

  const StringBuffer& text = xml.getUtf8SbConst();
  TreeNode* root;
  if (!text.containsChar('<') && text.getSize() < kMaxPathLength &&
      text.endsWithIgnoreCase(".xml")) {
    StringBuffer pathText(text);
    pathText.trim2();
    XString path;
    path.setFromUtf8Sb(pathText);
    root = parseXmlFile(path, &log_, autoTrim);
  } else {
    root = parseXmlText(text.getString(), &log_, autoTrim);
  }
  if (root == nullptr) return false;
  attach(root);
  return true;
}

bool ClsXml::GetXml(XString& out) {
  CritSecExitor cs(*this);
  log_.clearLog();
  LogContextExitor ctx(log_, "GetXml");
  if (!checkNodeLogged()) return false;
  out.clear();

  if (node_->isDocumentRoot()) {
    TreeNode* decl = node_->getDocument()->getDeclaration();
    if (decl == nullptr || decl->getAttributes() == nullptr ||
        !decl->getAttributes()->hasAttribute("encoding")) {
      setEncoding("utf-8");
    }
  }
  StringBuffer& sb = out.getUtf8Sb();
  if (!serializeXmlNode(node_, sb, 0, 0, !emitDeclaration_)) {
    log_.memoryAllocFailed(1, static_cast<int>(sb.getSize()));
    return false;
  }
  return true;
}

bool ClsXml::SetTag(const char* tag) {
  CritSecExitor cs(*this);
  if (!checkNode()) return false;
  node_->setTag(tag);
  return true;
}

bool ClsXml::GetTag(StringBuffer& out) {
  CritSecExitor cs(*this);
  out.clear();
  if (!checkNode()) return false;
  return out.append(node_->getTag());
}

bool ClsXml::SetEncoding(const char* charset) {
  CritSecExitor cs(*this);
  if (!checkNode()) return false;
  return setEncoding(charset);
}

bool ClsXml::setEncoding(const char* charset) {
  TreeInfo* doc = node_->getDocument();
  if (doc == nullptr) return false;
  StringBuffer name(charset);
  name.trim2();
  for (const char* c = " \n\r></"; *c != '\0'; ++c) {
    name.removeCharOccurrences(*c);
  }
  TreeNode* decl = doc->ensureDeclaration();
  if (decl == nullptr) return false;
  AttributeSet* attrs = decl->ensureAttributes(true);
  if (attrs == nullptr) return false;
  attrs->removeByName("encoding");
  return attrs->addAttribute("encoding", name.getString());
}

bool ClsXml::GetChildContent(const char* tag, XString& out) {
  CritSecExitor cs(*this);
  out.clear();
  if (!checkNode()) return false;
  TreeNode* child = node_->findChild(tag);
  if (child == nullptr) return false;
  out.setFromUtf8(child->getContent());
  return true;
}

int ClsXml::GetChildInt(const char* tag) {
  CritSecExitor cs(*this);
  if (!checkNode()) return 0;
  TreeNode* child = node_->findChild(tag);
  if (child == nullptr || !child->hasContent()) return 0;
  StringBuffer text(child->getContent());
  return text.intValue();
}

bool ClsXml::GetChildBool(const char* tag) { return GetChildInt(tag) != 0; }

bool ClsXml::UpdateChildContent(const char* tag, const char* value) {
  CritSecExitor cs(*this);
  if (!checkNode()) return false;
  StringBuffer key(tag);
  key.trim2();
  TreeNode* child = node_->findChild(key.getString());
  if (child == nullptr) return newChild(key.getString(), value);
  return child->setContent(value);
}

bool ClsXml::UpdateChildInt(const char* tag, int value) {
  StringBuffer text;
  text.appendInt(value);
  return UpdateChildContent(tag, text.getString());
}

bool ClsXml::UpdateChildBool(const char* tag, bool value) {
  return UpdateChildContent(tag, value ? "1" : "0");
}

bool ClsXml::NewChild(const char* tag, const char* content) {
  CritSecExitor cs(*this);
  if (!checkNode()) return false;
  return newChild(tag, content);
}

bool ClsXml::newChild(const char* tag, const char* content) {
  StringBuffer cleaned(tag);
  cleaned.trim2();
  cleaned.replaceChar(' ', '_');
  // The child starts as the root of a one-node document of its own and
  // joins this document when it is inserted.
  TreeNode* child = TreeNode::createRoot(cleaned.getString());
  if (child == nullptr) return false;
  if (!child->setContent(content) || !node_->appendChild(child)) {
    delete child;
    return false;
  }
  return true;
}

int ClsXml::GetNumChildren() {
  CritSecExitor cs(*this);
  if (!checkNode()) return 0;
  return node_->getNumChildren();
}

}  // namespace sfx
