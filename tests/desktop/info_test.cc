// The information commands against a real desktop: permissions, screens
// and the running applications.
#include <gio/gio.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>

#include "desktop/desktop_bus.h"
#include "desktop/fixture.h"

namespace kelp::test {
namespace {

using DesktopInfo = WidgetFactoryDesktop;

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool isWidgetFactory(const Json& app) {
  return app.value("bundleId", "") == "org.gtk.WidgetFactory3" ||
         lower(app.value("name", "")).find("widget") != std::string::npos;
}

TEST_F(DesktopInfo, DoctorSeesAccessibilityAndOtherWindows) {
  Json reply = askOne({{"cmd", "doctor"}, {"id", "d"}});
  ASSERT_EQ(reply.value("ok", false), true) << reply.dump();
  EXPECT_EQ(reply["id"], "d");
  const Json& result = reply["result"];
  EXPECT_EQ(result.size(), 5u) << result.dump();
  EXPECT_EQ(result["accessibility"], true) << result.dump();
  EXPECT_EQ(result["desktop"].value("session", ""), "x11") << result.dump();
  EXPECT_EQ(result["desktop"].value("capture", false), true) << result.dump();
  EXPECT_EQ(result["screen"], true) << "the widget factory's titled window is on screen: " << result.dump();
  EXPECT_EQ(result["pid"], lastHelperPid_);
  std::error_code error;
  EXPECT_EQ(std::filesystem::canonical(result.value("helperPath", ""), error),
            std::filesystem::canonical(helperPath()));

  // One-shot mode in the same desktop says the same.
  RunResult once = desktop().runHelper({"doctor"});
  ASSERT_TRUE(once.status.success()) << once.status.describe() << "\n" << once.err;
  EXPECT_EQ(once.err, "");
  ASSERT_EQ(once.lines().size(), 1u) << once.out;
  auto oneShot = parseReply(once.lines().front());
  ASSERT_TRUE(oneShot.has_value()) << once.out;
  EXPECT_EQ((*oneShot)["id"], 0);
  EXPECT_EQ((*oneShot)["result"]["accessibility"], true);
  EXPECT_EQ((*oneShot)["result"]["screen"], true);
}

// Counts the calls of `members` on the accessibility bus while it lives.
class CallWatch {
 public:
  CallWatch(const std::string& busAddress, std::vector<std::string> members) : members_(std::move(members)) {
    monitor_ = desktop_bus::connectBus(busAddress, error_);
    if (!monitor_) return;
    filter_ = g_dbus_connection_add_filter(monitor_.get(), &CallWatch::see, this, nullptr);
    std::vector<std::string> rules;
    std::vector<const char*> texts;
    for (const std::string& member : members_) rules.push_back("type='method_call',member='" + member + "'");
    for (const std::string& rule : rules) texts.push_back(rule.c_str());
    texts.push_back(nullptr);
    watching_ = desktop_bus::call(monitor_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                  "org.freedesktop.DBus.Monitoring", "BecomeMonitor",
                                  g_variant_new("(^asu)", texts.data(), 0u), nullptr, &error_) != nullptr;
  }
  ~CallWatch() {
    if (filter_) g_dbus_connection_remove_filter(monitor_.get(), filter_);
  }
  bool watching() const { return watching_; }
  const std::string& error() const { return error_; }
  int seen() const { return seen_; }

 private:
  static GDBusMessage* see(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer self) {
    auto* watch = static_cast<CallWatch*>(self);
    if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL) return message;
    const char* member = g_dbus_message_get_member(message);
    if (member && std::find(watch->members_.begin(), watch->members_.end(), member) != watch->members_.end()) {
      ++watch->seen_;
    }
    // A monitor answers none of the calls it sees.
    g_object_unref(message);
    return nullptr;
  }

