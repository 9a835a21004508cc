// Commands of the demonstration recorder: start, change what is ignored,
// stop with the records, and the state of the recording.
#pragma once

#include "commands/context.h"

namespace kelp::commands {

void recStart(Context& context, const Request& request);
void recIgnore(Context& context, const Request& request);
void recStop(Context& context, const Request& request);
void recState(Context& context, const Request& request);

}  // namespace kelp::commands
