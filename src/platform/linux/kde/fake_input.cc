// KWin's fake input: keys by the seat keymap's keycodes, absolute pointer
// motion, buttons and the wheel, for the input core.
#include "platform/linux/kde/fake_input.h"

#include <linux/input-event-codes.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "fake-input-client-protocol.h"
#include "platform/linux/wayland/layout.h"
#include "platform/linux/wayland/seat_keymap.h"

namespace kelp::platform::linux_desktop::kde {
namespace {

// What the request carries for a wheel click. GTK 3 scrolls value / 10
// steps per click of a wheel that tells no discrete steps, as KWin's fake
// wheel does not: 10 makes one step per click, as the wlroots poster sends.
constexpr double WHEEL_CLICK_VALUE = 10;

// How long the application may take to ask for a pasted text, how often
// that is looked at, and how long it is given to take the text in.
constexpr std::chrono::milliseconds PASTE_WAIT{1500};
constexpr std::chrono::milliseconds PASTE_POLL{5};
constexpr std::chrono::milliseconds PASTE_SETTLE{50};

}  // namespace

FakeInput::FakeInput(wayland::WaylandConnection& wayland, RunLoop& runLoop) : wayland_(wayland), poster_(*this, runLoop) {}

FakeInput::~FakeInput() {
  if (wayland_.connected() && wayland_.generation() == generation_ && session_ > 0) poster_.finish();
}

std::optional<std::uint64_t> FakeInput::session() {
  if (!wayland_.display()) return std::nullopt;
  org_kde_kwin_fake_input* fake = wayland_.globals().fakeInput;
  // KWin hides the global from programs it does not grant it to.
  if (!fake || wayland_.globals().fakeInputVersion < ORG_KDE_KWIN_FAKE_INPUT_KEYBOARD_KEY_SINCE_VERSION) {
    return std::nullopt;
  }
  if (wayland_.generation() == generation_ && session_ > 0) return session_;
  org_kde_kwin_fake_input_authenticate(fake, "kelp-cua", "lets an AI agent operate applications for you");
  // The device KWin makes for us gives the seat its keyboard, and with it
  // the keymap our keys are read in.
  if (!wayland_.roundtrip()) return std::nullopt;
  std::optional<KeyboardLayout> layout = wayland::seatKeyboardLayout(wayland_);
  if (!layout) return std::nullopt;
  layout_ = std::move(*layout);
  generation_ = wayland_.generation();
  pointerAt_.reset();
  return ++session_;
}

org_kde_kwin_fake_input* FakeInput::device() {
  // A connection that broke in the middle of a request took the device
  // along; the rest of the request goes nowhere, and flush says so.
  if (!wayland_.connected() || wayland_.generation() != generation_) return nullptr;
  return wayland_.globals().fakeInput;
}

bool FakeInput::offerForPaste(const std::string& text) {
  if (!clipboard_) clipboard_ = std::make_unique<ClipboardThread<wayland::WaylandClipboard>>();
  if (!clipboard_->setText(text)) return false;
  readsBeforePaste_ = clipboard_->ask([](wayland::WaylandClipboard& c) { return c.readsAsked(); });
  return true;
}

bool FakeInput::awaitPaste() {
  if (!clipboard_ || !flush()) return false;
  const auto deadline = std::chrono::steady_clock::now() + PASTE_WAIT;
  while (clipboard_->ask([](wayland::WaylandClipboard& c) { return c.readsAsked(); }) == readsBeforePaste_) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(PASTE_POLL);
  }
  // The text is in the reader's pipe; the application reads it on its
  // next turn, which keys sent now must not overtake.
  std::this_thread::sleep_for(PASTE_SETTLE);
  return true;
}

void FakeInput::key(int keycode, bool down) {
  if (!device()) return;
  // Evdev numbers, which KWin reads in its keymap as XKB keycode - 8.
  org_kde_kwin_fake_input_keyboard_key(device(), static_cast<std::uint32_t>(keycode - 8),
                                       down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

// ---- pointer -------------------------------------------------------------------

std::optional<Point> FakeInput::devicePoint(Point at) {
  const std::optional<std::vector<MonitorRect>> monitors = wayland_.monitors();
  if (!monitors || monitors->empty()) return std::nullopt;
  return wayland::layoutPoint(at, *monitors);
}

std::optional<Point> FakeInput::pointerLocation() {
  if (!pointerAt_) return std::nullopt;
  const std::optional<std::vector<MonitorRect>> monitors = wayland_.monitors();
  const Point origin = monitors ? accessibilityOrigin(*monitors) : Point{};
  return Point{pointerAt_->x - origin.x, pointerAt_->y - origin.y};
}

void FakeInput::motion(Point layout) {
  if (!device()) return;
  org_kde_kwin_fake_input_pointer_motion_absolute(device(), wl_fixed_from_double(layout.x),
                                                  wl_fixed_from_double(layout.y));
}

void FakeInput::moveTo(Point layout) {
  // GTK 3 drops a click that comes right after the pointer entered its
  // window with no motion inside it: a jump lands a pixel beside the point
  // and then moves onto it, in two turns of the compositor.
  if (!pointerAt_ || std::abs(pointerAt_->x - layout.x) > 1 || std::abs(pointerAt_->y - layout.y) > 1) {
    motion({layout.x > 0 ? layout.x - 1 : layout.x + 1, layout.y});
    if (!wayland_.roundtrip()) return;
  }
  motion(layout);
  pointerAt_ = layout;
}

void FakeInput::button(Button which, bool down) {
  if (!device()) return;
  const std::uint32_t code = which == Button::left ? BTN_LEFT : which == Button::middle ? BTN_MIDDLE : BTN_RIGHT;
  org_kde_kwin_fake_input_button(device(), code,
                                 down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
}

void FakeInput::wheel(const WheelGesture::Clicks& clicks) {
  if (!device()) return;
  // The seam's positive values scroll up and left, Wayland's down and right.
  const auto turn = [&](std::uint32_t axis, std::int64_t count) {
    if (count == 0) return;
    org_kde_kwin_fake_input_axis(device(), axis,
                                 wl_fixed_from_double(-static_cast<double>(count) * WHEEL_CLICK_VALUE));
  };
  turn(WL_POINTER_AXIS_VERTICAL_SCROLL, clicks.vertical);
  turn(WL_POINTER_AXIS_HORIZONTAL_SCROLL, clicks.horizontal);
}

}  // namespace kelp::platform::linux_desktop::kde
