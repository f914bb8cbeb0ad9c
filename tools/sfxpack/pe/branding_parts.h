// What the branding files share: the little-endian appenders of the
// resources they build, the version keys --version-info takes, and the
// readers that both branding and "sfxpack info" use. For pe/branding*.cpp
// only.
#ifndef SFX_TOOLS_SFXPACK_PE_BRANDING_PARTS_H_
#define SFX_TOOLS_SFXPACK_PE_BRANDING_PARTS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "pe/pe_resources.h"

namespace sfxpack {
namespace branding_parts {

// The keys of --version-info and of the version strings written.
extern const char* const kVersionKeys[7];

// Append a little-endian field to a resource being built.
void put16(std::vector<uint8_t>& b, uint32_t v);
void put32(std::vector<uint8_t>& b, uint32_t v);

// The language new resources get: that of the stub's first resource.
uint16_t stubLanguage(const PeImage& image);

// The 16 strings of a string-table block, or false when it is cut short.
bool parseStringBlock(const std::vector<uint8_t>& b,
                      std::vector<std::u16string>* out);

// The checks of checkStub that hold for a finished self-extractor too.
bool checkStubImage(const PeImage& image, std::string* error);

}  // namespace branding_parts
}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_PE_BRANDING_PARTS_H_
