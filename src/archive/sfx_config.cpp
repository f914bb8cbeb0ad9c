#include "archive/sfx_config.h"

#include <cstring>

#include "text/xstring.h"

namespace sfx {
namespace {

// Integer rule of the configuration: optional sign, leading zeros skipped,
// decimal digits up to the first other byte; no digits gives 0.
int parseConfigInt(const std::string& s) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  long long v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > 0x7fffffffLL) v = 0x7fffffffLL;
  }
  return static_cast<int>(negative ? -v : v);
}

std::string trimmed(const std::string& s) {
  const char* ws = " \t\r\n";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

void appendEscaped(std::string& out, const std::string& text) {
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
}

bool decodeEntities(const std::string& in, std::string* out) {
  static const struct {
    const char* name;
    char c;
  } kEntities[] = {{"&amp;", '&'},
                   {"&lt;", '<'},
                   {"&gt;", '>'},
                   {"&quot;", '"'},
                   {"&apos;", '\''}};
  out->clear();
  for (size_t i = 0; i < in.size();) {
    if (in[i] == '&') {
      bool matched = false;
      for (const auto& e : kEntities) {
        size_t n = strlen(e.name);
        if (in.compare(i, n, e.name) == 0) {
          out->push_back(e.c);
          i += n;
          matched = true;
          break;
        }
      }
      if (matched) continue;
    }
    out->push_back(in[i++]);
  }
  return true;
}

// Reads a flat <SfxConfig> document: an optional declaration and comments,
// then the root holding one child element per key, each with text only.
// The full XML parser replaces this reader; until then documents with
// attributes, nested elements or CDATA in the children do not load.
bool parseFlatConfig(const std::string& doc,
                     std::vector<std::pair<std::string, std::string>>* out) {
  size_t i = 0;
  auto skipSpace = [&] {
    while (i < doc.size() && strchr(" \t\r\n", doc[i])) ++i;
  };
  auto skipMarkup = [&](const char* open, const char* close) {
    if (doc.compare(i, strlen(open), open) != 0) return false;
    size_t end = doc.find(close, i);
    if (end == std::string::npos) return false;
    i = end + strlen(close);
    return true;
  };
  if (doc.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
  for (;;) {
    skipSpace();
    if (!skipMarkup("<?", "?>") && !skipMarkup("<!--", "-->")) break;
  }
  skipSpace();
  const std::string kOpen = "<SfxConfig";
  if (doc.compare(i, kOpen.size(), kOpen) != 0) return false;
  i += kOpen.size();
  size_t gt = doc.find('>', i);
  if (gt == std::string::npos) return false;
  bool selfClosed = gt > i && doc[gt - 1] == '/';
  i = gt + 1;
  std::vector<std::pair<std::string, std::string>> elements;
  if (!selfClosed) {
    for (;;) {
      skipSpace();
      if (skipMarkup("<!--", "-->")) continue;
      if (doc.compare(i, 12, "</SfxConfig>") == 0) break;
      if (i >= doc.size() || doc[i] != '<') return false;
      size_t tagEnd = doc.find_first_of(" \t\r\n/>", i + 1);
      if (tagEnd == std::string::npos) return false;
      std::string tag = doc.substr(i + 1, tagEnd - i - 1);
      if (tag.empty() || tag[0] == '/' || tag[0] == '!' || tag[0] == '?')
        return false;
      size_t close = doc.find('>', tagEnd);
      if (close == std::string::npos) return false;
      if (doc[close - 1] == '/') {
        elements.emplace_back(tag, "");
        i = close + 1;
        continue;
      }
      std::string endTag = "</" + tag + ">";
      size_t end = doc.find(endTag, close + 1);
      if (end == std::string::npos) return false;
      std::string raw = doc.substr(close + 1, end - close - 1);
      if (raw.find('<') != std::string::npos) return false;
      std::string text;
      decodeEntities(trimmed(raw), &text);
      elements.emplace_back(tag, text);
      i = end + endTag.size();
    }
  }
  *out = std::move(elements);
  return true;
}

}  // namespace

SfxConfig::SfxConfig()
    : elements_{{"AutoTemp", "0"},     {"DeleteAfterSetup", "0"},
                {"ShowFin", "0"},      {"ShowMain", "1"},
                {"ShowProgress", "1"}, {"WaitForSetup", "1"},
                {"Encryption", "0"},   {"KeyLength", "128"}} {}

SfxConfig::~SfxConfig() = default;

const std::string* SfxConfig::find(const char* key) const {
  for (const auto& e : elements_) {
    if (e.first == key) return &e.second;
  }
  return nullptr;
}

bool SfxConfig::getText(const char* key, XString& out) const {
  const std::string* v = find(key);
  out.setFromUtf8(v ? v->c_str() : "");
  return true;
}

int SfxConfig::getInt(const char* key) const {
  const std::string* v = find(key);
  return v ? parseConfigInt(*v) : 0;
}

void SfxConfig::setText(const char* key, const char* utf8Value) {
  std::string tag = trimmed(key ? key : "");
  for (char& c : tag) {
    if (c == ' ') c = '_';
  }
  std::string value = utf8Value ? utf8Value : "";
  for (auto& e : elements_) {
    if (e.first == tag) {
      e.second = value;
      return;
    }
  }
  elements_.emplace_back(tag, value);
}

void SfxConfig::setInt(const char* key, int value) {
  setText(key, std::to_string(value).c_str());
}

void SfxConfig::getDocument(XString& out) const {
  std::string doc =
      "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<SfxConfig>\r\n";
  for (const auto& e : elements_) {
    doc += "    <" + e.first + ">";
    appendEscaped(doc, e.second);
    doc += "</" + e.first + ">\r\n";
  }
  doc += "</SfxConfig>\r\n";
  out.setFromUtf8(doc.c_str());
}

bool SfxConfig::loadDocument(const XString& doc) {
  std::vector<std::pair<std::string, std::string>> parsed;
  if (!parseFlatConfig(doc.getUtf8(), &parsed)) return false;
  elements_ = std::move(parsed);
  return true;
}

bool SfxConfig::isSilent() const {
  return !getShowMain() && !getShowProgress() && !getShowFin();
}

bool SfxConfig::unzipDirKnown() const {
  if (getAutoTemp()) return true;
  const std::string* dir = find("UnzipDir");
  return dir && !dir->empty();
}

}  // namespace sfx
