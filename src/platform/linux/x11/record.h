// The listen-only event tap over the X RECORD extension: every key press and
// pointer event the X server processes (a person's, and those XTest makes)
// arrives in the seam's vocabulary on the GLib main loop.
//
// Two connections of the tap's own: the data connection carries nothing
// but the recording (XRecordEnableContextAsync, its replies read from the
// main loop), the control connection creates, disables and frees the
// recording context and answers the questions the translation asks.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/linux/handles.h"
#include "platform/linux/input/key_codes.h"
#include "platform/linux/x11/display.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

// ---- translation, on plain values ------------------------------------------------

// One device event as the X server reports it (xEvent fields).
struct RawInput {
  int type = 0;              // KeyPress, KeyRelease, ButtonPress, ButtonRelease, MotionNotify
  unsigned detail = 0;       // the keycode or button
  unsigned state = 0;        // modifier and button masks before the event
  int rootX = 0;             // root coordinates
  int rootY = 0;
  std::uint32_t timeMillis = 0;  // server time
};

// When a press is the next click of a series, as the toolkits count them.
struct ClickSettings {
  int timeMillis = 400;
  int distance = 5;
};

// Net/DoubleClickTime and Net/DoubleClickDistance from the _XSETTINGS_SETTINGS
// property a settings manager publishes; the defaults for what it lacks. None
// when the data is not XSETTINGS.
std::optional<ClickSettings> clickSettingsFrom(std::basic_string_view<unsigned char> settings);

// Counts the clicks of series: a press comes within the double-click time
// and distance of the previous one with the same button, or starts anew.
class ClickCounter {
 public:
  explicit ClickCounter(ClickSettings settings = {}) : settings_(settings) {}
  // The count of a press; its release carries the same count.
  std::int64_t press(unsigned button, int x, int y, std::uint32_t timeMillis);
  std::int64_t release(unsigned button) const { return button == lastButton_ ? count_ : 1; }

 private:
  ClickSettings settings_;
  unsigned lastButton_ = 0;
  int lastX_ = 0;
  int lastY_ = 0;
  std::uint32_t lastTime_ = 0;
  std::int64_t count_ = 0;
};

// The seam's flags for an X modifier state: Shift, Control, Mod1 (Alt) and
// Mod4 (Super) as the backend's own input presses them.
std::uint64_t flagsFromState(unsigned state);

// The key code given for a key the core has no name for.
inline constexpr std::int64_t UNNAMED_KEY_CODE = 0xffff;

// The seam's event for a device event, or none for those the seam does not
// tap: releases of keys and of buttons but the left, presses of modifier
// keys alone, motion without the left button held, the middle button.
// `keysymOf` gives the keysym of a keycode in the keyboard group of a state;
// `origin` is where the accessibility space's (0, 0) lies on the root.
std::optional<TappedEvent> translateInput(const RawInput& input, ClickCounter& clicks,
                                          const std::function<Keysym(unsigned keycode, unsigned state)>& keysymOf,
                                          Point origin);

// ---- the tap -----------------------------------------------------------------------

class XRecordTap final : public EventTap {
 public:
  // `x` is the main thread's display, for the pointer and the monitors.
  explicit XRecordTap(XDisplay& x) : x_(x) {}
  ~XRecordTap() override;
  XRecordTap(const XRecordTap&) = delete;
  XRecordTap& operator=(const XRecordTap&) = delete;

  // False where the server has no RECORD extension or no display is there.
  bool start(std::uint64_t mask, std::function<void(const TappedEvent&)> onEvent) override;
  void stop() override;
  std::optional<Point> pointerLocation() override;
  // Whether the server offers the RECORD extension at all.
  bool available();

 private:
  static void intercept(XPointer self, XRecordInterceptData* data);
  static gboolean readable(gint fd, GIOCondition condition, gpointer self);
  void deliver(const RawInput& input);
  Keysym keysymOf(unsigned keycode, unsigned state);
  Point origin();
  ClickSettings clickSettings();

  XDisplay& x_;
  DisplayOwner control_;
  DisplayOwner data_;
  XRecordContext context_ = 0;
  GSourceOwner source_;
  std::uint64_t mask_ = 0;
  std::function<void(const TappedEvent&)> onEvent_;
  ClickCounter clicks_;
  bool lost_ = false;
};

}  // namespace kelp::platform::linux_desktop
