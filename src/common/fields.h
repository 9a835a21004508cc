// Reading the fields of a request, or of an object inside one, by name. A
// field that is absent or of another JSON type counts as absent and takes
// its default; it is never an error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/json.h"

namespace kelp {

std::optional<std::string> stringField(const Json& object, const char* name);
std::string stringField(const Json& object, const char* name, std::string fallback);
// A list holding anything but strings counts as absent as a whole.
std::vector<std::string> stringListField(const Json& object, const char* name);
// An integer, or a floating number without a fractional part (integerValue).
std::optional<std::int64_t> integerField(const Json& object, const char* name);
double numberField(const Json& object, const char* name, double fallback);
std::optional<double> optionalNumberField(const Json& object, const char* name);
std::optional<bool> booleanField(const Json& object, const char* name);
// The field when it is an object; null otherwise.
const Json* objectField(const Json& object, const char* name);

}  // namespace kelp
