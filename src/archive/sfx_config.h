// The configuration record: every setting of a run as the text of one child
// element of the <SfxConfig> document that the payload carries. Values are
// flags ("1"/"0"), integers or UTF-8 texts; a missing key reads as empty, 0
// or false.
#ifndef SFX_ARCHIVE_SFX_CONFIG_H_
#define SFX_ARCHIVE_SFX_CONFIG_H_

#include "xml/cls_xml.h"

namespace sfx {

class XString;

class SfxConfig {
 public:
  // The construction defaults, in this order: AutoTemp 0, DeleteAfterSetup 0,
  // ShowFin 0, ShowMain 1, ShowProgress 1, WaitForSetup 1, Encryption 0,
  // KeyLength 128.
  SfxConfig();
  virtual ~SfxConfig();
  SfxConfig(const SfxConfig&) = delete;
  SfxConfig& operator=(const SfxConfig&) = delete;

  // Generic access. getText fills `out` with the first element of that tag
  // (empty when none) and always returns true; getInt reads the text as an
  // integer (optional sign, decimal digits up to the first other byte).
  bool getText(const char* key, XString& out) const;
  int getInt(const char* key) const;
  bool getFlag(const char* key) const { return getInt(key) != 0; }
  // Replaces the first element's text, or appends a new last element. The
  // key is trimmed; inner spaces become "_".
  void setText(const char* key, const char* utf8Value);
  void setFlag(const char* key, bool on) { setText(key, on ? "1" : "0"); }
  void setInt(const char* key, int value);

  // The whole document serialised as XML.
  void getDocument(XString& out) const;
  // Parses `doc` (element text trimmed) and, when it parses, replaces the
  // whole document with it; a short text without "<" ending in ".xml" names
  // a file to load instead. On failure the document in force stays.
  bool loadDocument(const XString& doc);

  // Keyed access.
  bool getAutoTemp() const { return getFlag("AutoTemp"); }
  bool getShowFin() const { return getFlag("ShowFin"); }
  bool getShowMain() const { return getFlag("ShowMain"); }
  bool getShowProgress() const { return getFlag("ShowProgress"); }
  bool getWaitForSetup() const { return getFlag("WaitForSetup"); }
  bool getEncryption() const { return getFlag("Encryption"); }
  void setAutoTemp(bool on) { setFlag("AutoTemp", on); }
  void setShowFin(bool on) { setFlag("ShowFin", on); }
  void setShowMain(bool on) { setFlag("ShowMain", on); }
  void setShowProgress(bool on) { setFlag("ShowProgress", on); }
  void setWaitForSetup(bool on) { setFlag("WaitForSetup", on); }
  void setEncryption(bool on) { setFlag("Encryption", on); }
  void setDeleteAfterSetup(bool on) { setFlag("DeleteAfterSetup", on); }
  void setKeyLength(int bits) { setInt("KeyLength", bits); }

  // True exactly when ShowMain, ShowProgress and ShowFin are all false.
  bool isSilent() const;
  // True when AutoTemp is set or UnzipDir has at least one character.
  bool unzipDirKnown() const;

 private:
  // The document; its root's direct children are the settings. Reading
  // goes through the handle's lock, hence mutable.
  mutable ClsXml xml_;
};

}  // namespace sfx

#endif  // SFX_ARCHIVE_SFX_CONFIG_H_
