// One call from raw bytes to a result through the whole XML path: file
// preparation, parsing, serialization and destruction. The entry point for
// fuzz targets and for checks that run documents end to end.
#ifndef SFX_XML_XML_ROUND_TRIP_H_
#define SFX_XML_XML_ROUND_TRIP_H_

#include <cstdint>

namespace sfx {

class LogBase;
class StringBuffer;

// Takes `count` bytes as the content of an XML file: prepares them
// (byte-order marks, a declared charset), parses them (trimming element text
// when `autoTrim` is set) and replaces `out` by the serialization of the
// resulting document, declaration included when the document has one. The
// tree is destroyed before the call returns. Returns false, with `out`
// empty, when the bytes hold no document (or cannot be converted, or memory
// runs out). Any input returns; the work is linear in `count`.
bool xmlParseAndSerialize(const uint8_t* bytes, uint32_t count, bool autoTrim,
                          StringBuffer& out, LogBase& log);

}  // namespace sfx

#endif  // SFX_XML_XML_ROUND_TRIP_H_
