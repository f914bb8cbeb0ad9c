#include "pack/config_keys.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "text/string_buffer.h"
#include "text/xstring.h"
#include "xml/cls_xml.h"

namespace sfxpack {

const std::vector<ConfigKey>& configKeys() {
  static const std::vector<ConfigKey> kKeys = {
      {"AutoTemp", KeyKind::kFlag, "0"},
      {"DeleteAfterSetup", KeyKind::kFlag, "0"},
      {"ShowFin", KeyKind::kFlag, "0"},
      {"ShowMain", KeyKind::kFlag, "1"},
      {"ShowProgress", KeyKind::kFlag, "1"},
      {"WaitForSetup", KeyKind::kFlag, "1"},
      {"Encryption", KeyKind::kFlag, "0"},
      {"KeyLength", KeyKind::kInteger, "128"},
      {"UnzipDir", KeyKind::kText, nullptr},
      {"DefaultDir", KeyKind::kText, nullptr},
      {"SetupExe", KeyKind::kText, nullptr},
      {"SetupExeArgs", KeyKind::kText, nullptr},
      {"MainTitle", KeyKind::kText, nullptr},
      {"MainCaption", KeyKind::kText, nullptr},
      {"VersionCreatedBy", KeyKind::kText, nullptr},
      {"Verbose", KeyKind::kInteger, nullptr},
      {"Debug", KeyKind::kInteger, nullptr},
      {"Cleanup", KeyKind::kInteger, nullptr},
      {"DecoderThreads", KeyKind::kInteger, nullptr},
      {"Unattended", KeyKind::kFlag, nullptr},
      {"WaitForAll", KeyKind::kFlag, nullptr},
      // Read both as an integer and as a text; a text it is, to the packer.
      {"AutoExit", KeyKind::kText, nullptr},
      {"MainUnzipLabel", KeyKind::kText, nullptr},
      {"MainUnzipBtn", KeyKind::kText, nullptr},
      {"MainCloseBtn", KeyKind::kText, nullptr},
      {"MainBrowseBtn", KeyKind::kText, nullptr},
      {"MainWidth", KeyKind::kInteger, nullptr},
      {"MainHeight", KeyKind::kInteger, nullptr},
      {"FinTitle", KeyKind::kText, nullptr},
      {"FinCaption", KeyKind::kText, nullptr},
      {"FinOkBtn", KeyKind::kText, nullptr},
      {"FinWidth", KeyKind::kInteger, nullptr},
      {"FinHeight", KeyKind::kInteger, nullptr},
      {"PwTitle", KeyKind::kText, nullptr},
      {"PwCaption", KeyKind::kText, nullptr},
      {"PwdOkBtn", KeyKind::kText, nullptr},
      {"PwdCancelBtn", KeyKind::kText, nullptr},
      {"PwWidth", KeyKind::kInteger, nullptr},
      {"PwHeight", KeyKind::kInteger, nullptr},
      {"ProgressTitle", KeyKind::kText, nullptr},
      {"ProgressCaption", KeyKind::kText, nullptr},
      {"ProgressWidth", KeyKind::kInteger, nullptr},
      {"ProgressHeight", KeyKind::kInteger, nullptr},
      {"ErrPwdTitle", KeyKind::kText, nullptr},
      {"ErrPwdCaption", KeyKind::kText, nullptr},
  };
  return kKeys;
}

const ConfigKey* findConfigKey(const std::string& name) {
  for (const ConfigKey& k : configKeys()) {
    if (name == k.name) return &k;
  }
  return nullptr;
}

const std::vector<ConfigFlag>& configFlags() {
  static const std::vector<ConfigFlag> kFlags = {
      {"--title", "TEXT", "MainTitle", "main dialog title"},
      {"--caption", "TEXT", "MainCaption", "main dialog text"},
      {"--unzip-dir", "DIR", "UnzipDir",
       "unzip into DIR (%NAME% expanded); no dialog asks"},
      {"--default-dir", "DIR", "DefaultDir",
       "folder the main dialog offers"},
      {"--temp", nullptr, "AutoTemp=1", "unzip into a new temporary folder"},
      {"--run", "PROGRAM", "SetupExe",
       "program to start after unzipping (\"shell\": the command interpreter)"},
      {"--run-args", "ARGS", "SetupExeArgs", "arguments for that program"},
      {"--wait", nullptr, "WaitForSetup=1",
       "wait for the program; its exit code becomes the stub's (default)"},
      {"--no-wait", nullptr, "WaitForSetup=0", "do not wait for the program"},
      {"--wait-all", nullptr, "WaitForAll=1",
       "also wait for every process the program starts (needs --wait)"},
      {"--unattended", nullptr, "Unattended=1",
       "never show a window; failures go to the run log and the exit code"},
      {"--cleanup", nullptr, "Cleanup=1",
       "delete what was unzipped after the program ends (needs --wait)"},
      {"--auto-exit", nullptr, "AutoExit=1",
       "end right after the program starts (exit code 0; no cleanup)"},
      {"--silent", nullptr, "ShowMain=0 ShowProgress=0 ShowFin=0",
       "no dialogs at all (needs --unzip-dir or --temp)"},
      {"--progress-only", nullptr, "ShowMain=0 ShowProgress=1 ShowFin=0",
       "only the progress dialog (needs --unzip-dir or --temp)"},
      {"--finish-notice", nullptr, "ShowFin=1",
       "show the finished dialog at the end"},
      {"--unzip-label", "TEXT", "MainUnzipLabel", "main dialog's folder label"},
      {"--unzip-button", "TEXT", "MainUnzipBtn",
       "main dialog's Unzip button (with --unzip-label)"},
      {"--close-button", "TEXT", "MainCloseBtn",
       "main dialog's Close button (with --unzip-label)"},
      {"--browse-button", "TEXT", "MainBrowseBtn",
       "main dialog's Browse button (with --unzip-label)"},
      {"--main-width", "PIXELS", "MainWidth", "main dialog width"},
      {"--main-height", "PIXELS", "MainHeight", "main dialog height"},
      {"--finish-title", "TEXT", "FinTitle", "finished dialog title"},
      {"--finish-text", "TEXT", "FinCaption", "finished dialog text"},
      {"--finish-button", "TEXT", "FinOkBtn", "finished dialog OK button"},
      {"--finish-width", "PIXELS", "FinWidth", "finished dialog width"},
      {"--finish-height", "PIXELS", "FinHeight", "finished dialog height"},
      {"--password-title", "TEXT", "PwTitle", "password dialog title"},
      {"--password-text", "TEXT", "PwCaption", "password dialog text"},
      {"--password-ok-button", "TEXT", "PwdOkBtn", "password dialog OK button"},
      {"--password-cancel-button", "TEXT", "PwdCancelBtn",
       "password dialog Cancel button"},
      {"--password-width", "PIXELS", "PwWidth", "password dialog width"},
      {"--password-height", "PIXELS", "PwHeight", "password dialog height"},
      {"--progress-title", "TEXT", "ProgressTitle", "progress dialog title"},
      {"--progress-text", "TEXT", "ProgressCaption", "progress dialog text"},
      {"--progress-width", "PIXELS", "ProgressWidth", "progress dialog width"},
      {"--progress-height", "PIXELS", "ProgressHeight",
       "progress dialog height"},
      {"--wrong-password-title", "TEXT", "ErrPwdTitle",
       "title of the wrong-password message"},
      {"--wrong-password-text", "TEXT", "ErrPwdCaption",
       "text of the wrong-password message"},
      {"--stub-verbose", nullptr, "Verbose=1",
       "the stub logs every entry in its run log"},
      {"--decoder-threads", "N", "DecoderThreads",
       "threads the stub decodes with (0: one per core, at most 2; 1: none)"},
      {"--stub-debug", nullptr, "Debug=1",
       "the stub's debug mode: unzip but run no program"},
  };
  return kFlags;
}

const ConfigFlag* findConfigFlag(const std::string& name) {
  for (const ConfigFlag& f : configFlags()) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

namespace {

bool isInteger(const std::string& v) {
  size_t i = v.size() > 1 && v[0] == '-' ? 1 : 0;
  if (i == v.size() || v.size() - i > 9) return false;
  for (; i < v.size(); ++i) {
    if (v[i] < '0' || v[i] > '9') return false;
  }
  return true;
}

bool checkValue(const ConfigKey& key, const std::string& value,
                const std::string& what, std::string* error) {
  if (key.kind == KeyKind::kText) return true;
  if (key.kind == KeyKind::kFlag ? (value == "0" || value == "1")
                                 : isInteger(value)) {
    return true;
  }
  *error = what + " needs " +
           (key.kind == KeyKind::kFlag ? "0 or 1" : "a whole number") +
           ", got '" + value + "'";
  return false;
}

// The text of `key` in `xml`, and whether the element exists.
bool childText(sfx::ClsXml& xml, const char* key, std::string* out) {
  sfx::XString text;
  bool present = xml.GetChildContent(key, text);
  *out = text.getUtf8();
  return present;
}

}  // namespace

bool expandConfigFlag(const ConfigFlag& flag, const std::string& value,
                      std::vector<std::pair<std::string, std::string>>* out,
                      std::string* error) {
  if (flag.valueName) {
    const ConfigKey* key = findConfigKey(flag.sets);
    if (!key || !checkValue(*key, value, flag.name, error)) return false;
    out->emplace_back(flag.sets, value);
    return true;
  }
  const char* p = flag.sets;
  while (*p) {
    const char* end = std::strchr(p, ' ');
    if (!end) end = p + std::strlen(p);
    std::string kv(p, end);
    size_t eq = kv.find('=');
    out->emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
    p = *end ? end + 1 : end;
  }
  return true;
}

bool parseKeyAssignment(const std::string& text,
                        std::pair<std::string, std::string>* out,
                        std::string* error) {
  size_t eq = text.find('=');
  std::string name = text.substr(0, eq);
  const ConfigKey* key = findConfigKey(name);
  if (eq == std::string::npos || !key) {
    *error = "--set needs KEY=VALUE with a configuration key (see "
             "CONFIG.md), got '" +
             text + "'";
    return false;
  }
  std::string value = text.substr(eq + 1);
  if (!checkValue(*key, value, "--set " + name, error)) return false;
  *out = {name, value};
  return true;
}

namespace {

// The document's own form when the packer must store it as it is: a file
// name the stub loads at run time (a short text without "<" ending in
// ".xml"), "utf-16" for a UTF-16 byte-order mark, or the charset its
// declaration names when that is not UTF-8 (the stub converts it where it
// runs, "ansi" with that system's code page). Empty for a UTF-8 document.
std::string verbatimForm(const std::string& d) {
  if (d.find('<') == std::string::npos) {
    std::string t = d;
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back())))
      t.pop_back();
    bool xmlName = t.size() >= 4 && t.size() < 100 &&
                   strcasecmp(t.c_str() + t.size() - 4, ".xml") == 0;
    return xmlName ? "a file name" : "";
  }
  if (d.size() >= 2 && ((d[0] == '\xFF' && d[1] == '\xFE') ||
                        (d[0] == '\xFE' && d[1] == '\xFF')))
    return "utf-16";
  size_t end = d.find("?>");
  if (d.compare(0, 5, "<?xml") != 0 || end == std::string::npos) return "";
  std::string decl = d.substr(0, end);
  size_t at = decl.find("encoding");
  if (at == std::string::npos) return "";
  size_t q = decl.find_first_of("\"'", at);
  if (q == std::string::npos) return "";
  size_t qEnd = decl.find(decl[q], q + 1);
  std::string charset = decl.substr(q + 1, qEnd == std::string::npos
                                               ? std::string::npos
                                               : qEnd - q - 1);
  if (strcasecmp(charset.c_str(), "utf-8") == 0 ||
      strcasecmp(charset.c_str(), "utf8") == 0)
    return "";
  return charset;
}

}  // namespace

