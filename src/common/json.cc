#include "common/json.h"

#include <cmath>
#include <limits>

namespace kelp {

std::optional<std::int64_t> integerValue(const Json& value) {
  if (value.is_number_integer()) {
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > std::numeric_limits<std::int64_t>::max()) {
      return std::nullopt;
    }
    return value.get<std::int64_t>();
  }
  if (value.is_number_float()) {
    double number = value.get<double>();
    if (std::isfinite(number) && std::trunc(number) == number && std::fabs(number) < 9.0e15) {
      return static_cast<std::int64_t>(number);
    }
  }
  return std::nullopt;
}

}  // namespace kelp
