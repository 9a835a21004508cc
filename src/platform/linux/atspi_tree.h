// libatspi behind the seam's Element: starting it safely, wrapping its
// objects, and listing the applications registered on the accessibility bus.
#pragma once

#include <atspi/atspi.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/handles.h"
#include "platform/linux/session_bus.h"
#include "platform/platform.h"

namespace kelp::platform::linux_x11 {

inline constexpr int ATSPI_CALL_TIMEOUT_MS = 1000;
inline constexpr int ATSPI_STARTUP_TIMEOUT_MS = 2000;
// More children than this are not listed: a broken application must not
// keep us reading for minutes.
inline constexpr int MAX_CHILDREN = 10000;

// Whether libatspi is running, starting it first if the accessibility bus
// answers. libatspi is process-wide and initialises once: a failed start
// leaves it unusable for the rest of the process, so it is only attempted on
// a bus that was just seen to answer, and never without one.
bool atspiReady(SessionBus& sessionBus);

// The AT-SPI desktop (the registry's root), borrowed; null unless started.
AtspiAccessible* atspiDesktop();

// The element standing for the AT-SPI desktop. It resolves the desktop at
// each use, so it can be made before accessibility is available.
Element desktopElement();
// An element for `object`; empty for null.
Element wrapAccessible(GRef<AtspiAccessible> object);
// The AT-SPI object behind an element of this backend, borrowed; null for
// empty or foreign handles and for the desktop before it is available.
AtspiAccessible* accessibleOf(const Element& element);
bool isDesktopElement(const Element& element);

// An application registered on the accessibility bus.
struct RegisteredApp {
  GRef<AtspiAccessible> accessible;
  std::optional<Pid> pid;
  std::string name;
};

// The desktop's children in its order; empty unless started.
std::vector<RegisteredApp> registeredApplications();
// The desktop's child that runs in process `pid`; null when none does.
GRef<AtspiAccessible> registeredApplication(Pid pid);

// The process behind an AT-SPI object.
std::optional<Pid> processOf(AtspiAccessible* object);

}  // namespace kelp::platform::linux_x11
