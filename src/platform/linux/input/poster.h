// Synthetic keyboard and pointer input as both display servers make it: the
// text loop (plan strokes, map spare keycodes, shift, strokes), held keys,
// modifiers and buttons, the timer that lets go of a key that lost its
// key-up, borrowed keycodes and their return, and wheel gestures. What
// differs between X and Wayland is below InputSink; XTest (x11/input.h)
// and the virtual devices (wayland/input.h) each implement it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/input/key_codes.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

enum class Button { left, right, middle };

// The raw input of one display server. Called on the main thread only, and
// only between a session() that answered and the next one.
class InputSink {
 public:
  virtual ~InputSink() = default;

  // Makes what events need (a connection, devices) if it is not there yet.
  // None when no events can be made; otherwise a number that changes
  // whenever what events go through is new, and nothing held on the old
  // one is held any more.
  virtual std::optional<std::uint64_t> session() = 0;

  // The keyboard mapping as it is now; no rows when it cannot be read.
  virtual KeyboardLayout keyboardLayout() = 0;
  // Whether the mapping is the display server's own, seen by every client:
  // then borrowed keycodes are given back once idle, and on leaving.
  virtual bool keymapShared() = 0;
  // `changed` keycodes take their keysyms (0: none), giving `layout`; true
  // once every client will read the keys after it in the new mapping.
  virtual bool mapKeysyms(const KeyboardLayout& layout, const std::vector<Lease>& changed) = 0;
  // Whether mapKeysyms can give keycodes new keysyms at all. Where the
  // compositor keeps the keymap to itself (GNOME, KWin), characters beyond
  // its layout go in by the clipboard and the paste shortcut instead.
  virtual bool remapsKeys() { return true; }
  // Makes `text` (UTF-8) the clipboard's, for a paste that follows at
  // once; false when it could not.
  virtual bool offerForPaste(const std::string& text) {
    (void)text;
    return false;
  }
  // After the paste shortcut: sends what is queued and waits until the
  // application has read the offered text, so that keys after it land
  // after it; false when nobody read it in time.
  virtual bool awaitPaste() { return false; }

  virtual void key(int keycode, bool down) = 0;
  // The modifier keys that are down now, after each change; for servers
  // that take the modifier state from the sender rather than from the keys.
  virtual void modifiersHeld(const std::vector<int>& keycodes) { (void)keycodes; }

  // The point in the sink's own coordinates (integral on X), so that two
  // points that land on the same place compare equal; none for a point it
  // cannot reach.
  virtual std::optional<Point> devicePoint(Point at) = 0;
  virtual void moveTo(Point devicePoint) = 0;
  virtual void button(Button button, bool down) = 0;
  virtual void wheel(const WheelGesture::Clicks& clicks) = 0;

  // Sends what is queued; false when the connection broke.
  virtual bool flush() = 0;
};

class InputPoster final : public EventPoster {
 public:
  // `runLoop` is where stuck keys are let go of, wheel gestures end and
  // borrowed keycodes go back, between requests; it and `sink` must outlive
  // the poster.
  InputPoster(InputSink& sink, RunLoop& runLoop) : sink_(sink), runLoop_(runLoop) {}
  ~InputPoster() override;
  InputPoster(const InputPoster&) = delete;
  InputPoster& operator=(const InputPoster&) = delete;

  bool postKey(const KeyEvent& event) override;
  bool postMouse(const MouseEvent& event) override;
  bool postScroll(const ScrollEvent& event) override;

  // Lets go of every key and button and gives borrowed keycodes back, on a
  // sink that is still open on the session they were made in; for the
  // owner's destructor, which knows that without opening anything anew.
  void finish();

 private:
  struct HeldKey {
    std::uint16_t keyCode = 0;  // as the core named it
    int keycode = 0;            // the sink's
  };

  // The sink's session, forgetting what was held when it is a new one.
  bool open();
  void forgetState();

  bool typeText(std::u16string_view chunk);
  // Where the sink cannot remap keys, the layout as the planner must see it:
  // no keycode is free to borrow.
  KeyboardLayout planningLayout();
  // Types characters by the clipboard and the paste shortcut, for a sink
  // that has no key for the first of them; false when they did not go in.
  bool paste(const KeyboardLayout& layout, const std::vector<Keysym>& keysyms);
  bool pressKey(const KeyEvent& event, Keysym keysym);
  void releaseKey(std::uint16_t keyCode);
  // Maps the plan's keycodes into `layout`, waiting first if they were in
  // use until lately.
  bool remap(KeyboardLayout& layout, const StrokePlan& plan);
  // Brings the held modifier keys to exactly `keycodes`.
  void holdModifiers(const std::vector<int>& keycodes);
  void releaseKeys();
  void releaseEverything();

  void armStuckKeyTimer();
  void armLeaseTimer();
  void giveLeasesBack(bool all);

  InputSink& sink_;
  RunLoop& runLoop_;
  std::optional<std::uint64_t> session_;

  std::vector<HeldKey> heldKeys_;
  std::vector<int> heldModifiers_;  // keycodes, in the order they went down
  std::vector<Button> heldButtons_;
  std::vector<Lease> leases_;
  TextKeysyms text_;
  WheelGesture wheel_;
  std::optional<Point> wheelAt_;

  std::optional<RunLoop::TimerId> stuckKeyTimer_;
  std::optional<RunLoop::TimerId> leaseTimer_;
  std::optional<RunLoop::TimerId> gestureTimer_;
};

}  // namespace kelp::platform::linux_desktop
