// The services of the simulated desktop, each made in the file of its
// subject: accessibility and scenes, input and the event tap, clock and run
// loop, the self-test's window. SimDesktop holds them.
#pragma once

#include <memory>

#include "platform/sim/sim_desktop.h"

namespace kelp::platform::sim {

std::unique_ptr<Accessibility> makeSimAccessibility(SimDesktop& sim);
std::unique_ptr<EventPoster> makeSimEventPoster(SimDesktop& sim);
std::unique_ptr<EventTap> makeSimEventTap(SimDesktop& sim);
std::unique_ptr<Clock> makeSimClock(SimDesktop& sim);
std::unique_ptr<RunLoop> makeSimRunLoop(SimDesktop& sim);
std::unique_ptr<TestWindow> makeSimTestWindow(SimDesktop& sim);

}  // namespace kelp::platform::sim
