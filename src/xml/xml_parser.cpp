// The XML parser: one forward pass of a cursor over zero-terminated text,
// with the open elements linked through their parent pointers (no stack).
#include "xml/xml_parser.h"

#include <cstdlib>
#include <cstring>

#include "log/log_base.h"
#include "text/ext_ptr_array.h"
#include "text/string_buffer.h"
#include "xml/tree_node.h"

namespace sfx {

namespace {

bool isWs(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
}

// True when `text` starts with `prefix` (ASCII case ignored when `noCase`).
// Stops at the first mismatch, so it never reads past the text's zero.
bool startsWith(const char* text, const char* prefix, bool noCase) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    char c = noCase ? lowerAscii(*text) : *text;
    if (c != *prefix) return false;
  }
  return true;
}

// A named entity and the byte it stands for.
struct Entity {
  const char* name;
  char c;
};

// The orders in which element attribute values and the pseudo-attributes of
// declarations have their entities replaced.
const Entity kElementEntities[] = {{"&lt;", '<'},
                                   {"&gt;", '>'},
                                   {"&quot;", '"'},
                                   {"&apos;", '\''},
                                   {"&amp;", '&'}};
const Entity kPseudoEntities[] = {{"&lt;", '<'},
                                  {"&gt;", '>'},
                                  {"&apos;", '\''},
                                  {"&quot;", '"'},
                                  {"&amp;", '&'}};

// Replaces the five named entities of `value`, one full pass each, in the
// order given.
void replaceEntities(StringBuffer& value, const Entity (&order)[5]) {
  if (!value.containsChar('&')) return;
  for (const Entity& e : order) value.replaceAllWithChar(e.name, e.c);
}

// The parser of one text. See parseXmlText.
class Parser {
 public:
  Parser(const char* text, LogBase& log, bool trim)
      : p_(text), log_(log), trim_(trim) {
    stylesheets_.setOwnsObjects(true);
  }
  ~Parser() { delete pendingDecl_; }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  TreeNode* run();

 private:
  void skipWs() {
    while (isWs(*p_)) ++p_;
  }
  // Advances to the next `c`, or to the terminating zero.
  void skipTo(char c) {
    const char* q = std::strchr(p_, c);
    p_ = q != nullptr ? q : p_ + std::strlen(p_);
  }
  void outOfMemory(int point, uint32_t numBytes) {
    log_.memoryAllocFailed(point, static_cast<int>(numBytes));
  }

  // Each returns false when parsing stops.
  bool inElement();
  bool markup();
  bool cdata();
  bool bang();
  bool instruction();
  bool endTag();
  bool startTag();

  void appendTextRun(const char* run, uint32_t runLen, const char* ws,
                     uint32_t wsLen);
  void readAttribute(TreeNode* node);
  void readPseudoAttributes(TreeNode* node);
  void addAttribute(TreeNode* node, StringBuffer& name, StringBuffer& value);
  // Without trimming, the content of an element with children loses its
  // surrounding whitespace when the element closes, and goes when nothing
  // else is left.
  void trimClosing(TreeNode* node);
  void closeCurrent();
  void finishRoot(TreeNode* root);
  void destroyTree(TreeNode* node);

  const char* p_;
  LogBase& log_;
  bool trim_;
  bool failed_ = false;
  bool noInstructionEnd_ = false;  // no "?>" after the cursor
  TreeNode* cur_ = nullptr;        // innermost open element
  TreeNode* finished_ = nullptr;   // last closed top-level element
  // Lengths of doctype_ and instructions_ when finished_ was closed: the
  // document takes the texts gathered up to then.
  uint32_t finishedDoctypeLen_ = 0;
  uint32_t finishedInstructionsLen_ = 0;
  TreeNode* pendingDecl_ = nullptr;
  ExtPtrArray stylesheets_;
  StringBuffer doctype_;
  StringBuffer instructions_;
};

TreeNode* Parser::run() {
  while (*p_ != '\0') {
    if (cur_ != nullptr) {
      if (!inElement()) break;
      continue;
    }
    // Outside the root element: text is ignored up to the next "<".
    skipWs();
    if (*p_ == '\0') break;
    skipTo('<');
    if (*p_ == '\0') break;
    ++p_;
    if (!markup()) break;
  }

  if (cur_ != nullptr) {
    // Each element still open is closed here as an end tag closes it.
    TreeNode* top = cur_;
    trimClosing(top);
    while (top->getParent() != nullptr) {
      top = top->getParent();
      trimClosing(top);
    }
    cur_ = nullptr;
    if (finished_ != nullptr || failed_) {
      destroyTree(top);  // an unfinished element after the root
    } else {
      finishRoot(top);  // unclosed elements are accepted
    }
  }
  if (failed_) {
    destroyTree(finished_);
    return nullptr;
  }
  if (finished_ != nullptr) {
    TreeInfo* doc = finished_->getDocument();
    if (!doc->setDoctype(doctype_.getString(), finishedDoctypeLen_) ||
        !doc->setInstructions(instructions_.getString(),
                              finishedInstructionsLen_)) {
      outOfMemory(1, finishedDoctypeLen_ + finishedInstructionsLen_);
    }
  }
  return finished_;
}

