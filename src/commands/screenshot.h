// Pictures of one display or all of them, as JPEG in base-64 text.
#pragma once

#include "commands/context.h"

namespace kelp::commands {

void screenshot(Context& context, const Request& request);

}  // namespace kelp::commands
