// Synthetic keyboard and pointer input on KWin, through
// org_kde_kwin_fake_input on the main thread's Wayland connection. KWin
// offers it only to a program whose desktop entry asks for it
// (X-KDE-Wayland-Interfaces). The KDE side of the input core
// (input/poster.h).
//
// KWin reads fake keys in its own keymap, which no client may change: keys
// are pressed by their keycodes in the seat's keymap (seat_keymap.h), and
// characters that keymap lacks are pasted from the clipboard.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/clipboard_thread.h"
#include "platform/linux/input/poster.h"
#include "platform/linux/run_loop.h"
#include "platform/linux/wayland/clipboard.h"
#include "platform/linux/wayland/connection.h"
#include "platform/platform.h"

struct org_kde_kwin_fake_input;

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
  // The last place the pointer was moved to, in the accessibility space;
  // none before the first move. No client may read the pointer on Wayland.
  std::optional<Point> pointerLocation();

 private:
  std::optional<std::uint64_t> session() override;
  KeyboardLayout keyboardLayout() override { return layout_; }
  bool keymapShared() override { return false; }
  bool mapKeysyms(const KeyboardLayout&, const std::vector<Lease>&) override { return false; }
  bool remapsKeys() override { return false; }
  bool offerForPaste(const std::string& text) override;
  bool awaitPaste() override;
  void key(int keycode, bool down) override;
  std::optional<Point> devicePoint(Point at) override;
  void moveTo(Point layoutPoint) override;
  void button(Button button, bool down) override;
  void wheel(const WheelGesture::Clicks& clicks) override;
  bool flush() override { return wayland_.roundtrip(); }

  void motion(Point layoutPoint);
  // The fake input of the connection authenticated on; null once it broke.
  org_kde_kwin_fake_input* device();

  wayland::WaylandConnection& wayland_;
  // Authenticated on connection `generation_`.
  std::uint64_t generation_ = 0;
  std::uint64_t session_ = 0;  // counts the connections authenticated on
  KeyboardLayout layout_;      // KWin's, read when the session began
  std::optional<Point> pointerAt_;  // layout coordinates
  // Made when first pasted through; the text is served from its thread.
  std::unique_ptr<ClipboardThread<wayland::WaylandClipboard>> clipboard_;
  std::uint64_t readsBeforePaste_ = 0;  // the clipboard's readsAsked when the text was offered
  InputPoster poster_;
};

}  // namespace kelp::platform::linux_desktop::kde
