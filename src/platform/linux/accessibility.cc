#include "platform/linux/atspi_tree.h"
#include "platform/linux/ax_mapping.h"
#include "platform/linux/desktop.h"

namespace kelp::platform::linux_x11 {
namespace {

// The AT-SPI object behind `element`. The desktop element may exist before
// libatspi runs, so it is the one handle that may need to start it.
AtspiAccessible* resolve(const Element& element, SessionBus& sessionBus) {
  if (!element) return nullptr;
  if (isDesktopElement(element) && !atspiReady(sessionBus)) return nullptr;
  return accessibleOf(element);
}

}  // namespace

bool LinuxAccessibility::isTrusted() {
  SessionBus& bus = connections_.sessionBus;
  const std::optional<bool> enabled = bus.accessibilityEnabled();
  if (!enabled || !*enabled) return false;
  return bus.accessibilityBusAddress().has_value();
}

bool LinuxAccessibility::promptForTrust() {
  // Nobody is asked on Linux: turning the accessibility bus on is the grant.
  connections_.sessionBus.enableAccessibility();
  return isTrusted();
}

Element LinuxAccessibility::systemWide() { return desktopElement(); }

Element LinuxAccessibility::applicationElement(Pid pid) {
  if (pid <= 0 || !atspiReady(connections_.sessionBus)) return {};
  return wrapAccessible(registeredApplication(pid));
}

Value LinuxAccessibility::copyAttribute(const Element& element, const std::string& name) {
  return readAxAttribute(resolve(element, connections_.sessionBus), name);
}

bool LinuxAccessibility::setAttribute(const Element&, const std::string&, const Value&) { return false; }

bool LinuxAccessibility::performAction(const Element&, const std::string&) { return false; }

std::optional<Element> LinuxAccessibility::elementAtPosition(const Element&, float, float) { return std::nullopt; }

std::optional<Pid> LinuxAccessibility::pidOf(const Element& element) {
  // The desktop belongs to no application.
  if (isDesktopElement(element)) return std::nullopt;
  return processOf(resolve(element, connections_.sessionBus));
}

}  // namespace kelp::platform::linux_x11
