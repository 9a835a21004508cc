// Synthetic keyboard and pointer input on KWin, through
// org_kde_kwin_fake_input on the main thread's Wayland connection. KWin
// offers it only to a program whose desktop entry asks for it
// (X-KDE-Wayland-Interfaces). The KDE side of the input core
// (input/poster.h).
#pragma once

#include <optional>

#include "platform/linux/input/poster.h"
#include "platform/linux/run_loop.h"
#include "platform/linux/wayland/connection.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop::kde {

class FakeInput final : private InputSink {
 public:
  // `wayland` and `runLoop` must outlive the input.
  FakeInput(wayland::WaylandConnection& wayland, RunLoop& runLoop);
  ~FakeInput() override;
  FakeInput(const FakeInput&) = delete;
  FakeInput& operator=(const FakeInput&) = delete;

  // Whether KWin offers fake input to this process.
  bool available() { return session().has_value(); }
  EventPoster& poster() { return poster_; }
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

  wayland::WaylandConnection& wayland_;
  InputPoster poster_;
};

}  // namespace kelp::platform::linux_desktop::kde
