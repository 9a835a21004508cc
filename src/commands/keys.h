// Keyboard commands: one shortcut, or a text typed at the keyboard focus.
#pragma once

#include "commands/context.h"

namespace kelp::commands {

void key(Context& context, const Request& request);
void typeText(Context& context, const Request& request);

}  // namespace kelp::commands
