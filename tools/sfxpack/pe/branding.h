// Branding a self-extractor: the packager's icon, version information,
// manifest and strings written into the copy of the stub before the payload
// is appended, and "sfxpack info", which reads them back.
#ifndef SFX_TOOLS_SFXPACK_PE_BRANDING_H_
#define SFX_TOOLS_SFXPACK_PE_BRANDING_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "pe/pe_resources.h"

namespace sfxpack {

struct BrandingOptions {
  std::string icon;  // an .ico file; empty: the stub's icon stays
  std::vector<std::pair<std::string, std::string>> versionInfo;  // KEY, VALUE
  std::string manifest;  // a manifest file; empty: the stub's manifest
  bool elevate = false;  // requestedExecutionLevel requireAdministrator
  std::vector<std::pair<uint16_t, std::string>> strings;  // id, UTF-8 text

  bool any() const {
    return !icon.empty() || !versionInfo.empty() || !manifest.empty() ||
           elevate || !strings.empty();
  }
};

// If argv[*i] is a branding flag of "create", takes it (and its value,
// advancing *i) into *o and returns true; *error is then empty, or says why
// the value is unusable. Returns false, touching nothing, for other options.
bool parseBrandingOption(int argc, char** argv, int* i, BrandingOptions* o,
                         std::string* error);

// Writes the branding asked for into *stub, an unsigned PE image with
// nothing appended. Reads the icon and manifest files. Does nothing when no
// branding is asked for. On failure returns false with *error set and *stub
// unchanged.
bool applyBranding(const BrandingOptions& o, std::vector<uint8_t>* stub,
                   std::string* error);

// After the payload has been appended to the branded stub in `f` (open for
// reading and writing, named `path` in messages): sets the PE checksum to
// that of the whole file. Does nothing when no branding was asked for.
bool finishBranding(const BrandingOptions& o, FILE* f, const std::string& path,
                    std::string* error);

// Whether `stub` can serve as a stub: a PE32 or PE32+ Windows GUI
// executable with a sound layout (PeImage::checkLayout) and without a
// payload (the payload marker appears nowhere in it). On refusal returns
// false with *error set to a one-line reason.
bool checkStub(const std::vector<uint8_t>& stub, std::string* error);

// "sfxpack info FILE.exe": prints the architecture, the resources, the
// payload's place and the stored configuration. Returns the exit status.
int runInfo(int argc, char** argv);

// The pieces, each on an image already parsed. On failure they return false
// with *error set and leave the image's resources unchanged.

// Every image of the .ico as an icon, and their group as the image's first
// icon group (the one the shell shows), replacing that group and its icons.
bool setIcon(PeImage* image, const std::vector<uint8_t>& ico,
             std::string* error);

// The keys and values merged into the image's version information (made
// afresh when it has none); FileVersion and ProductVersion also set the
// fixed numeric versions. Keys outside the supported set are refused.
bool setVersionInfo(PeImage* image,
                    const std::vector<std::pair<std::string, std::string>>& kv,
                    std::string* error);

// The manifest: `replacement` when not null, else the image's own; with
// `elevate`, its execution level becomes requireAdministrator.
bool setManifest(PeImage* image, const std::string* replacement, bool elevate,
                 std::string* error);

// String `id` of the image's string table, which must already have it.
bool setString(PeImage* image, uint16_t id, const std::string& text,
               std::string* error);

// Readers used by info and the tests.
struct IconImage {
  unsigned width = 0;  // pixels; 256 for a 0 in the directory
  unsigned height = 0;
  unsigned bitCount = 0;
  bool png = false;
  uint16_t id = 0;  // of the RT_ICON resource
  size_t bytes = 0;
};
// The images an RT_GROUP_ICON resource lists, checked against the image's
// RT_ICON resources.
bool readIconGroup(const PeImage& image, const Resource& group,
                   std::vector<IconImage>* out, std::string* error);

struct VersionInfo {
  uint32_t fileMs = 0, fileLs = 0, productMs = 0, productLs = 0;
  uint16_t lang = kLangEnUs;
  uint16_t codePage = 1200;                                  // UTF-16
  std::vector<std::pair<std::string, std::string>> strings;  // UTF-8
};
bool readVersionInfo(const std::vector<uint8_t>& data, VersionInfo* out,
                     std::string* error);
std::vector<uint8_t> buildVersionInfo(const VersionInfo& info);

// "1.2.3.4" (up to four numbers, each 0 to 65535, '.' or ',' between them,
// text after them ignored) as the two words of a fixed version.
bool parseDottedVersion(const std::string& text, uint32_t* ms, uint32_t* ls);

// The level of the manifest's requestedExecutionLevel, or "" without one.
std::string manifestLevel(const std::string& manifest);
// The manifest with its requestedExecutionLevel's level set to
// requireAdministrator (the element added when missing); everything else is
// kept byte for byte.
bool elevateManifest(std::string* manifest, std::string* error);

// String `id` of a string-table block, or false when the block lacks it.
bool readStringTableEntry(const std::vector<uint8_t>& block, unsigned index,
                          std::u16string* out);

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_PE_BRANDING_H_
