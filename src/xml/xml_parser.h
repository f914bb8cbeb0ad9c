// The lenient single-pass XML parser that builds a TreeNode tree from 8-bit
// text, and the preparation of file bytes (byte-order marks, a declared
// encoding) that comes before parsing a file.
//
// The parser accepts well-formed XML and repairs much that is not: end tags
// close the current element whatever their name, unclosed elements are
// closed at the end, and only three problems are logged ("Unclosed comment",
// "Failed to parse DTD", "Error in closing tag"). It reads each input byte a
// bounded number of times, never past the terminating zero, and keeps no
// stack proportional to the nesting depth.
#ifndef SFX_XML_XML_PARSER_H_
#define SFX_XML_XML_PARSER_H_

#include <cstdint>

namespace sfx {

class DataBuffer;
class LogBase;
class TreeNode;
class XString;

// Parses the zero-terminated text (UTF-8 by convention). With `autoTrim`,
// whitespace around each text run of an element is dropped. A null `log`
// stands for a log that keeps nothing.
// Returns the root of a new document, owned by the caller (destroying the
// root destroys the document), or null when the text holds no root element
// or memory for CDATA content runs out. When the text holds several
// top-level elements, the last one that is closed is the result.
TreeNode* parseXmlText(const char* text, LogBase* log, bool autoTrim);

// As parseXmlText for `count` bytes that need not be zero-terminated; a zero
// byte among them ends the document. Null as well when a terminated copy
// cannot be allocated.
TreeNode* parseXmlBytes(const uint8_t* bytes, uint32_t count, LogBase* log,
                        bool autoTrim);

// Turns the bytes of an XML file into the UTF-8 text the parser reads, in
// place: FF FE or FE FF at the start converts the whole buffer from UTF-16LE
// or UTF-16BE; EF BB BF is removed; otherwise an encoding declared in
// "<?xml ... ?>" that names a known charset other than UTF-8 converts the
// buffer from that charset. Returns false, with the reason in `log`, for an
// empty buffer and for a conversion that yields nothing (a charset the
// converter has no table for); the buffer is then unchanged.
bool prepareXmlFileBytes(DataBuffer& bytes, LogBase& log);

// Reads the file at `path`, prepares its bytes and parses them. Null when
// the file cannot be read (with the file layer's log entries), is empty,
// cannot be converted, or holds no root element.
TreeNode* parseXmlFile(const XString& path, LogBase* log, bool autoTrim);

}  // namespace sfx

#endif  // SFX_XML_XML_PARSER_H_