void Parser::destroyTree(TreeNode* node) { delete node; }

bool Parser::inElement() {
  const char* ws = p_;
  skipWs();
  uint32_t wsLen = trim_ ? 0 : static_cast<uint32_t>(p_ - ws);

  if (startsWith(p_, "<![CDATA[", false)) {
    p_ += 9;
    return cdata();
  }

  const char* run = p_;
  skipTo('<');
  const char* runEnd = p_;
  if (*p_ == '<') ++p_;
  if (trim_) {
    while (runEnd > run && isWs(runEnd[-1])) --runEnd;
  }
  appendTextRun(run, static_cast<uint32_t>(runEnd - run), ws, wsLen);

  if (startsWith(p_, "![CDATA[", false)) {
    p_ += 8;
    return cdata();
  }
  return markup();
}

void Parser::appendTextRun(const char* run, uint32_t runLen, const char* ws,
                           uint32_t wsLen) {
  if (runLen == 0) {
    // Whitespace alone is content only before the first child.
    if (wsLen == 0 || cur_->getNumChildren() != 0) return;
    StringBuffer* sb = cur_->contentBuffer();
    if (sb == nullptr || !sb->appendN(ws, wsLen)) outOfMemory(2, wsLen);
    return;
  }
  StringBuffer* sb = cur_->contentBuffer();
  if (sb == nullptr) {
    outOfMemory(3, runLen);
    return;
  }
  uint32_t from = sb->getSize();
  bool ok = sb->expectNumBytes(wsLen + 1 + runLen);
  if (ok && wsLen != 0) ok = sb->appendN(ws, wsLen);
  if (ok && from != 0) ok = sb->appendChar(' ');
  if (ok) ok = sb->appendN(run, runLen);
  if (!ok) {
    sb->shorten(sb->getSize() - from);
    outOfMemory(4, runLen);
    return;
  }
  sb->decodeXmlSpecial(from);
}

bool Parser::cdata() {
  // The cursor stands just after "<![CDATA[".
  for (;;) {
    const char* end = std::strstr(p_, "]]>");
    uint32_t n =
        static_cast<uint32_t>(end != nullptr ? end - p_ : std::strlen(p_));
    StringBuffer* sb = cur_->contentBuffer();
    if (sb == nullptr || !sb->appendN(p_, n)) {
      outOfMemory(5, n);
      failed_ = true;
      return false;
    }
    cur_->setCdata(true);
    if (end == nullptr) {
      p_ += n;
      return false;
    }
    // Bytes between "]]>" and the next "<" are dropped.
    p_ = end + 3;
    skipTo('<');
    if (*p_ == '\0') return false;
    if (startsWith(p_, "<![CDATA[", false)) {
      p_ += 9;
      continue;
    }
    ++p_;
    return markup();
  }
}

bool Parser::markup() {
  // The cursor stands just after a "<".
  char marker = *p_;
  skipWs();
  if (*p_ == '\0') return false;
  switch (marker) {
    case '!':
      return bang();
    case '?':
      ++p_;
      return instruction();
    case '/':
      return endTag();
    default:
      return startTag();
  }
}

bool Parser::bang() {
  // The cursor stands at the "!".
  if (p_[1] == '-' && p_[2] == '-') {
    const char* end = std::strstr(p_ + 3, "-->");
    if (end == nullptr) {
      log_.logError("Unclosed comment");
      return false;
    }
    p_ = end + 3;
    return true;
  }
  if (startsWith(p_ + 1, "doctype", true)) {
    // Copy up to the ">" that brings the nesting of "<" and ">" back to 0.
    const char* start = p_;
    uint32_t before = doctype_.getSize();
    int depth = 1;
    while (*p_ != '\0') {
      char c = *p_++;
      if (c == '<') {
        ++depth;
      } else if (c == '>' && --depth == 0) {
        break;
      }
    }
    bool ok = doctype_.appendChar('<') &&
              doctype_.appendN(start, static_cast<uint32_t>(p_ - start)) &&
              doctype_.appendChar('\n');
    if (!ok) outOfMemory(6, static_cast<uint32_t>(p_ - start));
    if (depth != 0) {
      // A declaration the end of the text cut off is not kept.
      doctype_.shorten(doctype_.getSize() - before);
      log_.logError("Failed to parse DTD");
      return false;
    }
    return true;
  }
  skipTo('>');
  if (*p_ == '\0') return false;
  ++p_;
  return true;
}

