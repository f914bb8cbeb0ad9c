// The stubs built into the packer, and its version. The release build puts
// the shipped 32-bit stub and the 64-bit build of the same source into the
// program (embedded_stubs.cpp.in); a build without them has none and asks
// for --stub.
#ifndef SFX_TOOLS_SFXPACK_PE_EMBEDDED_STUBS_H_
#define SFX_TOOLS_SFXPACK_PE_EMBEDDED_STUBS_H_

#include <cstddef>
#include <cstdint>

namespace sfxpack {

struct EmbeddedStub {
  const char* arch;     // "x86" or "x64"
  const char* version;  // the version of the source it was built from
  const uint8_t* data;  // nullptr when this build holds no such stub
  size_t size;
};

// The packer's version ("1.2.3").
extern const char kPackerVersion[];

// The SPDX identifier of the licence of the packer and its built-in stubs.
extern const char kLicense[];

// The stub slots, x86 first; each has data == nullptr when not built in.
extern const EmbeddedStub kEmbeddedStubs[2];

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_PE_EMBEDDED_STUBS_H_
