// Starting libatspi, naming objects, and listing the bus's applications.
#include "platform/linux/atspi/tree.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
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

// libatspi asks the bus for every application's object events and cache
// changes, and on the first from an application fetches its whole object
// cache for itself (Cache.GetItems); nothing here reads either, so the bus
// is told to stop sending them, before a busy desktop keeps this process
// reading megabytes of other applications' changes.
void ignoreOthersSignals() {
  DBusConnection* connection = atspi_get_a11y_bus();
  if (!connection) return;
  const std::string rules[] = {
      std::string("type='signal',interface='") + CACHE_INTERFACE + "',member='AddAccessible'",
      std::string("type='signal',interface='") + CACHE_INTERFACE + "',member='RemoveAccessible'",
      "type='signal',interface='org.a11y.atspi.Event.Object',member='ChildrenChanged'",
      "type='signal',interface='org.a11y.atspi.Event.Object',member='PropertyChange'",
      "type='signal',interface='org.a11y.atspi.Event.Object',member='StateChanged'",
  };
  // Without waiting for the bus: a rule it does not hold is no harm.
  for (const std::string& rule : rules) dbus_bus_remove_match(connection, rule.c_str(), nullptr);
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
  ignoreOthersSignals();
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

bool atspiStarted() { return session().state == AtspiState::ready; }

ObjectRef desktopRef() { return {REGISTRY_BUS_NAME, ROOT_PATH}; }

Element desktopElement() {
  return Element(std::make_shared<const AccessibleElement>(desktopRef(), Presentation::object, true));
}

Element elementFor(const ObjectRef& ref, Presentation as) {
  if (ref.bus.empty() || ref.path.empty() || ref.path == NULL_PATH) return {};
  const bool isDesktop = ref == desktopRef();
  return Element(std::make_shared<const AccessibleElement>(ref, as, isDesktop));
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

namespace {

// Sends `questions` (null ones skipped) on the accessibility bus at once and
// waits for the answers, each bounded by the AT-SPI timeout, so that a
// desktop of many applications costs one wait and a hung one no more than
// the timeout for all. An answer is null where none came.
std::vector<DBusMessageOwner> askAtOnce(std::vector<DBusMessageOwner> questions) {
  std::vector<DBusMessageOwner> answers(questions.size());
  std::vector<DBusPendingCallOwner> pending(questions.size());
  DBusConnection* connection = atspi_get_a11y_bus();
  if (!connection) return answers;
  bool sent = false;
  for (std::size_t i = 0; i < questions.size(); ++i) {
    if (!questions[i]) continue;
    dbus_message_set_auto_start(questions[i].get(), FALSE);
    DBusPendingCall* call = nullptr;
    if (dbus_connection_send_with_reply(connection, questions[i].get(), &call, ATSPI_CALL_TIMEOUT_MS) && call) {
      pending[i].reset(call);
      ++busTraffic().messages;
      sent = true;
    }
  }
  if (sent) ++busTraffic().waits;
  for (std::size_t i = 0; i < pending.size(); ++i) {
    if (!pending[i]) continue;
    dbus_pending_call_block(pending[i].get());
    answers[i].reset(dbus_pending_call_steal_reply(pending[i].get()));
  }
  return answers;
}

// The registry's children, the applications, in its order. Asked on the bus
// rather than through libatspi, which on meeting an application fetches its
// whole object cache (Cache.GetItems) for itself: every application of the
// desktop, on the first look of every process, costing a big one a tenth of
// a second to answer and this process megabytes to read.
std::vector<ObjectRef> registryChildren() {
  std::vector<DBusMessageOwner> question;
  question.emplace_back(dbus_message_new_method_call(REGISTRY_BUS_NAME, ROOT_PATH, ACCESSIBLE_INTERFACE, "GetChildren"));
  const std::vector<DBusMessageOwner> answer = askAtOnce(std::move(question));
  MessageReader reader(answer.front().get());
  std::vector<ObjectRef> applications = reader.objectRefs().value_or(std::vector<ObjectRef>{});
  std::erase_if(applications, [](const ObjectRef& application) {
    return application.path == NULL_PATH || !dbus_validate_bus_name(application.bus.c_str(), nullptr) ||
           !dbus_validate_path(application.path.c_str(), nullptr);
  });
  if (applications.size() > static_cast<std::size_t>(MAX_CHILDREN)) applications.resize(MAX_CHILDREN);
  return applications;
}

// The names the applications tell; the last name it told for an application
// that does not answer. Asked on the bus rather than through libatspi, which
// tells a timeout apart from an empty name to nobody.
std::vector<std::optional<std::string>> applicationNames(const std::vector<ObjectRef>& applications) {
  std::vector<std::optional<std::string>> names(applications.size());
  std::vector<DBusMessageOwner> questions(applications.size());
  UnansweringApplications& unanswering = unansweringApplications();
  for (std::size_t i = 0; i < applications.size(); ++i) {
    const ObjectRef& application = applications[i];
    if (unanswering.holds(application.bus)) {
      names[i] = unanswering.rememberedName(application.bus);
      continue;
    }
    questions[i].reset(dbus_message_new_method_call(application.bus.c_str(), application.path.c_str(),
                                                    PROPERTIES_INTERFACE, "Get"));
    if (!questions[i]) continue;
    appendString(questions[i].get(), ACCESSIBLE_INTERFACE);
    appendString(questions[i].get(), "Name");
  }
  const std::vector<DBusMessageOwner> answers = askAtOnce(std::move(questions));
  for (std::size_t i = 0; i < applications.size(); ++i) {
    const DBusMessageOwner& answer = answers[i];
    if (!answer) continue;
    if (dbus_message_get_type(answer.get()) == DBUS_MESSAGE_TYPE_ERROR) {
      if (meansUnanswered(dbus_message_get_error_name(answer.get()))) unanswering.note(applications[i].bus);
      continue;
    }
    MessageReader reader(answer.get());
    std::optional<MessageReader> variant = reader.enter();
    names[i] = variant ? variant->string() : std::nullopt;
    if (names[i]) unanswering.rememberName(applications[i].bus, *names[i]);
  }
  return names;
}

// The processes behind unique names, asked of the bus daemon once each: a
// name is never given to another connection while the bus runs.
std::map<std::string, Pid, std::less<>>& knownProcesses() {
  static std::map<std::string, Pid, std::less<>> known;
  return known;
}

}  // namespace

std::vector<std::optional<Pid>> processesOf(const std::vector<std::string>& buses) {
  std::map<std::string, Pid, std::less<>>& known = knownProcesses();
  std::vector<DBusMessageOwner> questions(buses.size());
  for (std::size_t i = 0; i < buses.size(); ++i) {
    if (known.contains(buses[i]) || !dbus_validate_bus_name(buses[i].c_str(), nullptr)) continue;
    questions[i].reset(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS,
                                                    "GetConnectionUnixProcessID"));
    if (questions[i]) appendString(questions[i].get(), buses[i].c_str());
  }
  const std::vector<DBusMessageOwner> answers = askAtOnce(std::move(questions));
  std::vector<std::optional<Pid>> processes(buses.size());
  for (std::size_t i = 0; i < buses.size(); ++i) {
    if (answers[i]) {
      MessageReader reader(answers[i].get());
      const std::optional<std::uint32_t> pid = reader.uint32();
      if (pid && *pid != 0 && *pid <= static_cast<std::uint32_t>(std::numeric_limits<Pid>::max())) {
        known.emplace(buses[i], static_cast<Pid>(*pid));
      }
    }
    auto found = known.find(buses[i]);
    if (found != known.end()) processes[i] = found->second;
  }
  return processes;
}

std::vector<RegisteredApp> registeredApplications() {
  std::vector<RegisteredApp> apps;
  if (session().state != AtspiState::ready) return apps;
  const std::vector<ObjectRef> children = registryChildren();
  std::vector<std::string> buses;
  for (const ObjectRef& child : children) buses.push_back(child.bus);
  std::vector<std::optional<std::string>> names = applicationNames(children);
  const std::vector<std::optional<Pid>> processes = processesOf(buses);
  for (std::size_t i = 0; i < children.size(); ++i) {
    RegisteredApp app;
    app.ref = children[i];
    app.pid = processes[i];
    if (names[i]) {
      app.name = std::move(*names[i]);
    } else if (app.pid) {
      std::ifstream commandLine("/proc/" + std::to_string(*app.pid) + "/cmdline", std::ios::binary);
      app.name = programName(std::string(std::istreambuf_iterator<char>(commandLine), {}));
    }
    apps.push_back(std::move(app));
  }
  return apps;
}

std::optional<ObjectRef> registeredApplication(Pid pid) {
  if (session().state != AtspiState::ready) return std::nullopt;
  const std::vector<ObjectRef> children = registryChildren();
  std::vector<std::string> buses;
  for (const ObjectRef& child : children) buses.push_back(child.bus);
  const std::vector<std::optional<Pid>> processes = processesOf(buses);
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (processes[i] == pid) return children[i];
  }
  return std::nullopt;
}

}  // namespace kelp::platform::linux_desktop
