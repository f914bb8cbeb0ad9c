// Fuzz target for the packer's PE reader, resource writer and branding, fed
// an arbitrary stub and .ico. The input is a 2-byte little-endian length,
// that many bytes of stub, and the rest as the .ico. Besides returning for
// any bytes, every image the writer produces must parse again and have a
// sound layout, and the stub check must agree with the checks it is made of.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pe/branding.h"
#include "pe/pe_resources.h"

namespace {

void fail(const char* what, const std::string& why) {
  fprintf(stderr, "%s: %s\n", what, why.c_str());
  abort();
}

// Reads every resource the way info does.
void readAll(const sfxpack::PeImage& image) {
  for (const sfxpack::Resource& r : image.resources()) {
    std::string why;
    if (r.type == sfxpack::ResId::number(sfxpack::kRtGroupIcon)) {
      std::vector<sfxpack::IconImage> icons;
      sfxpack::readIconGroup(image, r, &icons, &why);
    } else if (r.type == sfxpack::ResId::number(sfxpack::kRtVersion)) {
      sfxpack::VersionInfo info;
      sfxpack::readVersionInfo(r.data, &info, &why);
    } else if (r.type == sfxpack::ResId::number(sfxpack::kRtManifest)) {
      sfxpack::manifestLevel(std::string(r.data.begin(), r.data.end()));
    } else if (r.type == sfxpack::ResId::number(sfxpack::kRtString)) {
      std::u16string text;
      for (unsigned i = 0; i < 16; ++i)
        sfxpack::readStringTableEntry(r.data, i, &text);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t stubSize = data[0] | size_t(data[1]) << 8;
  if (stubSize > size - 2) stubSize = size - 2;
  std::vector<uint8_t> stub(data + 2, data + 2 + stubSize);
  std::vector<uint8_t> ico(data + 2 + stubSize, data + size);

  uint64_t end = 0;
  sfxpack::peImageEndFromHeaders(stub, &end);
  std::string why;
  bool accepted = sfxpack::checkStub(stub, &why);
  sfxpack::PeImage image;
  if (!image.parse(stub, &why)) {
    if (accepted) fail("checkStub accepted what parse refuses", why);
    return 0;
  }
  image.architecture();
  bool sound = image.checkLayout(&why);
  if (accepted && !sound) fail("checkStub accepted an unsound layout", why);
  readAll(image);

  // Branding: each piece may refuse; what is written must be sound.
  const uint8_t mode = ico.empty() ? 0 : ico[0];
  if (!ico.empty()) sfxpack::setIcon(&image, ico, &why);
  if (mode & 1) sfxpack::setManifest(&image, nullptr, true, &why);
  if (mode & 2) sfxpack::setString(&image, 103, "Title", &why);
  if (mode & 4)
    sfxpack::setVersionInfo(&image, {{"FileVersion", "1.2.3.4"}}, &why);
  std::vector<uint8_t> out;
  if (!image.write(&out, &why)) return 0;
  if (!sound) fail("write accepted an unsound layout", why);
  sfxpack::PeImage again;
  if (!again.parse(out, &why)) fail("the written image does not parse", why);
  if (!again.checkLayout(&why)) fail("the written image is unsound", why);
  if (again.resources().size() != image.resources().size())
    fail("the written image lost resources",
         std::to_string(image.resources().size()) + " written, " +
             std::to_string(again.resources().size()) + " read back");
  readAll(again);
  return 0;
}
