// The seam's pictures of the screen (displays, capture, JPEG) and the
// clipboard's text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelp::platform {

// ---- screen capture ------------------------------------------------------

struct CaptureDisplay {
  std::uint32_t id = 0;
  int width = 0;  // points
  int height = 0;
  // Frame in the accessibility space: origin at the top left of the main
  // display, y downwards.
  double x = 0;
  double y = 0;
};

// A part of a display, in whole points from its top left.
struct CaptureArea {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const CaptureArea&, const CaptureArea&) = default;
};

// A captured picture: 8-bit RGB, rows from top to bottom, no padding.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

struct Jpeg {
  std::string base64;  // standard alphabet, padded, no line breaks
  int width = 0;       // pixels
  int height = 0;
};

// Capture may run on a thread of its own while the main thread waits, so
// displays() and captureDisplay() must be callable from any one thread at a
// time and must not touch main-thread-only state.
class ScreenCapture {
 public:
  virtual ~ScreenCapture() = default;
  // The displays that can be captured, in the platform's order; none when
  // the platform refuses (no permission, no display server).
  virtual std::optional<std::vector<CaptureDisplay>> displays() = 0;
  // The whole display with the pointer, scaled to `width` x `height` pixels;
  // none when this display could not be captured.
  virtual std::optional<Image> captureDisplay(std::uint32_t displayId, int width, int height) = 0;
  // The part `area` of the display (points from its top left, within it)
  // with the pointer, scaled to `width` x `height` pixels; none when it
  // could not be captured.
  virtual std::optional<Image> captureArea(std::uint32_t displayId, const CaptureArea& area, int width, int height) {
    (void)displayId, (void)area, (void)width, (void)height;
    return std::nullopt;
  }
  // JPEG at `quality` (0 to 1); none when the picture cannot be encoded.
  virtual std::optional<Jpeg> encodeJpeg(const Image& image, double quality) = 0;
};

// ---- clipboard -----------------------------------------------------------

// The desktop's clipboard as text (on X, the CLIPBOARD selection). Called
// from the main thread only.
class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // The text the clipboard holds, UTF-8; none when it holds no text, when
  // its owner does not answer in time, or when there is no clipboard.
  virtual std::optional<std::string> text() = 0;
  // Takes the clipboard with `text` (UTF-8) and gives it to every program
  // that asks, until another program takes the clipboard or this process
  // ends. False when the clipboard could not be taken.
  virtual bool setText(const std::string& text) = 0;
};

}  // namespace kelp::platform
