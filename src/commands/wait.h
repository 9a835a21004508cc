// Waiting for a condition instead of sleeping: an element present, gone,
// enabled, focused or showing a text; a window present or gone; or a plain
// pause. Bounded in time, polled with one walk a round.
#pragma once

#include <cstdint>

#include "commands/context.h"

namespace kelp::commands {

inline constexpr std::int64_t DEFAULT_WAIT_MILLIS = 5000;
inline constexpr std::int64_t MAX_WAIT_MILLIS = 30000;
inline constexpr std::int64_t WAIT_POLL_MICROS = 100000;

void wait(Context& context, const Request& request);

}  // namespace kelp::commands
