// LogEntry2: construction and the text, XML and HTML renderings.
#include "log/log_entry.h"

#include <cstring>
#include <new>

namespace sfx {
namespace {

// A copy of `s` on the heap, or null when it (or its text) cannot be
// allocated.
StringBuffer* copyOf(const char* s) {
  StringBuffer* sb = new (std::nothrow) StringBuffer();
  if (!sb) return nullptr;
  if (!sb->append(s)) {
    delete sb;
    return nullptr;
  }
  return sb;
}

void indent(StringBuffer& out, int level) {
  if (level > 0) out.appendCharN(' ', static_cast<uint32_t>(2 * level));
}

// XML text: a CDATA section when the text holds a line feed, a tab, "&",
// ">" or "<", unless it already holds a complete CDATA section.
void appendXmlText(StringBuffer& out, const StringBuffer& text) {
  const char* s = text.getString();
  bool needsWrap = strpbrk(s, "\n\t&><") != nullptr;
  bool wrapped = strstr(s, "<![CDATA[") && strstr(s, "]]>");
  if (needsWrap && !wrapped) {
    out.append("<![CDATA[");
    out.appendSb(text);
    out.append("]]>");
  } else {
    out.appendSb(text);
  }
}

void appendHtmlEscaped(StringBuffer& out, const StringBuffer& text) {
  StringBuffer escaped(text);
  escaped.encodeXmlSpecial();
  out.appendSb(escaped);
}

}  // namespace

LogEntry2::~LogEntry2() {
  delete tag_;
  delete text_;
  delete children_;
}

LogEntry2* LogEntry2::newContext(const char* tag, uint32_t milliseconds) {
  LogEntry2* e = new (std::nothrow) LogEntry2();
  if (!e) return nullptr;
  e->kind_ = kContext;
  e->tag_ = copyOf(tag);
  e->children_ = new (std::nothrow) ExtPtrArray();
  if (!e->tag_ || !e->children_) {
    delete e;
    return nullptr;
  }
  e->children_->setOwnsObjects(true);
  e->milliseconds_ = milliseconds;
  return e;
}

LogEntry2* LogEntry2::newText(char kind, const char* text) {
  LogEntry2* e = new (std::nothrow) LogEntry2();
  if (!e) return nullptr;
  e->kind_ = kind;
  e->text_ = copyOf(text);
  if (!e->text_) {
    delete e;
    return nullptr;
  }
  return e;
}

LogEntry2* LogEntry2::newTagValue(const char* tag, const char* value) {
  LogEntry2* e = new (std::nothrow) LogEntry2();
  if (!e) return nullptr;
  e->kind_ = kTagValue;
  e->tag_ = copyOf(tag);
  e->text_ = copyOf(value);
  if (!e->tag_ || !e->text_) {
    delete e;
    return nullptr;
  }
  return e;
}

bool LogEntry2::addChild(LogEntry2* child) {
  if (!child) return false;
  if (!acceptsChild() || !children_->append(child)) {
    delete child;
    return false;
  }
  return true;
}

void LogEntry2::renderText(StringBuffer& out, int level) const {
  switch (kind_) {
    case kError:
    case kInfo:
    case kRawText:
      if (!text_) return;
      indent(out, level);
      out.appendSb(*text_);
      out.appendChar2('\r', '\n');
      return;
    case kTagValue:
      if (!tag_ || !text_) return;
      indent(out, level);
      out.appendSb(*tag_);
      out.append(": ");
      out.appendSb(*text_);
      out.appendChar2('\r', '\n');
      return;
    case kContext:
      if (!tag_ || !children_) return;
      indent(out, level);
      out.appendSb(*tag_);
      if (milliseconds_ != 0) {
        out.appendChar('(');
        out.appendUint32(milliseconds_);
        out.append("ms)");
      }
      out.append(":\r\n");
      for (int i = 0; i < numChildren(); ++i) {
        if (const LogEntry2* c = childAt(i)) c->renderText(out, level + 1);
      }
      indent(out, level);
      out.append("--");
      out.appendSb(*tag_);
      out.appendChar2('\r', '\n');
      return;
    default:
      return;
  }
}

void LogEntry2::renderXml(StringBuffer& out, int level) const {
  switch (kind_) {
    case kError:
    case kInfo:
      if (!text_) return;
      indent(out, level);
      out.append(kind_ == kError ? "<error>" : "<info>");
      appendXmlText(out, *text_);
      out.append(kind_ == kError ? "</error>\r\n" : "</info>\r\n");
      return;
    case kRawText:
      if (!text_) return;
      indent(out, level);
      out.appendSb(*text_);
      out.appendChar2('\r', '\n');
      return;
    case kTagValue:
      if (!tag_ || !text_) return;
      indent(out, level);
      out.appendChar('<');
      out.appendSb(*tag_);
      out.appendChar('>');
      appendXmlText(out, *text_);
      out.append("</");
      out.appendSb(*tag_);
      out.append(">\r\n");
      return;
    case kContext:
      if (!tag_ || !children_) return;
      indent(out, level);
      out.appendChar('<');
      out.appendSb(*tag_);
      if (milliseconds_ != 0) {
        out.append(" ms=\"");
        out.appendUint32(milliseconds_);
        out.appendChar('"');
      }
      out.append(">\r\n");
      for (int i = 0; i < numChildren(); ++i) {
        if (const LogEntry2* c = childAt(i)) c->renderXml(out, level + 1);
      }
      indent(out, level);
      out.append("</");
      out.appendSb(*tag_);
      out.append(">\r\n");
      return;
    default:
      return;
  }
}

void LogEntry2::renderHtml(StringBuffer& out) const {
  switch (kind_) {
    case kError:
    case kInfo:
    case kRawText:
      if (!text_) return;
      appendHtmlEscaped(out, *text_);
      out.append("<br>\r\n");
      return;
    case kTagValue:
      if (!tag_ || !text_) return;
      out.appendSb(*tag_);
      out.append(": ");
      appendHtmlEscaped(out, *text_);
      out.append("<br>\r\n");
      return;
    case kContext:
      if (!tag_ || !children_) return;
      out.appendSb(*tag_);
      if (milliseconds_ != 0) {
        out.appendChar('(');
        out.appendUint32(milliseconds_);
        out.append("ms)");
      }
      out.append(":<blockquote>\r\n");
      for (int i = 0; i < numChildren(); ++i) {
        if (const LogEntry2* c = childAt(i)) c->renderHtml(out);
      }
      out.append("</blockquote>\r\n");
      return;
    default:
      return;
  }
}

}  // namespace sfx
