// --manifest and --elevate: the application manifest replaced, or its
// requested execution level raised, byte for byte elsewhere.
#include "pe/branding.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include "archive/payload_format.h"
#include "archive/simple_archive.h"
#include "log/logger.h"
#include "pe/branding_parts.h"
#include "stream/data_source.h"
#include "text/little_endian.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfxpack {

using namespace branding_parts;
using sfx::loadLe16;
using sfx::loadLe32;

namespace {

constexpr uint16_t kManifestId = 1;  // the process's own manifest

// Where the requestedExecutionLevel start tag is: its '<', the end of its
// name, and its closing '>'; the level attribute's value, if present.
struct LevelTag {
  size_t open = std::string::npos, nameEnd = 0, close = 0;
  size_t valueBegin = std::string::npos, valueEnd = 0;
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string localName(const std::string& qname) {
  size_t colon = qname.find(':');
  return colon == std::string::npos ? qname : qname.substr(colon + 1);
}

// Scans the start tags outside comments, CDATA and processing instructions.
// Calls visit(open, nameEnd, close, name) for each; stops when it returns true.
template <typename Visit>
bool scanTags(const std::string& m, Visit visit) {
  size_t p = 0;
  while ((p = m.find('<', p)) != std::string::npos) {
    if (m.compare(p, 4, "<!--") == 0) {
      size_t e = m.find("-->", p + 4);
      if (e == std::string::npos) return false;
      p = e + 3;
      continue;
    }
    if (m.compare(p, 2, "<?") == 0 || m.compare(p, 2, "<!") == 0) {
      size_t e = m.find('>', p);
      if (e == std::string::npos) return false;
      p = e + 1;
      continue;
    }
    size_t q = p + 1;
    while (q < m.size() && !isSpace(m[q]) && m[q] != '>' && m[q] != '/') ++q;
    std::string name = m.substr(p + 1, q - p - 1);
    // The tag ends at the first '>' outside a quoted attribute value.
    size_t e = q;
    char quote = 0;
    for (; e < m.size(); ++e) {
      if (quote) {
        if (m[e] == quote) quote = 0;
      } else if (m[e] == '"' || m[e] == '\'') {
        quote = m[e];
      } else if (m[e] == '>') {
        break;
      }
    }
    if (e >= m.size()) return false;
    if (visit(p, q, e, name)) return true;
    p = e + 1;
  }
  return false;
}

LevelTag findLevelTag(const std::string& m) {
  LevelTag t;
  scanTags(m, [&](size_t open, size_t nameEnd, size_t close,
                  const std::string& name) {
    if (localName(name) != "requestedExecutionLevel") return false;
    t.open = open;
    t.nameEnd = nameEnd;
    t.close = close;
    size_t p = nameEnd;
    while (p < close) {
      while (p < close && (isSpace(m[p]) || m[p] == '/')) ++p;
      size_t a = p;
      while (p < close && !isSpace(m[p]) && m[p] != '=') ++p;
      std::string attr = m.substr(a, p - a);
      while (p < close && isSpace(m[p])) ++p;
      if (p >= close || m[p] != '=') break;
      ++p;
      while (p < close && isSpace(m[p])) ++p;
      if (p >= close || (m[p] != '"' && m[p] != '\'')) break;
      char quote = m[p++];
      size_t v = p;
      while (p < close && m[p] != quote) ++p;
      if (attr == "level") {
        t.valueBegin = v;
        t.valueEnd = p;
      }
      ++p;
    }
    return true;
  });
  return t;
}

constexpr const char kTrustInfo[] =
    "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security>"
    "<requestedPrivileges><requestedExecutionLevel "
    "level=\"requireAdministrator\" uiAccess=\"false\"/>"
    "</requestedPrivileges></security></trustInfo>";

constexpr const char kMinimalManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" "
    "manifestVersion=\"1.0\">\r\n"
    "</assembly>\r\n";

}  // namespace

std::string manifestLevel(const std::string& manifest) {
  LevelTag t = findLevelTag(manifest);
  if (t.open == std::string::npos || t.valueBegin == std::string::npos)
    return "";
  return manifest.substr(t.valueBegin, t.valueEnd - t.valueBegin);
}

bool elevateManifest(std::string* m, std::string* error) {
  const std::string level = "requireAdministrator";
  LevelTag t = findLevelTag(*m);
  if (t.open != std::string::npos) {
    if (t.valueBegin != std::string::npos) {
      m->replace(t.valueBegin, t.valueEnd - t.valueBegin, level);
    } else {
      m->insert(t.nameEnd, " level=\"" + level + "\"");
    }
    return true;
  }
  // No such element: a trustInfo block goes before the closing root tag.
  size_t close = std::string::npos;
  size_t p = 0;
  while ((p = m->find("</", p)) != std::string::npos) {
    size_t e = m->find('>', p);
    if (e == std::string::npos) break;
    std::string name = m->substr(p + 2, e - p - 2);
    while (!name.empty() && isSpace(name.back())) name.pop_back();
    if (localName(name) == "assembly") close = p;
    p = e;
  }
  if (close != std::string::npos) {
    m->insert(close, std::string("  ") + kTrustInfo + "\r\n");
    return true;
  }
  // An empty root, <assembly .../>, gets a body and an end tag.
  bool done = false;
  scanTags(*m, [&](size_t, size_t, size_t tagEnd, const std::string& name) {
    if (localName(name) != "assembly" || (*m)[tagEnd - 1] != '/') return false;
    m->replace(tagEnd - 1, 2,
               ">" + std::string(kTrustInfo) + "</" + name + ">");
    done = true;
    return true;
  });
  if (!done) *error = "the manifest has no closing assembly element";
  return done;
}

bool setManifest(PeImage* image, const std::string* replacement, bool elevate,
                 std::string* error) {
  const Resource* old = nullptr;
  for (const Resource& r : image->resources()) {
    if (r.type == ResId::number(kRtManifest) &&
        r.name == ResId::number(kManifestId)) {
      old = &r;
      break;
    }
  }
  std::string text;
  if (replacement) {
    text = *replacement;
    if (text.find("<assembly") == std::string::npos &&
        text.find(":assembly") == std::string::npos) {
      *error = "the manifest file holds no assembly element";
      return false;
    }
    std::u16string check;
    if (!utf8ToUtf16(text, &check)) {
      *error = "the manifest file is not UTF-8";
      return false;
    }
  } else if (old) {
    text.assign(old->data.begin(), old->data.end());
  } else {
    text = kMinimalManifest;
  }
  if (elevate && !elevateManifest(&text, error)) return false;
  Resource r;
  r.type = ResId::number(kRtManifest);
  r.name = ResId::number(kManifestId);
  r.lang = old ? old->lang : stubLanguage(*image);
  r.data.assign(text.begin(), text.end());
  image->put(std::move(r));
  return true;
}

}  // namespace sfxpack
