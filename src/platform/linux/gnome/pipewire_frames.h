// The frames of one PipeWire video stream, as Mutter's screen cast sends
// them: raw pixels in shared memory, a frame whenever the screen changed.
//
// The stream runs on a PipeWire thread loop of its own and stays connected
// between pictures (its first frame takes most of a second), resting while
// nobody asks. The newest frame is kept (its buffer held back from the
// producer, not copied) and read under the loop's lock, so the buffer
// cannot go meanwhile.
#pragma once

#include <pixman.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kelp::platform::linux_desktop::gnome {

// ---- decisions without a stream ------------------------------------------------

// The pixman format of raw video pixels (an SPA video format id) with four
// bytes a pixel; none for the others, which the picture code cannot crop
// in place, and on big-endian machines. Alpha, where there is one, means
// nothing for a screen.
std::optional<pixman_format_code_t> pixmanFormatOfVideo(std::uint32_t videoFormat);

// Whether a frame of `width` x `height` pixels of four bytes, rows `stride`
// bytes apart from `offset` on, lies within `bytes` bytes of memory, with
// rows pixman can take (whole 32-bit words).
bool frameFits(int width, int height, int stride, std::size_t offset, std::size_t bytes);

// The PipeWire daemon's socket as this process's PipeWire library finds it:
// PIPEWIRE_REMOTE (default "pipewire-0"), relative names in
// PIPEWIRE_RUNTIME_DIR, else XDG_RUNTIME_DIR. None without a folder.
std::optional<std::string> pipewireSocketPath(const char* remote, const char* pipewireRuntimeDir,
                                              const char* runtimeDir);

// ---- the stream ----------------------------------------------------------------

// One frame as the stream delivered it, valid only inside withFrame's call.
struct FrameView {
  pixman_format_code_t format = PIXMAN_x8r8g8b8;
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes from one row to the next
  std::uint8_t* pixels = nullptr;
};

class PipeWireFrames {
 public:
  // Connects to the PipeWire daemon and asks for node `nodeId`'s video;
  // null when PipeWire cannot be reached or the stream cannot be made.
  static std::unique_ptr<PipeWireFrames> open(std::uint32_t nodeId);
  ~PipeWireFrames();
  PipeWireFrames(const PipeWireFrames&) = delete;
  PipeWireFrames& operator=(const PipeWireFrames&) = delete;

  // False once the stream failed or was disconnected by the other side.
  bool alive();

  // Calls `use` with a frame painted after this call began and returns
  // true. The stream rests between calls, so that Mutter reads no frames
  // back for nobody; woken, it paints the screen afresh and sends that
  // frame, stamped with the time of its painting. Should none come within
  // `freshWait`, the newest frame it has will do (the screen was not
  // painted: nothing changed). False when there is no frame at all within
  // `firstWait`, or the stream died.
  bool withFrame(std::chrono::milliseconds firstWait, std::chrono::milliseconds freshWait,
                 const std::function<void(const FrameView&)>& use);

  struct State;

 private:
  explicit PipeWireFrames(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace kelp::platform::linux_desktop::gnome
