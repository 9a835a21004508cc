// Reading Mutter's monitor layout, and mapping monitor points to frame pixels.
#include "platform/linux/gnome/screencast_monitors.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "platform/linux/handles.h"
#include "platform/linux/picture/capture_session.h"

namespace kelp::platform::linux_desktop::gnome {
namespace {

// DisplayConfig's layout modes: logical monitors placed in logical pixels
// (sizes divided by the scale), or in physical ones.
constexpr guint32 LAYOUT_LOGICAL = 1;

bool flagSet(GVariant* properties, const char* key) {
  gboolean value = FALSE;
  return g_variant_lookup(properties, key, "b", &value) && value;
}

// Each physical monitor's connector with the size of its current mode.
std::map<std::string, std::pair<int, int>> currentModes(GVariant* monitors) {
  std::map<std::string, std::pair<int, int>> modes;
  GVariantIter monitorIter;
  g_variant_iter_init(&monitorIter, monitors);
  while (GVariant* monitorRaw = g_variant_iter_next_value(&monitorIter)) {
    GVariantOwner monitor(monitorRaw);
    const gchar* connector = nullptr;
    GVariantOwner modeList(g_variant_get_child_value(monitor.get(), 1));
    g_variant_get_child(monitor.get(), 0, "(&sss&s)", &connector, nullptr, nullptr, nullptr);
    GVariantIter modeIter;
    g_variant_iter_init(&modeIter, modeList.get());
    while (GVariant* modeRaw = g_variant_iter_next_value(&modeIter)) {
      GVariantOwner mode(modeRaw);
      gint32 width = 0;
      gint32 height = 0;
      g_variant_get_child(mode.get(), 1, "i", &width);
      g_variant_get_child(mode.get(), 2, "i", &height);
      GVariantOwner properties(g_variant_get_child_value(mode.get(), 6));
      if (connector && flagSet(properties.get(), "is-current")) modes[connector] = {width, height};
    }
  }
  return modes;
}

}  // namespace

std::optional<std::vector<MutterMonitor>> monitorsFromCurrentState(GVariant* reply) {
  if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE(CURRENT_STATE_REPLY_TYPE))) return std::nullopt;
  GVariantOwner physical(g_variant_get_child_value(reply, 1));
  GVariantOwner logical(g_variant_get_child_value(reply, 2));
  GVariantOwner properties(g_variant_get_child_value(reply, 3));
  guint32 layoutMode = 0;
  const bool logicalLayout =
      g_variant_lookup(properties.get(), "layout-mode", "u", &layoutMode) && layoutMode == LAYOUT_LOGICAL;
  const std::map<std::string, std::pair<int, int>> modes = currentModes(physical.get());

  std::vector<MutterMonitor> monitors;
  GVariantIter logicalIter;
  g_variant_iter_init(&logicalIter, logical.get());
  while (GVariant* entryRaw = g_variant_iter_next_value(&logicalIter)) {
    GVariantOwner entry(entryRaw);
    gint32 x = 0;
    gint32 y = 0;
    gdouble scale = 1;
    guint32 transform = 0;
    gboolean primary = FALSE;
    g_variant_get_child(entry.get(), 0, "i", &x);
    g_variant_get_child(entry.get(), 1, "i", &y);
    g_variant_get_child(entry.get(), 2, "d", &scale);
    g_variant_get_child(entry.get(), 3, "u", &transform);
    g_variant_get_child(entry.get(), 4, "b", &primary);
    GVariantOwner members(g_variant_get_child_value(entry.get(), 5));
    // A mirrored logical monitor shows the same on each: the first will do.
    if (g_variant_n_children(members.get()) == 0) return std::nullopt;
    const gchar* connector = nullptr;
    g_variant_get_child(members.get(), 0, "(&sss&s)", &connector, nullptr, nullptr, nullptr);
    const auto mode = modes.find(connector ? connector : "");
    if (mode == modes.end() || !(scale > 0)) return std::nullopt;
    auto [width, height] = mode->second;
    // Odd transforms turn the monitor by a quarter (90, 270, and flipped).
    if (transform % 2 == 1) std::swap(width, height);
    if (logicalLayout) {
      width = static_cast<int>(std::lround(width / scale));
      height = static_cast<int>(std::lround(height / scale));
    }
    monitors.push_back({connector, MonitorRect{x, y, width, height, primary != FALSE}, scale, logicalLayout});
  }
  return monitors;
}

double motionScaleAt(const std::vector<MutterMonitor>& monitors, Point at) {
  for (const MutterMonitor& monitor : monitors) {
    const MonitorRect& r = monitor.rect;
    if (at.x >= r.x && at.x < r.x + r.width && at.y >= r.y && at.y < r.y + r.height) {
      return monitor.logicalLayout || !(monitor.scale > 0) ? 1.0 : monitor.scale;
    }
  }
  return 1;
}

std::optional<PixelRect> framePart(const CaptureArea& area, int monitorWidth, int monitorHeight, int frameWidth,
                                   int frameHeight) {
  if (monitorWidth <= 0 || monitorHeight <= 0 || frameWidth <= 0 || frameHeight <= 0 ||
      !areaWithin(area, monitorWidth, monitorHeight)) {
    return std::nullopt;
  }
  const double across = static_cast<double>(frameWidth) / monitorWidth;
  const double down = static_cast<double>(frameHeight) / monitorHeight;
  // A hair of tolerance keeps exact products (2 x 0.5) from rounding out
  // by a whole pixel through floating-point error.
  constexpr double SLACK = 1e-9;
  const int left = std::max(0, static_cast<int>(std::floor(area.x * across + SLACK)));
  const int top = std::max(0, static_cast<int>(std::floor(area.y * down + SLACK)));
  const int right = std::min(frameWidth, static_cast<int>(std::ceil((area.x + area.width) * across - SLACK)));
  const int bottom = std::min(frameHeight, static_cast<int>(std::ceil((area.y + area.height) * down - SLACK)));
  if (right <= left || bottom <= top) return std::nullopt;
  return PixelRect{left, top, right - left, bottom - top};
}

std::optional<Image> pictureOfFrame(const FrameView& frame, const std::optional<CaptureArea>& area, int monitorWidth,
                                    int monitorHeight, PixelSize to, ScaleScratch& scratch) {
  const std::optional<PixelRect> part = area ? framePart(*area, monitorWidth, monitorHeight, frame.width, frame.height)
                                             : PixelRect{0, 0, frame.width, frame.height};
  if (!part || !frame.pixels) return std::nullopt;
  // Four bytes a pixel, so the part's first pixel is as aligned as the
  // frame's, and its rows are the frame's rows.
  std::uint8_t* first = frame.pixels + static_cast<std::size_t>(part->y) * static_cast<std::size_t>(frame.stride) +
                        static_cast<std::size_t>(part->x) * 4;
  const PixelSize from{part->width, part->height};
  PixmanImageOwner source = wrapPixels(frame.format, from, first, frame.stride);
  if (!source) return std::nullopt;
  return scaledPicture(source.get(), from, to, scratch);
}

}  // namespace kelp::platform::linux_desktop::gnome
