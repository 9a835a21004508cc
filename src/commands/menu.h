// Listing what an application's menus offer, or choosing an item by its
// path of titles.
#pragma once

#include "commands/context.h"

namespace kelp::commands {

void menu(Context& context, const Request& request);

}  // namespace kelp::commands
