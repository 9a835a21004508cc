// Starting libatspi, naming objects, and listing the bus's applications.
#include "platform/linux/atspi/tree.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <utility>

#include "platform/linux/atspi/calls.h"
#include "platform/linux/atspi/messages.h"
#include "platform/linux/atspi/unanswering.h"
#include "platform/linux/rules.h"

namespace kelp::platform::linux_desktop {
namespace {

enum class AtspiState { notStarted, ready, failed };

// libatspi's own state is global, so ours is too.
struct AtspiSession {
  AtspiState state = AtspiState::notStarted;
  GRef<AtspiAccessible> desktop;
};

AtspiSession& session() {
  static AtspiSession instance;
  return instance;
}

std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

bool startAtspi(const std::string& busAddress) {
  // libatspi connects without a time limit and gives up for good when it
  // cannot; a short probe of our own keeps both from happening.
  GRef<GDBusConnection> probe = connectToBus(busAddress, DBUS_CALL_TIMEOUT_MS);
  if (!probe) return false;
  g_dbus_connection_close_sync(probe.get(), nullptr, nullptr);

  atspi_set_timeout(ATSPI_CALL_TIMEOUT_MS, ATSPI_STARTUP_TIMEOUT_MS);
  // libatspi looks for the bus itself (X root window property, then the
  // session bus without a time limit). Naming the bus we just probed in its
  // environment variable makes it use that one; the variable is ours only
  // for the call.
  const std::optional<std::string> preset = environmentValue("AT_SPI_BUS_ADDRESS");
  if (!preset) ::setenv("AT_SPI_BUS_ADDRESS", busAddress.c_str(), 1);
  const int status = atspi_init();
  if (!preset) ::unsetenv("AT_SPI_BUS_ADDRESS");

  AtspiSession& atspi = session();
  if (status != 0) {
    atspi.state = AtspiState::failed;
    return false;
  }
  atspi.state = AtspiState::ready;
  atspi.desktop = GRef<AtspiAccessible>::adopt(atspi_get_desktop(0));
  return true;
}

// What an Element of this backend holds: the name of a remote object and
// how the element presents it. The desktop is the registry's root, marked
// because hit tests and process questions treat it apart from the
// applications.
class AccessibleElement final : public ElementImpl {
 public:
  AccessibleElement(ObjectRef ref, Presentation as, bool isDesktop)
      : ref_(std::move(ref)), as_(as), isDesktop_(isDesktop) {}

  const ObjectRef& ref() const { return ref_; }
  Presentation as() const { return as_; }
  bool isDesktop() const { return isDesktop_; }

  bool sameAs(const ElementImpl& other) const override {
    const auto* that = dynamic_cast<const AccessibleElement*>(&other);
    return that && that->ref_ == ref_ && that->as_ == as_;
  }