bool Parser::instruction() {
  // The cursor stands just after "<?".
  bool decl = startsWith(p_, "xml", true) && isWs(p_[3]);
  bool stylesheet = !decl && startsWith(p_, "xml-stylesheet", true);
  if (!decl && !stylesheet) {
    // Once a search found no "?>", none lies further on: later unclosed
    // instructions must not scan the rest of the text again.
    const char* end = nullptr;
    if (!noInstructionEnd_) {
      end = std::strstr(p_, "?>");
      noInstructionEnd_ = end == nullptr;
    }
    // An instruction without its "?>" is not kept: written in front of the
    // root, it would run to a "?>" further on (in a CDATA section, say).
    if (end == nullptr) return true;
    uint32_t n = static_cast<uint32_t>(end + 2 - p_);
    if (!instructions_.append("<?") || !instructions_.appendN(p_, n) ||
        !instructions_.appendChar('\n')) {
      outOfMemory(7, n);
    }
    p_ = end + 2;
    return true;
  }

  const char* name = p_;
  while (*p_ != '\0' && !isWs(*p_) && *p_ != '/' && *p_ != '>') ++p_;
  TreeNode* node = TreeNode::createNode("");
  if (node == nullptr) {
    outOfMemory(8, 0);
    return false;
  }
  node->setTagN(name, static_cast<uint32_t>(p_ - name));
  skipWs();
  if (*p_ == '/') ++p_;
  if (decl) {
    delete pendingDecl_;
    pendingDecl_ = node;
  } else if (!stylesheets_.append(node)) {
    delete node;
    outOfMemory(9, 0);
    return false;
  }
  readPseudoAttributes(node);
  return true;
}

void Parser::readPseudoAttributes(TreeNode* node) {
  StringBuffer name;
  StringBuffer value;
  skipWs();
  while (*p_ != '\0' && *p_ != '>') {
    const char* before = p_;
    name.clear();
    value.clear();
    const char* start = p_;
    while (*p_ != '\0' && !isWs(*p_) && *p_ != '=' && *p_ != '?' &&
           *p_ != '>') {
      ++p_;
    }
    name.appendN(start, static_cast<uint32_t>(p_ - start));
    name.removeCharOccurrences('"');
    skipWs();
    if (*p_ == '=') {
      ++p_;
      skipWs();
      start = p_;
      if (*p_ == '"' || *p_ == '\'') {
        ++start;
        ++p_;
        while (*p_ != '\0' && *p_ != '"' && *p_ != '\'' && *p_ != '\r' &&
               *p_ != '\n') {
          ++p_;
        }
        value.appendN(start, static_cast<uint32_t>(p_ - start));
        if (*p_ == '"' || *p_ == '\'') ++p_;
      } else {
        while (*p_ != '\0' && !isWs(*p_) && *p_ != '"' && *p_ != '\'') ++p_;
        value.appendN(start, static_cast<uint32_t>(p_ - start));
      }
      replaceEntities(value, kPseudoEntities);
    }
    addAttribute(node, name, value);
    skipWs();
    if (*p_ == '?') ++p_;
    skipWs();
    if (p_ == before) ++p_;  // a byte no rule consumes
  }
  if (*p_ == '>') ++p_;
}

void Parser::addAttribute(TreeNode* node, StringBuffer& name,
                          StringBuffer& value) {
  if (name.isEmpty()) return;
  TreeNode::cleanTag(name);
  if (name.isEmpty()) return;
  char first = name.getString()[0];
  if ((first >= '0' && first <= '9') || first == '-' || first == '.') {
    name.prepend("A");
  }
  if (!node->addAttribute(name.getString(), name.getSize(), value.getString(),
                          value.getSize())) {
    outOfMemory(11, name.getSize() + value.getSize());
  }
}

bool Parser::endTag() {
  // The cursor stands at the "/".
  while (*p_ != '\0' && *p_ != '>' && *p_ != '<') ++p_;
  if (*p_ == '>') {
    ++p_;
  } else if (*p_ == '<') {
    log_.logError("Error in closing tag");
    if (cur_ != nullptr) log_.logData("error_tag", cur_->getTag());
  }
  if (cur_ == nullptr) return true;
  trimClosing(cur_);
  closeCurrent();
  return true;
}

void Parser::trimClosing(TreeNode* node) {
  if (trim_ || node->getNumChildren() == 0 || !node->hasContent()) return;
  StringBuffer* sb = node->contentBuffer();
  sb->trim2();
  if (sb->isEmpty()) node->removeContent();
}

