// One node of a Logger's tree and its three renderings: indented text, an
// XML-like form and HTML.
#ifndef SFX_LOG_LOG_ENTRY_H_
#define SFX_LOG_LOG_ENTRY_H_

#include <cstdint>

#include "text/ext_ptr_array.h"
#include "text/marlith_object.h"
#include "text/string_buffer.h"

namespace sfx {

// A context ('C', with a tag and children), an error ('E'), an information
// ('I'), a raw text ('X') or a tag/value pair ('T'). Owns its strings and
// children; destroying a node destroys its whole subtree.
class LogEntry2 : public MarlithObject {
 public:
  static constexpr char kContext = 'C';
  static constexpr char kError = 'E';
  static constexpr char kInfo = 'I';
  static constexpr char kRawText = 'X';
  static constexpr char kTagValue = 'T';

  // A context may hold at most this many children.
  static constexpr int kMaxChildren = 10000;

  LogEntry2() = default;
  ~LogEntry2() override;
  LogEntry2(const LogEntry2&) = delete;
  LogEntry2& operator=(const LogEntry2&) = delete;

  // Build a node with copies of the strings. Return null when memory for the
  // node or its strings cannot be allocated. A context starts with an empty
  // child list and `milliseconds` as its start tick (0: not timed).
  static LogEntry2* newContext(const char* tag, uint32_t milliseconds);
  static LogEntry2* newText(char kind, const char* text);  // 'E', 'I', 'X'
  static LogEntry2* newTagValue(const char* tag, const char* value);

  char kind() const { return kind_; }
  const StringBuffer* tag() const { return tag_; }
  const StringBuffer* text() const { return text_; }

  // Children of a context; null for other kinds.
  ExtPtrArray* children() { return children_; }
  int numChildren() const { return children_ ? children_->getSize() : 0; }
  LogEntry2* childAt(int index) const {
    return children_ ? children_->elementAtAs<LogEntry2>(index) : nullptr;
  }
  // True for a context that can take one more child (fewer than 10000).
  bool acceptsChild() const {
    return children_ && children_->getSize() < kMaxChildren;
  }
  // Appends `child` and takes it over; on failure destroys it and returns
  // false. A full context (or a node that is not a context) also fails.
  bool addChild(LogEntry2* child);

  // Start tick while a timed context is open, elapsed milliseconds after it
  // is left; 0 means untimed.
  uint32_t milliseconds() const { return milliseconds_; }
  void setMilliseconds(uint32_t ms) { milliseconds_ = ms; }

  // Append this node and its subtree to `out`. Lines end in CR LF; text and
  // XML indent by two spaces per level, HTML nests blockquotes instead. A
  // node lacking the strings its kind needs writes nothing.
  void renderText(StringBuffer& out, int level) const;
  void renderXml(StringBuffer& out, int level) const;
  void renderHtml(StringBuffer& out) const;

 private:
  char kind_ = kInfo;
  StringBuffer* tag_ = nullptr;
  StringBuffer* text_ = nullptr;
  ExtPtrArray* children_ = nullptr;
  uint32_t milliseconds_ = 0;
};

}  // namespace sfx

#endif  // SFX_LOG_LOG_ENTRY_H_