 private:
  ObjectRef ref_;
  Presentation as_;
  bool isDesktop_;
};

const AccessibleElement* implOf(const Element& element) {
  return dynamic_cast<const AccessibleElement*>(element.impl());
}

}  // namespace

bool atspiReady(SessionBus& sessionBus) {
  AtspiSession& atspi = session();
  if (atspi.state != AtspiState::notStarted) return atspi.state == AtspiState::ready;
  // A user's AT_SPI_BUS_ADDRESS wins, as it would inside libatspi.
  std::optional<std::string> address = environmentValue("AT_SPI_BUS_ADDRESS");
  if (!address) address = sessionBus.accessibilityBusAddress();
  if (!address) return false;
  return startAtspi(*address);
}

AtspiAccessible* atspiDesktop() { return session().desktop.get(); }

ObjectRef desktopRef() { return {REGISTRY_BUS_NAME, ROOT_PATH}; }

Element desktopElement() {
  return Element(std::make_shared<const AccessibleElement>(desktopRef(), Presentation::object, true));
}

Element elementFor(const ObjectRef& ref, Presentation as) {
  if (ref.bus.empty() || ref.path.empty() || ref.path == NULL_PATH) return {};
  const bool isDesktop = ref == desktopRef();
  return Element(std::make_shared<const AccessibleElement>(ref, as, isDesktop));
}

Element wrapAccessible(const GRef<AtspiAccessible>& object) {
  if (!object) return {};
  // libatspi keeps the bus name and path of every object it hands out.
  const AtspiObject* remote = ATSPI_OBJECT(object.get());
  if (!remote->app || !remote->app->bus_name || !remote->path) return {};
  return elementFor({remote->app->bus_name, remote->path});
}

std::optional<ObjectRef> refOf(const Element& element) {
  const AccessibleElement* impl = implOf(element);
  if (!impl) return std::nullopt;
  return impl->ref();
}

Presentation presentationOf(const Element& element) {
  const AccessibleElement* impl = implOf(element);
  return impl ? impl->as() : Presentation::object;
}

bool isDesktopElement(const Element& element) {
  const AccessibleElement* impl = implOf(element);
  return impl && impl->isDesktop();
}

std::optional<Pid> processOf(AtspiAccessible* object) {
  if (!object) return std::nullopt;
  GErrorSlot error;
  const guint pid = atspi_accessible_get_process_id(object, error.out());
  if (error || pid == 0 || pid > static_cast<guint>(std::numeric_limits<Pid>::max())) return std::nullopt;
  return static_cast<Pid>(pid);
}

namespace {

// Calls `visit` with each child of the desktop until it returns false.
template <typename Visit>
void forEachApplication(Visit visit) {
  AtspiAccessible* desktop = atspiDesktop();
  if (!desktop) return;
  GErrorSlot countError;
  const gint count = atspi_accessible_get_child_count(desktop, countError.out());
  if (countError || count <= 0) return;
  for (gint i = 0; i < count && i < MAX_CHILDREN; ++i) {
    GErrorSlot childError;
    auto child = GRef<AtspiAccessible>::adopt(atspi_accessible_get_child_at_index(desktop, i, childError.out()));
    if (child && !visit(std::move(child))) return;
  }
}

// The names the applications tell, all asked at once, so that a desktop of
// many applications costs one wait and a hung one no more than the timeout
// for all; the last name it told for an application that does not answer.
// Asked on the bus rather than through libatspi, which tells a timeout apart
// from an empty name to nobody.
std::vector<std::optional<std::string>> applicationNames(const std::vector<GRef<AtspiAccessible>>& applications) {
  std::vector<std::optional<std::string>> names(applications.size());
  std::vector<DBusPendingCallOwner> questions(applications.size());
  DBusConnection* connection = atspi_get_a11y_bus();
  UnansweringApplications& unanswering = unansweringApplications();
  std::vector<const char*> buses(applications.size(), nullptr);
  for (std::size_t i = 0; i < applications.size(); ++i) {
    const AtspiObject& object = applications[i].get()->parent;
    const char* bus = object.app ? object.app->bus_name : nullptr;
    if (!bus || !object.path || !connection || !dbus_validate_bus_name(bus, nullptr) ||
        !dbus_validate_path(object.path, nullptr)) {
      continue;
    }
    buses[i] = bus;
    if (unanswering.holds(bus)) {
      names[i] = unanswering.rememberedName(bus);
      continue;
    }
    DBusMessageOwner question(
        dbus_message_new_method_call(bus, object.path, "org.freedesktop.DBus.Properties", "Get"));
    if (!question) continue;
    dbus_message_set_auto_start(question.get(), FALSE);
    const char* interface = "org.a11y.atspi.Accessible";
    const char* property = "Name";
    dbus_message_append_args(question.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                             DBUS_TYPE_INVALID);
    DBusPendingCall* pending = nullptr;
    if (dbus_connection_send_with_reply(connection, question.get(), &pending, ATSPI_CALL_TIMEOUT_MS) && pending) {
      questions[i].reset(pending);
      ++busTraffic().messages;
    }
  }
  if (std::any_of(questions.begin(), questions.end(), [](const auto& question) { return question != nullptr; })) {
    ++busTraffic().waits;
  }
  for (std::size_t i = 0; i < applications.size(); ++i) {
    if (!questions[i]) continue;
    dbus_pending_call_block(questions[i].get());
    DBusMessageOwner answer(dbus_pending_call_steal_reply(questions[i].get()));
    if (!answer) continue;
    if (dbus_message_get_type(answer.get()) == DBUS_MESSAGE_TYPE_ERROR) {
      if (meansUnanswered(dbus_message_get_error_name(answer.get()))) unanswering.note(buses[i]);
      continue;
    }
    MessageReader reader(answer.get());
    std::optional<MessageReader> variant = reader.enter();
    names[i] = variant ? variant->string() : std::nullopt;
    if (names[i]) unanswering.rememberName(buses[i], *names[i]);
  }
  return names;
}

}  // namespace

std::vector<RegisteredApp> registeredApplications() {
  std::vector<GRef<AtspiAccessible>> children;
  forEachApplication([&](GRef<AtspiAccessible> child) {
    children.push_back(std::move(child));
    return true;
  });
  std::vector<std::optional<std::string>> names = applicationNames(children);
  std::vector<RegisteredApp> apps;
  for (std::size_t i = 0; i < children.size(); ++i) {
    RegisteredApp app;
    app.pid = processOf(children[i].get());
    if (names[i]) {
      app.name = std::move(*names[i]);
    } else if (app.pid) {
      std::ifstream commandLine("/proc/" + std::to_string(*app.pid) + "/cmdline", std::ios::binary);
      app.name = programName(std::string(std::istreambuf_iterator<char>(commandLine), {}));
    }
    app.accessible = std::move(children[i]);
    apps.push_back(std::move(app));
  }
  return apps;
}

GRef<AtspiAccessible> registeredApplication(Pid pid) {
  GRef<AtspiAccessible> found;
  forEachApplication([&](GRef<AtspiAccessible> child) {
    if (processOf(child.get()) != pid) return true;
    found = std::move(child);
    return false;
  });
  return found;
}

}  // namespace kelp::platform::linux_desktop
