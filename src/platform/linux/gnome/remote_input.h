// Synthetic keyboard and pointer input on GNOME (Mutter), through one
// org.gnome.Mutter.RemoteDesktop session on a connection of its own that
// lives as long as the process: the session ends with the connection that
// made it. The GNOME side of the input core (input/poster.h).
//
// Keys go in as evdev keycodes of Mutter's own keymap, which no client can
// change (read from the seat, else compiled from GNOME's input source
// settings): characters beyond it are pasted through the session's
// clipboard.
// The pointer moves relative to where the shell extension says it is, or
// without it, on a single monitor, from the monitor's corner (an absolute
// move would need a screen cast stream). Mutter scales relative motion on
// a scaled monitor in a physical layout: moves are divided by that scale,
// and with the extension read back and mended once, or reported lost.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/linux/gnome/paste_server.h"
#include "platform/linux/handles.h"
#include "platform/linux/input/poster.h"
#include "platform/linux/rules.h"
#include "platform/linux/run_loop.h"
#include "platform/linux/wayland/connection.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop::gnome {

class RemoteDesktopInput final : private InputSink {
 public:
  // `wayland` (for the seat's keymap) and `runLoop` must outlive the input.
  RemoteDesktopInput(wayland::WaylandConnection& wayland, RunLoop& runLoop);
  ~RemoteDesktopInput() override;
  RemoteDesktopInput(const RemoteDesktopInput&) = delete;
  RemoteDesktopInput& operator=(const RemoteDesktopInput&) = delete;

  // Whether Mutter's remote desktop answers and a session could be started.
  bool available() { return session().has_value(); }
  EventPoster& poster() { return poster_; }
  // Where the pointer is, in the accessibility space, as the shell
  // extension tells it, else where this process last put it; none before.
  std::optional<Point> pointerLocation();

 private:
  std::optional<std::uint64_t> session() override;
  KeyboardLayout keyboardLayout() override;
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
  bool flush() override;

  // A session method, answered within the bus timeout; false on an error.
  bool call(const char* method, GVariant* parameters);
  // A session method whose answer nobody waits for; flush tells whether
  // all of them went through.
  void send(const char* method, GVariant* parameters);
  // Whether Mutter has handled every method sent before.
  bool barrier();
  void dropSession();
  std::optional<std::vector<MonitorRect>> monitors();

  wayland::WaylandConnection& wayland_;
  GRef<GDBusConnection> bus_;
  std::string sessionPath_;
  std::uint64_t session_ = 0;  // counts the sessions made
  std::optional<KeyboardLayout> layout_;  // read once per session
  std::unique_ptr<PasteServer> paste_;
  bool clipboardEnabled_ = false;
  std::uint64_t servedBeforePaste_ = 0;
  std::optional<Point> pointerAt_;  // global coordinates
  bool lostEvent_ = false;          // since the last flush
  InputPoster poster_;
};

}  // namespace kelp::platform::linux_desktop::gnome