bool buildConfig(const ConfigRequest& request, std::string* xml,
                 std::vector<std::string>* warnings, std::string* error) {
  // A document the stub reads in another form is stored as it is; the
  // packer adds nothing to it, so nothing may need adding.
  std::string form = request.document ? verbatimForm(*request.document) : "";
  if (!form.empty()) {
    if (!request.overrides.empty() || request.encrypted) {
      *error = request.documentName + " is " +
               (form == "a file name" ? form + " the stub loads when it runs"
                                      : "in " + form) +
               ", which sfxpack stores as it is: configuration flags and "
               "--password cannot be added to it (write it in UTF-8 or set "
               "the keys in it and encrypt without --config)";
      return false;
    }
    *xml = *request.document;
    return true;
  }
  sfx::ClsXml doc;
  if (request.document) {
    sfx::XString text;
    text.setFromUtf8N(request.document->data(),
                      static_cast<uint32_t>(request.document->size()));
    // A short text naming an .xml file would be read as that file's path.
    if (request.document->find('<') == std::string::npos ||
        !doc.LoadXml2(text, true)) {
      *error = request.documentName + ": not an XML document";
      return false;
    }
    sfx::StringBuffer root;
    doc.GetTag(root);
    if (std::strcmp(root.getString(), "SfxConfig") != 0) {
      *error = request.documentName + ": the root element is <" +
               root.getString() + ">, not <SfxConfig>";
      return false;
    }
  } else {
    doc.SetTag("SfxConfig");
    doc.SetEncoding("utf-8");
    for (const ConfigKey& k : configKeys()) {
      if (k.defaultValue) doc.NewChild(k.name, k.defaultValue);
    }
  }

  std::string value;
  bool documentEncryption =
      request.document && childText(doc, "Encryption", &value);
  if (request.encrypted && documentEncryption &&
      sfx::StringBuffer(value.c_str()).intValue() == 0) {
    *error = request.documentName +
             " sets Encryption to 0, but --password encrypts the payload: "
             "remove the element or set it to 1";
    return false;
  }
  bool overrideEncryption = false;
  for (const auto& kv : request.overrides) {
    if (kv.first == "Encryption") {
      overrideEncryption = true;
      if (request.encrypted && kv.second == "0") {
        *error = "--set Encryption=0 contradicts --password";
        return false;
      }
    }
    doc.UpdateChildContent(kv.first.c_str(), kv.second.c_str());
  }
  if (!request.encrypted && doc.GetChildBool("Encryption")) {
    *error = (overrideEncryption ? std::string("--set Encryption=1")
                                 : request.documentName +
                                       " sets Encryption to 1") +
             ", but no --password is given: the stub would ask for a "
             "password the payload does not have";
    return false;
  }
  // A loaded document gains only what encryption needs: an absent
  // Encryption already reads as 0, and the document stays as short as the
  // packager wrote it.
  if (request.encrypted) {
    doc.UpdateChildContent("Encryption", "1");
    doc.UpdateChildInt("KeyLength", request.keyBits);
  }
  if (!request.document && !request.createdBy.empty() &&
      !childText(doc, "VersionCreatedBy", &value)) {
    doc.UpdateChildContent("VersionCreatedBy", request.createdBy.c_str());
  }

  // Settings the stub would quietly read otherwise than the packager means.
  std::string text;
  bool showMain = doc.GetChildBool("ShowMain");
  bool dirKnown = doc.GetChildBool("AutoTemp") ||
                  (childText(doc, "UnzipDir", &text) && !text.empty());
  bool unattended = doc.GetChildBool("Unattended");
  if (!showMain && !dirKnown && !unattended) {
    warnings->push_back(
        "ShowMain is 0 (or absent) but no unzip folder is known "
        "(--unzip-dir or --temp): the stub shows its main dialog to ask "
        "for one, unless -unzipDir is given when it runs");
  }
  bool haveProgram = childText(doc, "SetupExe", &text) && !text.empty();
  if (doc.GetChildInt("Cleanup") != 0) {
    if (!doc.GetChildBool("WaitForSetup")) {
      warnings->push_back(
          "Cleanup is set but WaitForSetup is 0: the stub cannot clean up "
          "without waiting for the program");
    }
    if (doc.GetChildInt("AutoExit") != 0) {
      warnings->push_back(
          "Cleanup is set but AutoExit turns cleanup off");
    }
  }
  if (doc.GetChildBool("WaitForAll") && !doc.GetChildBool("WaitForSetup")) {
    warnings->push_back(
        "WaitForAll is set but WaitForSetup is 0: the stub waits for nothing");
  }
  if (!haveProgram && childText(doc, "SetupExeArgs", &text) && !text.empty()) {
    warnings->push_back("SetupExeArgs is set but no program (--run) is");
  }

  sfx::XString out;
  if (!doc.GetXml(out)) {
    *error = "cannot write the configuration document (out of memory)";
    return false;
  }
  *xml = out.getUtf8();
  return true;
}

}  // namespace sfxpack
