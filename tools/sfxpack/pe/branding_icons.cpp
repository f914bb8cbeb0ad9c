// --icon: the .ico file read, its images written as the stub's first icon
// group, and the group read back.
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

constexpr size_t kMaxIconImages = 64;

struct IcoImage {
  uint8_t width, height, colors;
  uint16_t planes, bitCount;
  std::vector<uint8_t> data;
};

bool parseIco(const std::vector<uint8_t>& f, std::vector<IcoImage>* out,
              std::string* error) {
  out->clear();
  if (f.size() < 6) {
    *error = "truncated icon file: no header";
    return false;
  }
  if (loadLe16(&f[0]) != 0 || loadLe16(&f[2]) != 1) {
    *error = "not an icon file (.ico)";
    return false;
  }
  size_t count = loadLe16(&f[4]);
  if (count == 0) {
    *error = "the icon file holds no images";
    return false;
  }
  if (count > kMaxIconImages) {
    *error = "the icon file claims " + std::to_string(count) +
             " images; at most " + std::to_string(kMaxIconImages) +
             " are taken";
    return false;
  }
  if ((f.size() - 6) / 16 < count) {
    *error = "the icon file claims " + std::to_string(count) +
             " images but is too short for their directory (truncated?)";
    return false;
  }
  for (size_t k = 0; k < count; ++k) {
    const uint8_t* e = &f[6 + 16 * k];
    uint32_t size = loadLe32(e + 8), offset = loadLe32(e + 12);
    std::string which = "icon image " + std::to_string(k + 1);
    if (offset < 6 + 16 * count) {
      *error = which +
               " starts inside the icon directory (the image count "
               "does not match the file)";
      return false;
    }
    if (offset > f.size() || f.size() - offset < size) {
      *error = which + " lies beyond the end of the icon file (truncated?)";
      return false;
    }
    static const uint8_t kPng[8] = {0x89, 'P',  'N',  'G',
                                    '\r', '\n', 0x1a, '\n'};
    bool png = size >= 8 && memcmp(&f[offset], kPng, 8) == 0;
    bool dib = size >= 40 && loadLe32(&f[offset]) == 40;
    if (!png && !dib) {
      *error = which + " is neither a bitmap nor a PNG image";
      return false;
    }
    IcoImage img;
    img.width = e[0];
    img.height = e[1];
    img.colors = e[2];
    img.planes = loadLe16(e + 4) ? loadLe16(e + 4) : 1;
    img.bitCount = loadLe16(e + 6);
    if (img.bitCount == 0) img.bitCount = png ? 32 : loadLe16(&f[offset + 14]);
    img.data.assign(f.begin() + offset, f.begin() + offset + size);
    out->push_back(std::move(img));
  }
  return true;
}

}  // namespace

bool setIcon(PeImage* image, const std::vector<uint8_t>& ico,
             std::string* error) {
  std::vector<IcoImage> images;
  if (!parseIco(ico, &images, error)) return false;
  std::vector<Resource>& res = image->resources();

  // The group the shell shows is the first in directory order.
  const Resource* main = nullptr;
  for (const Resource& r : res) {
    if (r.type == ResId::number(kRtGroupIcon) &&
        (!main || resIdLess(r.name, main->name))) {
      main = &r;
    }
  }
  ResId groupName = main ? main->name : ResId::number(1);
  uint16_t lang = main ? main->lang : stubLanguage(*image);

  // The icons of the old group go, unless another group also lists them.
  std::set<uint16_t> oldIcons, keptIcons;
  for (const Resource& r : res) {
    if (r.type != ResId::number(kRtGroupIcon)) continue;
    bool isMain = r.name == groupName;
    for (size_t k = 0; r.data.size() >= 6 && k < loadLe16(&r.data[4]) &&
                       6 + 14 * (k + 1) <= r.data.size();
         ++k) {
      uint16_t id = loadLe16(&r.data[6 + 14 * k + 12]);
      (isMain ? oldIcons : keptIcons).insert(id);
    }
  }
  std::vector<Resource> kept;
  std::set<uint16_t> usedIds;
  for (Resource& r : res) {
    bool isIcon = r.type == ResId::number(kRtIcon) && r.name.isNumber();
    if (isIcon && oldIcons.count(r.name.id) && !keptIcons.count(r.name.id))
      continue;
    if (r.type == ResId::number(kRtGroupIcon) && r.name == groupName) continue;
    if (isIcon) usedIds.insert(r.name.id);
    kept.push_back(std::move(r));
  }

  std::vector<uint8_t> group;
  put16(group, 0);
  put16(group, 1);
  put16(group, uint32_t(images.size()));
  uint16_t nextId = 1;
  for (IcoImage& img : images) {
    while (usedIds.count(nextId)) ++nextId;
    uint16_t id = nextId++;
    group.push_back(img.width);
    group.push_back(img.height);
    group.push_back(img.colors);
    group.push_back(0);
    put16(group, img.planes);
    put16(group, img.bitCount);
    put32(group, uint32_t(img.data.size()));
    put16(group, id);
    Resource icon;
    icon.type = ResId::number(kRtIcon);
    icon.name = ResId::number(id);
    icon.lang = lang;
    icon.data = std::move(img.data);
    kept.push_back(std::move(icon));
  }
  Resource g;
  g.type = ResId::number(kRtGroupIcon);
  g.name = groupName;
  g.lang = lang;
  g.data = std::move(group);
  kept.push_back(std::move(g));
  res = std::move(kept);
  return true;
}

bool readIconGroup(const PeImage& image, const Resource& group,
                   std::vector<IconImage>* out, std::string* error) {
  out->clear();
  const std::vector<uint8_t>& d = group.data;
  if (d.size() < 6 || loadLe16(&d[2]) != 1 ||
      (d.size() - 6) / 14 < loadLe16(&d[4])) {
    *error = "icon group " + group.name.text() + " is damaged";
    return false;
  }
  for (size_t k = 0; k < loadLe16(&d[4]); ++k) {
    const uint8_t* e = &d[6 + 14 * k];
    IconImage img;
    img.width = e[0] ? e[0] : 256;
    img.height = e[1] ? e[1] : 256;
    img.bitCount = loadLe16(e + 6);
    img.id = loadLe16(e + 12);
    const Resource* icon =
        image.find(ResId::number(kRtIcon), ResId::number(img.id));
    if (!icon) {
      *error = "icon group " + group.name.text() + " lists icon " +
               std::to_string(img.id) + ", which is missing";
      return false;
    }
    img.bytes = icon->data.size();
    img.png = img.bytes >= 4 && icon->data[0] == 0x89 && icon->data[1] == 'P';
    out->push_back(img);
  }
  return true;
}

}  // namespace sfxpack
