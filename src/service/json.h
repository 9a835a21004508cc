#pragma once

#include <nlohmann/json.hpp>

namespace kelp {
// Keys stay in the order they were built, so replies read as {"id", "ok", ...}.
using Json = nlohmann::ordered_json;
}  // namespace kelp
