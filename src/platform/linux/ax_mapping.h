// The one place where AX vocabulary meets AT-SPI: which AT-SPI source
// answers each AX attribute, and which AT-SPI role is which AX role.
#pragma once

#include <atspi/atspi.h>

#include <optional>
#include <string_view>

#include "platform/value.h"

namespace kelp::platform::linux_x11 {

// The AX role for an AT-SPI role; none for roles not mapped yet.
std::optional<std::string_view> axRoleFor(AtspiRole role);

// Reads attribute `name` of `object`; none for attributes without an AT-SPI
// source and for failed reads.
Value readAxAttribute(AtspiAccessible* object, std::string_view name);

}  // namespace kelp::platform::linux_x11
