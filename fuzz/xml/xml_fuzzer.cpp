// Fuzz target for the XML path. The input, after a first byte that picks
// element-text trimming, goes two ways: as the bytes of a file (preparation
// with byte-order marks and declared charsets, parser, serializer), where
// any bytes must return; and as text through ClsXml::LoadXml2 and GetXml,
// where the serialization must load again and serialize to itself.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/log_base.h"
#include "text/string_buffer.h"
#include "text/xstring.h"
#include "xml/cls_xml.h"
#include "xml/xml_round_trip.h"

namespace {

// Loads `text` into a fresh handle and serializes it; false when it holds
// no document.
bool loadAndGet(const char* text, uint32_t count, bool autoTrim,
                sfx::XString& out) {
  sfx::XString in;
  if (!in.setFromUtf8N(text, count)) return false;
  sfx::ClsXml xml;
  return xml.LoadXml2(in, autoTrim) && xml.GetXml(out);
}

[[noreturn]] void unstable(const sfx::StringBuffer& a,
                           const sfx::StringBuffer& b) {
  fprintf(stderr, "serialization not stable:\n--- first\n%s\n--- second\n%s\n",
          a.getString(), b.getString());
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const bool autoTrim = data[0] & 1;
  ++data;
  --size;
  sfx::LogNull log;
  sfx::StringBuffer fromBytes;
  sfx::xmlParseAndSerialize(data, static_cast<uint32_t>(size), autoTrim,
                            fromBytes, log);

  // A short text without "<" ending in ".xml" would name a file to read.
  const char* text = reinterpret_cast<const char*>(data);
  if (!memchr(text, '<', size)) return 0;
  sfx::XString first, second;
  if (!loadAndGet(text, static_cast<uint32_t>(size), autoTrim, first)) {
    return 0;
  }
  const sfx::StringBuffer& a = first.getUtf8SbConst();
  if (!loadAndGet(a.getString(), a.getSize(), autoTrim, second)) {
    fprintf(stderr, "serialization does not load:\n%s\n", a.getString());
    abort();
  }
  const sfx::StringBuffer& b = second.getUtf8SbConst();
  if (!a.equals(b)) unstable(a, b);
  return 0;
}
