// Commands about applications and their windows: list titled windows, move
// or resize an application's window, bring an application to the front or
// start it.
#pragma once

#include "commands/context.h"

namespace kelp::commands {

void windowTitles(Context& context, const Request& request);
void window(Context& context, const Request& request);
void activate(Context& context, const Request& request);

}  // namespace kelp::commands
