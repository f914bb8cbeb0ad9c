#include "archive/sfx_config.h"

#include <string>

#include "text/xstring.h"

namespace sfx {

SfxConfig::SfxConfig() {
  xml_.SetTag("SfxConfig");
  xml_.SetEncoding("utf-8");
  static const char* const kDefaults[][2] = {
      {"AutoTemp", "0"},   {"DeleteAfterSetup", "0"}, {"ShowFin", "0"},
      {"ShowMain", "1"},   {"ShowProgress", "1"},     {"WaitForSetup", "1"},
      {"Encryption", "0"}, {"KeyLength", "128"}};
  for (const auto& kv : kDefaults) xml_.NewChild(kv[0], kv[1]);
}

SfxConfig::~SfxConfig() = default;

bool SfxConfig::getText(const char* key, XString& out) const {
  xml_.GetChildContent(key, out);
  return true;
}

int SfxConfig::getInt(const char* key) const { return xml_.GetChildInt(key); }

void SfxConfig::setText(const char* key, const char* utf8Value) {
  xml_.UpdateChildContent(key, utf8Value);
}

void SfxConfig::setInt(const char* key, int value) {
  setText(key, std::to_string(value).c_str());
}

void SfxConfig::getDocument(XString& out) const { xml_.GetXml(out); }

bool SfxConfig::loadDocument(const XString& doc) {
  return xml_.LoadXml2(doc, true);
}

bool SfxConfig::isSilent() const {
  return !getShowMain() && !getShowProgress() && !getShowFin();
}

bool SfxConfig::unzipDirKnown() const {
  if (getAutoTemp()) return true;
  XString dir;
  getText("UnzipDir", dir);
  return !dir.isEmpty();
}

}  // namespace sfx
