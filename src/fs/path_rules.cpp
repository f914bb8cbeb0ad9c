// The portable part of the path rules: pure transformations of the UTF-8
// form of a path. Every character they look at is ASCII, so working on
// UTF-8 bytes never splits a character.
#include "fs/path_rules.h"

#include <cstring>
#include <string>
#include <vector>

#include "charset/encoding_convert.h"
#include "log/log_base.h"
#include "os/os.h"
#include "text/data_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace {

void toBackslashes(std::string& s) {
  for (char& c : s)
    if (c == '/') c = '\\';
}

bool beginsWith(const std::string& s, const char* prefix) {
  return s.compare(0, strlen(prefix), prefix) == 0;
}

bool isTrimChar(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && isTrimChar(s[b])) ++b;
  while (e > b && isTrimChar(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Replaces every `from` at or after `start` by `to`; returns the count.
size_t replaceAll(std::string& s, char from, char to, size_t start = 0) {
  size_t n = 0;
  for (size_t i = start; i < s.size(); ++i) {
    if (s[i] == from) {
      s[i] = to;
      ++n;
    }
  }
  return n;
}

std::string stripRootText(std::string s) {
  toBackslashes(s);
  if (beginsWith(s, "\\\\?\\UNC\\")) {
    s = "\\\\" + s.substr(8);
  } else if (beginsWith(s, "\\\\?\\")) {
    s = s.substr(4);
  }
  size_t i = 0;
  if (beginsWith(s, "\\\\")) {
    size_t server = s.find('\\', 2);
    if (server == std::string::npos) return std::string();
    size_t share = s.find('\\', server + 1);
    if (share == std::string::npos) return std::string();
    i = share;
  } else if (s.size() >= 2 && s[1] == ':') {
    i = 2;
  }
  while (i < s.size() && s[i] == '\\') ++i;
  return s.substr(i);
}

// Drops "." components of a relative name and lets ".." remove the component
// before it, never going above the start. A trailing "\" is kept.
std::string foldDots(const std::string& name) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('\\', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += '\\';
    out += parts[i];
  }
  if (!out.empty() && !name.empty() && name.back() == '\\') out += '\\';
  return out;
}

// The directory part shared by joinPath and joinFileName; appends the
// folded `part` after a "\".
void joinFolded(const XString& dir, const std::string& part, XString& out) {
  std::string d = trimmed(dir.getUtf8());
  toBackslashes(d);
  std::string rest = foldDots(part);
  if (d.empty()) {
    out.setFromUtf8(rest.c_str());
    return;
  }
  if (d.back() != '\\') d += '\\';
  d += rest;
  out.setFromUtf8(d.c_str());
}

void logRepair(LogBase* log, const char* message, const std::string& before) {
  if (!log) return;
  log->logInfo(message);
  log->logData("filename", before.c_str());
}

// Replaces every `bad` by "_" with the message when there is one.
void repairChar(std::string& s, char bad, const char* message, LogBase* log) {
  if (s.find(bad) == std::string::npos) return;
  logRepair(log, message, s);
  replaceAll(s, bad, '_');
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

// Length of the device word `comp` begins with (ignoring case), or 0. The
// word must be followed by the end of the name or by "." (spaces between
// them are allowed: Windows drops them when it looks for devices).
size_t deviceWordLength(const std::string& comp) {
  static const char* const kWords[] = {"con", "prn", "aux", "nul", "clock$"};
  std::string lower;
  for (char c : comp) lower += lowerAscii(c);
  size_t len = 0;
  for (const char* w : kWords) {
    if (beginsWith(lower, w)) {
      len = strlen(w);
      break;
    }
  }
  if (len == 0 && (beginsWith(lower, "com") || beginsWith(lower, "lpt")) &&
      lower.size() > 3 && lower[3] >= '0' && lower[3] <= '9') {
    len = 4;
  }
  if (len == 0) return 0;
  size_t i = len;
  while (i < lower.size() && lower[i] == ' ') ++i;
  return (i == lower.size() || lower[i] == '.') ? len : 0;
}

}  // namespace

bool isLegacySystem() { return WindowsVersion::query().isLegacy(); }

uint32_t utf16Length(const XString& path) {
  const char16_t* w = path.getUtf16();
  uint32_t n = 0;
  while (w[n]) ++n;
  return n;
}

bool isAnsiLossless(const XString& path) {
  const StringBuffer& utf8 = path.getUtf8SbConst();
  if (utf8.is7bit()) return true;
  EncodingConvert conv;
  DataBuffer ansi;
  LogNull log;
  return conv.EncConvert(kCodePageUtf8, activeAnsiCodePage(),
                         reinterpret_cast<const uint8_t*>(utf8.getString()),
                         utf8.getSize(), ansi, log);
}

PathCallForm chooseOpenCallForm(const XString& path, bool legacy) {
  if (utf16Length(path) < kMaxShortPath && (legacy || isAnsiLossless(path)))
    return PathCallForm::kAnsi;
  return PathCallForm::kWideExtended;
}

void toExtendedPath(const XString& path, XString& out) {
  XString full;
  getFullPath(path, full);
  std::string f = full.getUtf8();
  if (beginsWith(f, "\\\\?\\")) {
    // Already extended.
  } else if (beginsWith(f, "\\\\.\\")) {
    f[2] = '?';
  } else if (beginsWith(f, "\\\\")) {
    f = "\\\\?\\UNC" + f.substr(1);
  } else {
    f = "\\\\?\\" + f;
  }
  out.setFromUtf8(f.c_str());
}

void toDeletePath(const XString& path, XString& out) {
  if (utf16Length(path) <= kMaxShortPath)
    out.copyFrom(path);
  else
    toExtendedPath(path, out);
}

void lastPathComponent(const XString& path, XString& out) {
  std::string s = path.getUtf8();
  size_t cut = s.rfind('\\');
  if (cut == std::string::npos) cut = s.rfind('/');
  out.setFromUtf8(cut == std::string::npos ? s.c_str()
                                           : s.substr(cut + 1).c_str());
}

void stripRoot(XString& path) {
  path.setFromUtf8(stripRootText(path.getUtf8()).c_str());
}

void joinPath(const XString& dir, const XString& name, XString& out) {
  joinFolded(dir, stripRootText(name.getUtf8()), out);
}

void joinFileName(const XString& dir, const XString& path, XString& out) {
  XString part;
  getFileNamePart(path, part);
  joinFolded(dir, part.getUtf8(), out);
}

void sanitizeFileName(XString& path, bool checkReservedNames, LogBase* log) {
  std::string s = path.getUtf8();
  const std::string original = s;

  // A drive colon (C: or \\?\C:) sits at index 1 to 7 and is kept; a colon
  // at index 0 leaves the path alone.
  size_t colon = s.find(':');
  if (colon != std::string::npos && colon > 0) {
    size_t keep = colon <= 7 ? colon : std::string::npos;
    bool other =
        keep == std::string::npos || s.find(':', keep + 1) != std::string::npos;
    if (other) {
      logRepair(log,
                keep == std::string::npos
                    ? "The : character is not allowed in Windows filenames."
                    : "The : character is not allowed in Windows filenames..",
                s);
      replaceAll(s, ':', '_', keep == std::string::npos ? 0 : keep + 1);
      if (log) log->logData("modifiedFilename", s.c_str());
    }
  }

  repairChar(s, '|', "The | character is not allowed in Windows filenames.",
             log);

  // The "?" of the extended-length prefix \\?\ is kept.
  size_t qStart = beginsWith(s, "\\\\?\\") ? 3 : 0;
  if (s.find('?', qStart) != std::string::npos) {
    logRepair(log, "The ? character is not allowed in Windows filenames.", s);
    replaceAll(s, '?', '_', qStart);
  }

  repairChar(s, '*',
             "The asterisk character is not allowed in Windows filenames.",
             log);
  repairChar(
      s, '<',
      "The open-angle-bracket character is not allowed in Windows filenames.",
      log);
  repairChar(
      s, '>',
      "The close-angle-bracket character is not allowed in Windows filenames.",
      log);
  repairChar(s, '"',
             "The double-quote character is not allowed in Windows filenames.",
             log);

  std::string noBreaks;
  for (char c : s)
    if (c != '\r' && c != '\n') noBreaks += c;
  s.swap(noBreaks);

  if (checkReservedNames) {
    size_t cut = s.find_last_of("\\/");
    size_t start = cut == std::string::npos ? 0 : cut + 1;
    if (deviceWordLength(s.substr(start)) > 0) s.insert(start, "_");
  }

  if (s != original) path.setFromUtf8(s.c_str());
}

}  // namespace sfx
