// Input through Mutter's remote desktop.
#include "platform/linux/gnome/remote_input.h"

#include <linux/input-event-codes.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "platform/linux/gnome/keymap_layout.h"
#include "platform/linux/gnome/shell_calls.h"
#include "platform/linux/session_bus.h"
#include "platform/linux/wayland/layout.h"
#include "platform/linux/wayland/seat_keymap.h"

namespace kelp::platform::linux_desktop::gnome {
namespace {

constexpr const char* MUTTER_REMOTE_DESKTOP = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* REMOTE_DESKTOP_PATH = "/org/gnome/Mutter/RemoteDesktop";
constexpr const char* SESSION_INTERFACE = "org.gnome.Mutter.RemoteDesktop.Session";

// Mutter drops the first key or two of a session that just started; a
// Shift press and release goes first, and a short while for Mutter to set
// up the session's devices.
constexpr std::chrono::milliseconds NEW_SESSION_SETTLE{100};
// Farther than any layout reaches, in pixels.
constexpr double FAR_AWAY = 1 << 20;
// Mutter's clipboard manager asks for a new selection within this long.
constexpr int MANAGER_READ_TIMEOUT_MS = 500;
// Other readers of every new selection (a clipboard history) read it soon
// after; reads count as done once none came for this long, and at most
// after READERS_SETTLE_MAX_MS in all.
constexpr int READERS_QUIET_MS = 150;
constexpr int READERS_SETTLE_MAX_MS = 1000;
// An application asks for pasted text as soon as it handles the shortcut.
constexpr int PASTE_TIMEOUT_MS = 2000;
// After it got the text, it reads the pipe and inserts the text in turns of
// its main loop, while later keys may already be waiting: they wait this
// long more, so that they land after the text.
constexpr std::chrono::milliseconds PASTE_SETTLE{100};

// The types the offered text goes by: Wayland clients ask for the first,
// X clients through Xwayland for UTF8_STRING. (STRING and TEXT would promise
// Latin-1 and compound text, which the server does not write.)
constexpr const char* TEXT_TYPES[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING"};

// Frees parameters meant for a call that cannot be made (floating, as
// g_variant_new gives them); false, as the call would have been.
bool dropParameters(GVariant* parameters) {
  if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
  return false;
}

}  // namespace

RemoteDesktopInput::RemoteDesktopInput(wayland::WaylandConnection& wayland, RunLoop& runLoop)
    : wayland_(wayland), poster_(*this, runLoop) {}

RemoteDesktopInput::~RemoteDesktopInput() {
  if (!sessionPath_.empty() && bus_ && !g_dbus_connection_is_closed(bus_.get())) poster_.finish();
  dropSession();
}

void RemoteDesktopInput::dropSession() {
  paste_.reset();
  if (bus_ && !sessionPath_.empty() && !g_dbus_connection_is_closed(bus_.get())) {
    GVariantOwner stopped(g_dbus_connection_call_sync(bus_.get(), MUTTER_REMOTE_DESKTOP, sessionPath_.c_str(),
                                                      SESSION_INTERFACE, "Stop", nullptr, nullptr,
                                                      G_DBUS_CALL_FLAGS_NO_AUTO_START, DBUS_CALL_TIMEOUT_MS,
                                                      nullptr, nullptr));
  }
  // The session ends with the connection that made it, stopped or not.
  bus_ = {};
  sessionPath_.clear();
  clipboardEnabled_ = false;
  pointerAt_.reset();
  layout_.reset();
}

std::optional<std::uint64_t> RemoteDesktopInput::session() {
  if (bus_ && !sessionPath_.empty() && !g_dbus_connection_is_closed(bus_.get())) return session_;
  dropSession();
  bus_ = connectToSessionBus(DBUS_CALL_TIMEOUT_MS);
  if (!bus_) return std::nullopt;
  GVariantOwner created(g_dbus_connection_call_sync(bus_.get(), MUTTER_REMOTE_DESKTOP, REMOTE_DESKTOP_PATH,
                                                    MUTTER_REMOTE_DESKTOP, "CreateSession", nullptr,
                                                    G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                    DBUS_CALL_TIMEOUT_MS, nullptr, nullptr));
  if (!created) {
    bus_ = {};
    return std::nullopt;
  }
  const gchar* path = nullptr;
  g_variant_get(created.get(), "(&o)", &path);
  sessionPath_ = path;
  if (!call("Start", nullptr)) {
    dropSession();
    return std::nullopt;
  }
  paste_ = std::make_unique<PasteServer>(bus_, sessionPath_);
  send("NotifyKeyboardKeycode", g_variant_new("(ub)", KEY_LEFTSHIFT, TRUE));
  send("NotifyKeyboardKeycode", g_variant_new("(ub)", KEY_LEFTSHIFT, FALSE));
  if (!barrier()) {
    dropSession();
    return std::nullopt;
  }
  std::this_thread::sleep_for(NEW_SESSION_SETTLE);
  return ++session_;
}

bool RemoteDesktopInput::call(const char* method, GVariant* parameters) {
  if (!bus_) return dropParameters(parameters);
  GVariantOwner reply(g_dbus_connection_call_sync(bus_.get(), MUTTER_REMOTE_DESKTOP, sessionPath_.c_str(),
                                                  SESSION_INTERFACE, method, parameters, nullptr,
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, DBUS_CALL_TIMEOUT_MS, nullptr,
                                                  nullptr));
  return reply != nullptr;
}

void RemoteDesktopInput::send(const char* method, GVariant* parameters) {
  // After the session dropped, what was still to be sent in the same event
  // is lost, and said to be.
  if (!bus_) {
    lostEvent_ = true;
    dropParameters(parameters);
    return;
  }
  // Without a callback the call goes out marked as needing no reply; calls
  // on one connection reach Mutter in the order they were made.
  g_dbus_connection_call(bus_.get(), MUTTER_REMOTE_DESKTOP, sessionPath_.c_str(), SESSION_INTERFACE, method,
                         parameters, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
}

bool RemoteDesktopInput::barrier() {
  if (!bus_) return false;
  // Mutter answers a property of the session on the thread that handles
  // its methods, so the answer comes after every method sent before.
  GVariantOwner reply(g_dbus_connection_call_sync(
      bus_.get(), MUTTER_REMOTE_DESKTOP, sessionPath_.c_str(), "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", SESSION_INTERFACE, "SessionId"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
      DBUS_CALL_TIMEOUT_MS, nullptr, nullptr));
  return reply != nullptr;
}

bool RemoteDesktopInput::flush() {
  const bool lost = std::exchange(lostEvent_, false);
  if (!barrier()) {
    // The session is gone (Mutter closed it, or the bus went): the next
    // event makes a new one.
    dropSession();
    return false;
  }
  return !lost;
}

KeyboardLayout RemoteDesktopInput::keyboardLayout() {
  // The seat's keymap is Mutter's own word; the settings say what Mutter
  // compiles from them. With several input sources it holds a group for
  // each, and keys type in the one the shell locked for the active source.
  if (!layout_) layout_ = wayland::seatKeyboardLayout(wayland_, sessionKeymapGroup());
  if (!layout_) layout_ = sessionKeyboardLayout();
  return layout_ ? *layout_ : KeyboardLayout{};
}

void RemoteDesktopInput::key(int keycode, bool down) {
  // XKB keycodes are evdev's plus 8.
  send("NotifyKeyboardKeycode", g_variant_new("(ub)", static_cast<guint32>(keycode - 8), down ? TRUE : FALSE));
}

// ---- the clipboard -------------------------------------------------------------

bool RemoteDesktopInput::offerForPaste(const std::string& text) {
  if (!paste_) return false;
  if (!clipboardEnabled_) {
    clipboardEnabled_ = call("EnableClipboard", g_variant_new("(@a{sv})", g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)));
    if (!clipboardEnabled_) return false;
  }
  const std::uint64_t servedBefore = paste_->offer(text);
  GVariantBuilder types;
  g_variant_builder_init(&types, G_VARIANT_TYPE("as"));
  for (const char* type : TEXT_TYPES) g_variant_builder_add(&types, "s", type);
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "mime-types", g_variant_builder_end(&types));
  if (!call("SetSelection", g_variant_new("(a{sv})", &options))) return false;
  // Mutter's clipboard manager reads every new selection at once, to keep
  // it when its owner goes, and so may others; those reads are not the
  // paste, which is counted only from the first read after they stopped.
  if (paste_->waitServed(servedBefore, MANAGER_READ_TIMEOUT_MS)) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(READERS_SETTLE_MAX_MS);
    std::uint64_t served = paste_->offer(text);
    while (std::chrono::steady_clock::now() < deadline && paste_->waitServed(served, READERS_QUIET_MS)) {
      served = paste_->offer(text);
    }
  }
  servedBeforePaste_ = paste_->offer(text);
  return true;
}

