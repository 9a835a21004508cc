// Mutter's monitors as org.gnome.Mutter.DisplayConfig tells them, and where
// a part of a monitor lies in the frames of its screen cast.
#pragma once

#include <gio/gio.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/gnome/pipewire_frames.h"
#include "platform/linux/picture/scale.h"
#include "platform/linux/rules.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop::gnome {

// One logical monitor: its place in the stage's coordinates (where windows
// and the pointer live) and the connector of its first physical monitor,
// which the screen cast records.
struct MutterMonitor {
  std::string connector;
  MonitorRect rect;
  double scale = 1;
  // Placed in logical pixels ("layout-mode" 1): the stage is scaled, and
  // Mutter takes relative motion as it comes. In physical pixels it
  // multiplies relative motion by the scale of the monitor it starts on.
  bool logicalLayout = false;
};

// The type of org.gnome.Mutter.DisplayConfig.GetCurrentState's reply.
inline constexpr const char* CURRENT_STATE_REPLY_TYPE =
    "(ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv})";

// The logical monitors of a GetCurrentState reply, in Mutter's order; none
// when the reply has another shape or a logical monitor has no current mode.
// A logical monitor's size is its current mode turned by its transform, and
// divided by its scale where the layout is logical ("layout-mode" 1).
std::optional<std::vector<MutterMonitor>> monitorsFromCurrentState(GVariant* reply);

// What Mutter multiplies relative pointer motion starting at `at` (stage
// coordinates) by: the scale of the monitor there where the layout is
// physical, else 1.
double motionScaleAt(const std::vector<MutterMonitor>& monitors, Point at);

// A rectangle of a frame's pixels.
struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The pixels of a `frameWidth` x `frameHeight` frame of a monitor
// `monitorWidth` x `monitorHeight` points in size that show `area` (points
// from the monitor's top left), edges rounded outwards: a scaled monitor's
// frames have more pixels than it has points. None when `area` is not
// within the monitor or a size is not positive.
std::optional<PixelRect> framePart(const CaptureArea& area, int monitorWidth, int monitorHeight, int frameWidth,
                                   int frameHeight);

// The picture of `frame`, a frame of a monitor `monitorWidth` x
// `monitorHeight` points in size: all of it, or the pixels showing `area`
// (framePart), read where they lie in the frame's rows and scaled to `to`.
// None when the area is not within the monitor.
std::optional<Image> pictureOfFrame(const FrameView& frame, const std::optional<CaptureArea>& area, int monitorWidth,
                                    int monitorHeight, PixelSize to, ScaleScratch& scratch);

}  // namespace kelp::platform::linux_desktop::gnome
