// Bytes to serialized document, for fuzz targets and end-to-end checks.
#include "xml/xml_round_trip.h"

#include "text/data_buffer.h"
#include "text/string_buffer.h"
#include "xml/tree_node.h"
#include "xml/xml_parser.h"
#include "xml/xml_serializer.h"

namespace sfx {

bool xmlParseAndSerialize(const uint8_t* bytes, uint32_t count, bool autoTrim,
                          StringBuffer& out, LogBase& log) {
  out.clear();
  DataBuffer buf;
  if (!buf.append(bytes, count)) return false;
  if (!prepareXmlFileBytes(buf, log)) return false;
  TreeNode* root = parseXmlBytes(buf.getData(), buf.getSize(), &log, autoTrim);
  if (root == nullptr) return false;
  bool ok = serializeXmlNode(root, out, 0, 0, false);
  delete root;
  if (!ok) out.clear();
  return ok;
}

}  // namespace sfx
