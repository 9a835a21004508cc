// The JSON form of a node that "tree", "find" and "act" send.
#pragma once

#include <cstdint>

#include "ax/node.h"
#include "common/json.h"

namespace kelp {

// How a node is shown to the agent, with its position in the walk as "ref".
// Optional keys appear only when they carry something.
Json nodeJson(const ax::Node& node, std::int64_t ref);

}  // namespace kelp
