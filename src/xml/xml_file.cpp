// Reading an XML file: byte-order marks and a declared encoding turn the
// file's bytes into the UTF-8 text the parser reads.
#include <cstring>

#include "charset/charset_names.h"
#include "charset/encoding_convert.h"
#include "log/log_base.h"
#include "text/data_buffer.h"
#include "text/string_buffer.h"
#include "text/xstring.h"
#include "xml/xml_parser.h"

namespace sfx {

namespace {

// Position of the first `pattern` (ASCII letters compared without case) in
// the `n` bytes at `p`, or -1.
int64_t findNoCase(const uint8_t* p, uint32_t n, const char* pattern) {
  uint32_t m = static_cast<uint32_t>(std::strlen(pattern));
  if (m > n) return -1;
  for (uint32_t i = 0; i + m <= n; ++i) {
    uint32_t k = 0;
    while (k < m) {
      uint8_t c = p[i + k];
      if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c + 0x20);
      if (c != static_cast<uint8_t>(pattern[k])) break;
      ++k;
    }
    if (k == m) return i;
  }
  return -1;
}

// The charset named by the encoding pseudo-attribute of the first
// "<?xml ... >" in the buffer, or "" when there is none.
void declaredCharset(const DataBuffer& buf, StringBuffer& out) {
  out.clear();
  const uint8_t* p = buf.getData();
  uint32_t n = buf.getSize();
  int64_t open = findNoCase(p, n, "<?xml");
  if (open < 0) return;
  uint32_t from = static_cast<uint32_t>(open) + 5;
  const void* gt = std::memchr(p + from, '>', n - from);
  if (gt == nullptr) return;
  uint32_t to = static_cast<uint32_t>(static_cast<const uint8_t*>(gt) - p);

  StringBuffer decl;
  if (!decl.appendN(reinterpret_cast<const char*>(p + from), to - from)) {
    return;
  }
  decl.removeCharOccurrences(' ');
  decl.toLowerCase();
  const char* key = decl.findSubstring("encoding=\"");
  if (key == nullptr) key = decl.findSubstring("encoding='");
  if (key == nullptr) return;
  const char* value = key + 10;
  const char* end = std::strchr(value, '"');
  if (end == nullptr) end = std::strchr(value, '\'');
  if (end == nullptr) end = value + std::strlen(value);
  out.appendN(value, static_cast<uint32_t>(end - value));
}

// Replaces the buffer by its conversion from `codePage` to UTF-8. Fails,
// leaving the buffer unchanged, when the conversion yields nothing.
bool convertToUtf8(DataBuffer& buf, uint32_t codePage, const char* what,
                   LogBase& log) {
  DataBuffer out;
  EncodingConvert conv;
  bool ok = conv.EncConvert(codePage, kCodePageUtf8, buf.getData(),
                            buf.getSize(), out, log);
  if (!ok && out.getSize() == 0) {
    log.logError("Failed to convert XML to utf-8");
    log.logData("charset", what);
    return false;
  }
  buf.clear();
  if (!buf.appendDb(out)) {
    log.memoryAllocFailed(20, static_cast<int>(out.getSize()));
    return false;
  }
  return true;
}

}  // namespace

bool prepareXmlFileBytes(DataBuffer& bytes, LogBase& log) {
  uint32_t n = bytes.getSize();
  if (n == 0) {
    log.logError("The XML file is empty.");
    return false;
  }
  const uint8_t* p = bytes.getData();
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    return convertToUtf8(bytes, kCodePageUtf16LE, "utf-16le", log);
  }
  if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
    return convertToUtf8(bytes, kCodePageUtf16BE, "utf-16be", log);
  }
  if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    bytes.removeFront(3);
    return true;
  }
  StringBuffer charset;
  declaredCharset(bytes, charset);
  if (charset.isEmpty() || charset.equalsIgnoreCase("utf-8")) return true;
  uint32_t codePage = charsetToCodePage(charset.getString());
  if (codePage == 0) return true;
  return convertToUtf8(bytes, codePage, charset.getString(), log);
}

TreeNode* parseXmlFile(const XString& path, LogBase* log, bool autoTrim) {
  LogNull nullLog;
  LogBase& lg = log != nullptr ? *log : nullLog;
  DataBuffer bytes;
  if (!bytes.loadFileX(path, lg)) return nullptr;
  if (!prepareXmlFileBytes(bytes, lg)) return nullptr;
  return parseXmlBytes(bytes.getData(), bytes.getSize(), &lg, autoTrim);
}

}  // namespace sfx
