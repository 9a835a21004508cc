// The mouse at a point of the screen, or of a picture of the last
// screenshot: moves, clicks, presses, drags and scrolls, with what lies
// under the point and the safety gate's word on it.
#pragma once

#include "commands/context.h"

namespace kelp::commands {

void pointer(Context& context, const Request& request);

}  // namespace kelp::commands
