// Commands that only report information or need no target.
#pragma once

#include "commands/context.h"

namespace kelp::commands {

void doctor(Context& context, const Request& request);
void prompt(Context& context, const Request& request);
void displays(Context& context, const Request& request);
void apps(Context& context, const Request& request);
void ping(Context& context, const Request& request);
// Shows the helper's own window, operates it and reports what worked.
void selftest(Context& context, const Request& request);

}  // namespace kelp::commands
