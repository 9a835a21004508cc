// The desktop's clipboard as text: read it, or put text on it for as long
// as this helper runs. A card number never goes on it.
#pragma once

#include "commands/context.h"

namespace kelp::commands {

void clipboard(Context& context, const Request& request);

}  // namespace kelp::commands
