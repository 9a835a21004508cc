// Screen capture on GNOME (Mutter): a stream of each monitor through
// org.gnome.Mutter.ScreenCast, its frames read from PipeWire. The stream
// stays open between pictures: its first frame takes most of a second.
//
// Mutter ends a screen cast with the D-Bus connection that made it, so the
// capture keeps a connection of its own for as long as it lives, and one
// cast (session, stream and PipeWire stream) per monitor it was asked for.
// The monitors are Mutter's logical monitors in DisplayConfig's order,
// numbered from 1, the pointer drawn in by Mutter (cursor mode "embedded").
#pragma once

#include <optional>
#include <vector>

#include "platform/linux/picture/capture_session.h"
#include "platform/linux/session_bus.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop::gnome {

class ScreenCastCapture final : public ScreenCapture {
 public:
  ScreenCastCapture();
  ~ScreenCastCapture() override;
  ScreenCastCapture(const ScreenCastCapture&) = delete;
  ScreenCastCapture& operator=(const ScreenCastCapture&) = delete;

  // Whether Mutter's screen cast is on the session bus and a PipeWire
  // daemon's socket is there to carry its frames. Main thread only; never
  // waits for a capture under way.
  bool available();
  std::optional<std::vector<CaptureDisplay>> displays() override;
  // A frame of the monitor that Mutter painted after the call began,
  // scaled. Safe to call on any thread; calls wait for each other.
  std::optional<Image> captureDisplay(std::uint32_t displayId, int width, int height) override;
  // A part of the same frame.
  std::optional<Image> captureArea(std::uint32_t displayId, const CaptureArea& area, int width, int height) override;
  std::optional<Jpeg> encodeJpeg(const Image& image, double quality) override;

 private:
  struct Session;
  CaptureSession<Session> session_;
  SessionBus probe_;  // available()'s own connection, on the main thread

  std::optional<Image> captureOf(std::uint32_t displayId, const std::optional<CaptureArea>& area, int width,
                                 int height);
};

}  // namespace kelp::platform::linux_desktop::gnome
