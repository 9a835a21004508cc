// Synthetic keyboard and pointer input on GNOME (Mutter), through one
// org.gnome.Mutter.RemoteDesktop session on a connection of its own that
// lives as long as the process: the session ends with the connection that
// made it. The GNOME side of the input core (input/poster.h).
#pragma once

#include <optional>

#include "platform/linux/input/poster.h"
#include "platform/linux/run_loop.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop::gnome {

class RemoteDesktopInput final : private InputSink {
 public:
  // `runLoop` must outlive the input.
  explicit RemoteDesktopInput(RunLoop& runLoop);
  ~RemoteDesktopInput() override;
  RemoteDesktopInput(const RemoteDesktopInput&) = delete;
  RemoteDesktopInput& operator=(const RemoteDesktopInput&) = delete;

  // Whether Mutter's remote desktop answers and a session could be started.
  bool available() { return session().has_value(); }
  EventPoster& poster() { return poster_; }
  // The last place the pointer was moved to; none before the first move.
  std::optional<Point> pointerLocation();

 private:
  std::optional<std::uint64_t> session() override;
  KeyboardLayout keyboardLayout() override;
  bool keymapShared() override { return false; }
  bool mapKeysyms(const KeyboardLayout& layout, const std::vector<Lease>& changed) override;
  void key(int keycode, bool down) override;
  std::optional<Point> devicePoint(Point at) override;
  void moveTo(Point devicePoint) override;
  void button(Button button, bool down) override;
  void wheel(const WheelGesture::Clicks& clicks) override;
  bool flush() override;

  InputPoster poster_;
};

}  // namespace kelp::platform::linux_desktop::gnome
