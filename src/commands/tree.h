// The "tree" and "find" commands.
#pragma once

#include "commands/context.h"

namespace kelp::commands {

// "tree" lists an application's nodes; "find" keeps those whose label or
// value contains "q".
void treeOrFind(Context& context, const Request& request);

}  // namespace kelp::commands
