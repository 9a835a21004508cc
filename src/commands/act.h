// One action on one element of an application: found by ref or locator,
// then scrolled at, dragged from, or clicked, typed into or focused.
#pragma once

#include "commands/context.h"

namespace kelp::commands {

void act(Context& context, const Request& request);

}  // namespace kelp::commands
