// AT-SPI objects behind the seam's Element: starting libatspi safely, naming
// objects the way the accessibility bus does, and listing the applications
// registered on it.
#pragma once

#include <atspi/atspi.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/handles.h"
#include "platform/linux/session_bus.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

inline constexpr int ATSPI_CALL_TIMEOUT_MS = 1000;
inline constexpr int ATSPI_STARTUP_TIMEOUT_MS = 2000;
// More children than this are not listed: a broken application must not
// keep us reading for minutes.
inline constexpr int MAX_CHILDREN = 10000;

inline constexpr const char* REGISTRY_BUS_NAME = "org.a11y.atspi.Registry";
inline constexpr const char* ROOT_PATH = "/org/a11y/atspi/accessible/root";
// What AT-SPI sends where a reference to no object stands.
inline constexpr const char* NULL_PATH = "/org/a11y/atspi/null";

// One remote object as the accessibility bus names it: the unique name of
// the application's connection and the object's path there. Two references
// to the same live object are equal however they were obtained.
struct ObjectRef {
  std::string bus;
  std::string path;
  friend bool operator==(const ObjectRef&, const ObjectRef&) = default;
  bool isApplicationRoot() const { return path == ROOT_PATH; }
};

// Whether libatspi is running, starting it first if the accessibility bus
// answers. libatspi is process-wide and initialises once: a failed start
// leaves it unusable for the rest of the process, so it is only attempted on
// a bus that was just seen to answer, and never without one.
bool atspiReady(SessionBus& sessionBus);
// Whether libatspi runs, without trying to start it.
bool atspiStarted();

// How an element presents its remote object. GTK has one object stand for
// a menu item and for the submenu the item opens (role "menu", with the
// submenu's items as its own children), where AX has two elements: the item,
// and the AXMenu that is its one child and holds the items. The AXMenu is the
// same remote object presented a second time, so that reads of it need no
// object of their own and see the item's live state. The two presentations
// are different elements, each other's parent and child.
enum class Presentation { object, submenu };

// The element standing for the AT-SPI desktop.
Element desktopElement();
// An element for a remote object; empty for a null reference.
Element elementFor(const ObjectRef& ref, Presentation as = Presentation::object);
// The remote object behind an element of this backend, however the element
// presents it; none for empty or foreign handles.
std::optional<ObjectRef> refOf(const Element& element);
// How the element presents its object; `object` for foreign handles.
Presentation presentationOf(const Element& element);
bool isDesktopElement(const Element& element);
ObjectRef desktopRef();

// An application registered on the accessibility bus.
struct RegisteredApp {
  ObjectRef ref;
  std::optional<Pid> pid;
  std::string name;
};

// The registry's children in its order; empty unless started.
std::vector<RegisteredApp> registeredApplications();
// The registry's child that runs in process `pid`; none when none does.
std::optional<ObjectRef> registeredApplication(Pid pid);

// The process behind each unique name of the accessibility bus, as the bus
// daemon knows it; none for names it does not know.
std::vector<std::optional<Pid>> processesOf(const std::vector<std::string>& buses);

}  // namespace kelp::platform::linux_desktop
