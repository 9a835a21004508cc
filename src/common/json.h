// The JSON value of requests and replies, and reading numbers out of it.
#pragma once

#include <cstdint>
#include <optional>

#include <nlohmann/json.hpp>

namespace kelp {
// Keys stay in the order they were built, so replies read as {"id", "ok", ...}.
using Json = nlohmann::ordered_json;

// An integer, or a floating number without a fractional part; none for
// anything else, as a request field of the wrong type counts as absent.
std::optional<std::int64_t> integerValue(const Json& value);
}  // namespace kelp
