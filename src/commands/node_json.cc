#include "commands/node_json.h"

namespace kelp {

Json nodeJson(const ax::Node& node, std::int64_t ref) {
  Json json;
  json["ref"] = ref;
  json["role"] = node.role;
  json["label"] = node.label;
  json["enabled"] = node.enabled;
  json["path"] = node.path;
  if (!node.value.empty()) json["value"] = node.value;
  if (!node.valueTail.empty()) {
    json["valueLen"] = node.valueLen;
    json["valueTail"] = node.valueTail;
  }
  if (!node.labelTail.empty()) {
    json["labelLen"] = node.labelLen;
    json["labelTail"] = node.labelTail;
  }
  if (!node.identifier.empty()) json["identifier"] = node.identifier;
  if (node.frame) {
    json["frame"] = {{"x", node.frame->x}, {"y", node.frame->y}, {"w", node.frame->w}, {"h", node.frame->h}};
  }
  return json;
}

}  // namespace kelp