bool RemoteDesktopInput::awaitPaste() {
  if (!paste_ || !flush()) return false;
  if (!paste_->waitServed(servedBeforePaste_, PASTE_TIMEOUT_MS)) return false;
  std::this_thread::sleep_for(PASTE_SETTLE);
  return true;
}

// ---- pointer -------------------------------------------------------------------

std::optional<std::vector<MonitorRect>> RemoteDesktopInput::monitors() { return gnomeMonitors(bus_.get()); }

std::optional<Point> RemoteDesktopInput::devicePoint(Point at) {
  const std::optional<std::vector<MonitorRect>> all = monitors();
  if (!all || all->empty()) return std::nullopt;
  return wayland::layoutPoint(at, *all);
}

std::optional<Point> RemoteDesktopInput::pointerLocation() {
  std::optional<Point> at = bus_ ? shellPointer(bus_.get()) : std::nullopt;
  if (!at) at = pointerAt_;
  if (!at) return std::nullopt;
  const std::optional<std::vector<MonitorRect>> all = bus_ ? monitors() : std::nullopt;
  const Point origin = all ? accessibilityOrigin(*all) : Point{};
  return Point{at->x - origin.x, at->y - origin.y};
}

void RemoteDesktopInput::moveTo(Point layout) {
  // Where the pointer is once the moves sent so far are done: the shell
  // extension knows, and a person may have moved it since.
  std::optional<Point> from = barrier() ? shellPointer(bus_.get()) : std::nullopt;
  const bool viaCorner = !from;
  const std::vector<MutterMonitor> mutter = mutterMonitors(bus_.get()).value_or(std::vector<MutterMonitor>{});
  if (!from) {
    // Without the extension, on a single monitor: a move far down and
    // right stops at its last pixel, and the pointer is known from there.
    // (Not up and left: GNOME Shell's hot corner there opens the Overview,
    // and its pressure barrier holds the pointer.)
    const std::optional<std::vector<MonitorRect>> all = monitors();
    if (!all || all->size() != 1) {
      lostEvent_ = true;
      return;
    }
    send("NotifyPointerMotionRelative", g_variant_new("(dd)", FAR_AWAY, FAR_AWAY));
    const MonitorRect& only = all->front();
    from = Point{static_cast<double>(only.x + only.width - 1), static_cast<double>(only.y + only.height - 1)};
  }
  // Mutter scales relative motion by the monitor it starts on; the
  // display configuration tells by how much.
  const auto moveBy = [this, &mutter](Point at, Point to) {
    if (at.x == to.x && at.y == to.y) return;
    const double scale = motionScaleAt(mutter, at);
    send("NotifyPointerMotionRelative", g_variant_new("(dd)", (to.x - at.x) / scale, (to.y - at.y) / scale));
  };
  moveBy(*from, layout);
  if (viaCorner) {
    // GTK 3 loses a press that comes with the motion that brought the
    // pointer into its window; a motion inside the window first mends it.
    moveBy(layout, Point{layout.x - 1, layout.y});
    moveBy(Point{layout.x - 1, layout.y}, layout);
    pointerAt_ = layout;
    return;
  }
  // The extension tells where the move ended; one that crossed onto a
  // monitor of another scale, or that Mutter scaled otherwise, is mended
  // once from there, and reported lost when still off.
  const auto reached = [&layout](const std::optional<Point>& at) {
    return at && std::abs(at->x - layout.x) <= 1 && std::abs(at->y - layout.y) <= 1;
  };
  std::optional<Point> at = barrier() ? shellPointer(bus_.get()) : std::nullopt;
  if (at && !reached(at)) {
    moveBy(*at, layout);
    at = barrier() ? shellPointer(bus_.get()) : std::nullopt;
  }
  if (!reached(at)) lostEvent_ = true;
  pointerAt_ = at;
}

void RemoteDesktopInput::button(Button which, bool down) {
  const gint32 code = which == Button::left ? BTN_LEFT : which == Button::middle ? BTN_MIDDLE : BTN_RIGHT;
  send("NotifyPointerButton", g_variant_new("(ib)", code, down ? TRUE : FALSE));
}

void RemoteDesktopInput::wheel(const WheelGesture::Clicks& clicks) {
  // Mutter's positive steps scroll down and right; the seam's up and left.
  constexpr guint32 VERTICAL = 0;
  constexpr guint32 HORIZONTAL = 1;
  if (clicks.vertical != 0) {
    send("NotifyPointerAxisDiscrete", g_variant_new("(ui)", VERTICAL, static_cast<gint32>(-clicks.vertical)));
  }
  if (clicks.horizontal != 0) {
    send("NotifyPointerAxisDiscrete", g_variant_new("(ui)", HORIZONTAL, static_cast<gint32>(-clicks.horizontal)));
  }
}

}  // namespace kelp::platform::linux_desktop::gnome
