// Reading an XML file: byte-order marks and a declared encoding turn the
// file's bytes into the UTF-8 text the parser reads.
#include <cstring>

#include "charset/encoding_convert.h"
#include "log/log_base.h"
#include "os/os.h"
#include "text/data_buffer.h"
#include "text/string_buffer.h"
#include "text/xstring.h"
#include "xml/tree_node.h"
#include "xml/xml_parser.h"

namespace sfx {

namespace {

struct XmlCharset {
  const char* name;
  uint32_t codePage;
};

// The charset names a declaration is looked up in, with their Windows code
// pages. A name that is not here leaves the file's bytes as they are.
const XmlCharset kCharsets[] = {
    {"utf-8", 65001},
    {"utf8", 65001},
    {"unicode-1-1-utf-8", 65001},
    {"unicode-2-0-utf-8", 65001},
    {"x-unicode-2-0-utf-8", 65001},
    {"utf-16", 1200},
    {"utf16", 1200},
    {"utf-16le", 1200},
    {"ucs-2", 1200},
    {"ucs2", 1200},
    {"unicode", 1200},
    {"iso-10646-ucs-2", 1200},
    {"unicodefffe", 1201},
    {"utf-16be", 1201},
    {"utf16be", 1201},
    {"utf-7", 65000},
    {"utf-32", 65005},
    {"utf-32be", 65006},
    {"us-ascii", 20127},
    {"ascii", 20127},
    {"x-ansi", 1252},
    {"windows-1250", 1250},
    {"windows-1251", 1251},
    {"windows-1252", 1252},
    {"windows-1253", 1253},
    {"windows-1254", 1254},
    {"windows-1255", 1255},
    {"windows-1256", 1256},
    {"windows-1257", 1257},
    {"windows-1258", 1258},
    {"cp1250", 1250},
    {"cp1251", 1251},
    {"cp1252", 1252},
    {"cp1253", 1253},
    {"cp1254", 1254},
    {"cp1255", 1255},
    {"cp1256", 1256},
    {"cp1257", 1257},
    {"cp1258", 1258},
    {"iso-8859-1", 28591},
    {"iso-8859-2", 28592},
    {"iso-8859-3", 28593},
    {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},
    {"iso-8859-6", 28596},
    {"iso-8859-7", 28597},
    {"iso-8859-8", 28598},
    {"iso-8859-9", 28599},
    {"iso-8859-11", 874},
    {"iso-8859-13", 28603},
    {"iso-8859-15", 28605},
    {"latin1", 28591},
    {"cp819", 28591},
    {"iso-ir-100", 28591},
    {"latin9", 28605},
    {"shift-jis", 932},
    {"sjis", 932},
    {"x-sjis", 932},
    {"euc-jp", 51932},
    {"iso-2022-jp", 50220},
    {"gb2312", 936},
    {"gbk", 936},
    {"gb18030", 936},
    {"big5", 950},
    {"euc-kr", 51949},
    {"ks-c-5601-1987", 949},
    {"koi8-r", 20866},
    {"koi8-u", 21866},
    {"ibm437", 437},
    {"ibm850", 850},
};

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

uint32_t xmlCharsetCodePage(const char* name) {
  StringBuffer sb(name);
  sb.trim2();
  sb.toLowerCase();
  sb.replaceChar('_', '-');
  if (sb.getSize() < 3 || sb.equals("ansi")) return activeAnsiCodePage();
  for (const XmlCharset& c : kCharsets) {
    if (sb.equals(c.name)) return c.codePage;
  }
  return 0;
}

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
  uint32_t codePage = xmlCharsetCodePage(charset.getString());
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