bool Parser::startTag() {
  const char* start = p_;
  while (*p_ != '\0' && !isWs(*p_) && *p_ != '/' && *p_ != '>') ++p_;
  if (*p_ == '\0') return false;
  const char* tagEnd = p_;
  // A tag whose first kept byte is "!" would be written back as "<!"
  // markup: it is skipped as other "<!" markup is, up to just after ">".
  const char* first = start;
  while (first < tagEnd &&
         !TreeNode::isTagByte(static_cast<unsigned char>(*first))) {
    ++first;
  }
  if (first < tagEnd && *first == '!') {
    skipTo('>');
    if (*p_ == '\0') return false;
    ++p_;
    return true;
  }
  skipWs();
  bool empty = false;
  if (*p_ == '/') {
    empty = true;
    ++p_;
  }

  TreeNode* node;
  if (cur_ != nullptr) {
    node = TreeNode::createNode("");
    if (node != nullptr && !cur_->appendChild(node)) {
      delete node;
      node = nullptr;
    }
  } else {
    node = TreeNode::createRoot("");
  }
  if (node == nullptr) {
    outOfMemory(12, 0);
    return false;
  }
  // The tag rule also drops any "<" inside the name.
  node->setTagN(start, static_cast<uint32_t>(tagEnd - start));
  cur_ = node;

  while (*p_ != '\0' && *p_ != '>') {
    const char* before = p_;
    readAttribute(node);
    skipWs();
    if (*p_ == '/') {
      empty = true;
      ++p_;
      skipWs();
    }
    if (p_ == before) ++p_;  // a byte no rule consumes
  }
  if (*p_ == '>') ++p_;
  if (empty) closeCurrent();
  return true;
}

void Parser::readAttribute(TreeNode* node) {
  StringBuffer name;
  StringBuffer value;
  skipWs();
  const char* start = p_;
  while (*p_ != '\0' && !isWs(*p_) && *p_ != '=' && *p_ != '/' && *p_ != '>') {
    ++p_;
  }
  name.appendN(start, static_cast<uint32_t>(p_ - start));
  skipWs();
  if (*p_ == '=') {
    ++p_;
    skipWs();
    char quote = *p_;
    if (quote == '"' || quote == '\'') {
      start = ++p_;
      skipTo(quote);
      value.appendN(start, static_cast<uint32_t>(p_ - start));
      if (*p_ == quote) ++p_;
    } else {
      // An unquoted value stops at whitespace or where the tag ends (">"
      // or "/>"); a "/" inside it, as in a URL, is kept.
      start = p_;
      while (*p_ != '\0' && !isWs(*p_) && *p_ != '>' &&
             !(p_[0] == '/' && p_[1] == '>')) {
        ++p_;
      }
      value.appendN(start, static_cast<uint32_t>(p_ - start));
    }
    replaceEntities(value, kElementEntities);
  }
  addAttribute(node, name, value);
}

void Parser::closeCurrent() {
  TreeNode* node = cur_;
  if (node->getParent() != nullptr) {
    cur_ = node->getParent();
    return;
  }
  cur_ = nullptr;
  finishRoot(node);
}

void Parser::finishRoot(TreeNode* root) {
  TreeInfo* doc = root->getDocument();
  if (pendingDecl_ != nullptr) {
    doc->setDeclaration(pendingDecl_);
    pendingDecl_ = nullptr;
  }
  int numSheets = stylesheets_.getSize();
  for (int i = 0; i < numSheets; ++i) {
    MarlithObject* sheet = stylesheets_.elementAt(i);
    if (!doc->stylesheets().append(sheet)) {
      delete sheet;
      outOfMemory(13, 0);
    }
  }
  stylesheets_.removeAll();
  finishedDoctypeLen_ = doctype_.getSize();
  finishedInstructionsLen_ = instructions_.getSize();
  destroyTree(finished_);
  finished_ = root;
}

}  // namespace

TreeNode* parseXmlText(const char* text, LogBase* log, bool autoTrim) {
  LogNull nullLog;
  if (text == nullptr) return nullptr;
  Parser parser(text, log != nullptr ? *log : nullLog, autoTrim);
  return parser.run();
}

TreeNode* parseXmlBytes(const uint8_t* bytes, uint32_t count, LogBase* log,
                        bool autoTrim) {
  char* text = static_cast<char*>(std::malloc(static_cast<size_t>(count) + 1));
  if (text == nullptr) {
    if (log != nullptr) log->memoryAllocFailed(14, static_cast<int>(count));
    return nullptr;
  }
  if (count != 0) std::memcpy(text, bytes, count);
  text[count] = '\0';
  TreeNode* root = parseXmlText(text, log, autoTrim);
  std::free(text);
  return root;
}

}  // namespace sfx
