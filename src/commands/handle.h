// The dispatcher: one request in, exactly one reply out.
#pragma once

#include "commands/context.h"
#include "common/json.h"

namespace kelp {

// Runs one request and writes exactly one reply for it. Main thread only.
void handle(Context& context, const Json& request);

}  // namespace kelp
