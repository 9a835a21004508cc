// Removing secrets from the process's own environment at start.
#pragma once

#include "platform/platform.h"

namespace kelp {

// Removes every variable that looks like a secret from the process's own
// environment, so that nothing the helper starts or reports can see it.
void scrubSecretsFromOwnEnvironment(platform::Environment& environment, platform::Workspace& files);

}  // namespace kelp
