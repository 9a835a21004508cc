// Bringing an application to the front before input is sent to it, and
// starting one that is not running.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace kelp::input {

inline constexpr std::int64_t ACTIVATE_TIMEOUT_MS = 1500;
inline constexpr std::int64_t ACTIVATE_POLL_MS = 50;
inline constexpr std::int64_t LAUNCH_WAIT_MICROS = 8000000;
inline constexpr std::int64_t LAUNCH_SETTLE_MICROS = 900000;

// True when the application is active at the end.
bool activateFront(platform::Platform& os, const platform::RunningApp& app,
                   std::int64_t timeoutMs = ACTIVATE_TIMEOUT_MS);

// Starts the application with this bundle identifier, or with this name in
// the application folders. True when the platform reported that it opened it
// without error within the wait.
bool launchApp(platform::Platform& os, const std::string& named);

}  // namespace kelp::input