  std::vector<std::string> members_;
  desktop_bus::Connection monitor_;
  std::string error_;
  guint filter_ = 0;
  bool watching_ = false;
  std::atomic<int> seen_{0};
};

// Listing the applications asks none of them for its objects, as libatspi
// does of every application it meets: the whole object cache, which costs a
// big application a tenth of a second, on every helper's first look.
TEST_F(DesktopInfo, ListingTheApplicationsAsksNoneOfThemForItsObjects) {
  CallWatch watch(desktop().accessibilityBusAddress(), {"GetItems", "GetApplicationBusAddress"});
  ASSERT_TRUE(watch.watching()) << watch.error();
  const Json reply = askOne({{"cmd", "apps"}});
  ASSERT_EQ(reply.value("ok", false), true) << reply.dump();
  ASSERT_TRUE(std::any_of(reply["result"]["apps"].begin(), reply["result"]["apps"].end(), isWidgetFactory))
      << reply.dump();
  // What libatspi asks, it asks once the bus address comes, in the background.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(watch.seen(), 0);
}

// Desktop entries are read once, and again once the installed ones change.
TEST_F(DesktopInfo, AnEntryHiddenWhileTheHelperRunsNoLongerNamesTheApplication) {
  const std::filesystem::path entries =
      std::filesystem::path(desktop().environment().get("XDG_DATA_HOME").value_or("")) / "applications";
  std::filesystem::create_directories(entries);
  auto helper = desktop().startHelper();
  const auto factoryBundle = [&]() -> std::string {
    const std::optional<Json> reply = helper->request({{"cmd", "apps"}});
    if (!reply) return "<no reply>";
    for (const Json& app : (*reply)["result"]["apps"]) {
      if (lower(app.value("name", "")).find("widget") != std::string::npos) return app.value("bundleId", "");
    }
    return "<no factory>";
  };
  const std::string installed = factoryBundle();
  ASSERT_FALSE(installed.empty() || installed.starts_with("<")) << installed;
  const std::filesystem::path hiding = entries / (installed + ".desktop");
  std::ofstream(hiding) << "[Desktop Entry]\nType=Application\nName=Hidden\nExec=true\nHidden=true\n";
  EXPECT_TRUE(eventually([&] { return factoryBundle() != installed; }, std::chrono::milliseconds(5000)));
  std::filesystem::remove(hiding);
  EXPECT_TRUE(eventually([&] { return factoryBundle() == installed; }, std::chrono::milliseconds(5000)));
}

TEST_F(DesktopInfo, DisplaysListsTheOneVirtualScreen) {
  Json reply = askOne({{"cmd", "displays"}, {"id", 1}});
  Json expected = {{"id", 1},
                   {"ok", true},
                   {"result",
                    {{"displays", Json::array({{{"index", 0},
                                                {"w", desktop().width()},
                                                {"h", desktop().height()},
                                                {"x", 0},
                                                {"y", 0},
                                                {"main", true}}})}}}};
  EXPECT_EQ(reply, expected) << reply.dump();
}

TEST_F(DesktopInfo, AppsListsTheWidgetFactoryAsFrontmost) {
  Json reply = askOne({{"cmd", "apps"}, {"id", 2}});
  ASSERT_EQ(reply.value("ok", false), true) << reply.dump();
  const Json& apps = reply["result"]["apps"];
  ASSERT_TRUE(apps.is_array()) << reply.dump();

  int fronts = 0;
  const Json* factory = nullptr;
  for (const Json& entry : apps) {
    ASSERT_EQ(entry.size(), 4u) << entry.dump();
    ASSERT_TRUE(entry["name"].is_string()) << entry.dump();
    ASSERT_TRUE(entry["bundleId"].is_string()) << entry.dump();
    ASSERT_TRUE(entry["pid"].is_number_integer()) << entry.dump();
    ASSERT_TRUE(entry["front"].is_boolean()) << entry.dump();
    if (entry["front"] == true) ++fronts;
    if (isWidgetFactory(entry)) {
      EXPECT_EQ(factory, nullptr) << "listed twice: " << apps.dump();
      factory = &entry;
    }
  }
  ASSERT_NE(factory, nullptr) << "no widget factory in " << apps.dump();
  const pid_t pid = factory->at("pid").get<pid_t>();
  EXPECT_NE(pid, 0);
  EXPECT_TRUE(isSameOrDescendant(pid, app().pid()))
      << "listed pid " << pid << ", started pid " << app().pid();
  EXPECT_EQ(factory->at("front"), true) << apps.dump();
  EXPECT_EQ(fronts, 1) << "exactly one application is active: " << apps.dump();
  // The harness's own view agrees: the factory's window is the active one.
  EXPECT_EQ(desktop().activeWindow(), app().window);
}

TEST_F(DesktopInfo, AccessibilityFollowsTheDesktopSwitchAndPromptTurnsItOn) {
  AccessibilitySwitchedOff switchedOff(desktop());

  std::vector<Json> replies =
      ask({{{"cmd", "doctor"}, {"id", 1}}, {{"cmd", "prompt"}, {"id", 2}}, {{"cmd", "doctor"}, {"id", 3}}});
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0]["result"]["accessibility"], false) << replies[0].dump();
  EXPECT_EQ(replies[0]["result"].size(), 5u)
      << "doctor keeps all its keys without permission: " << replies[0].dump();
  ASSERT_EQ(replies[1].value("ok", false), true) << replies[1].dump();
  EXPECT_TRUE(replies[1]["result"]["accessibility"].is_boolean()) << replies[1].dump();
  // On this desktop asking for trust turns the accessibility switch on.
  EXPECT_TRUE(desktop().accessibilityEnabled());
  EXPECT_EQ(replies[2]["result"]["accessibility"], true) << replies[2].dump();
}

}  // namespace
}  // namespace kelp::test
