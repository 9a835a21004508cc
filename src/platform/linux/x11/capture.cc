// Capturing the X screen through MIT-SHM or XGetImage, with the pointer drawn in.
#include "platform/linux/x11/capture.h"

#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/linux/handles.h"
#include "platform/linux/x11/display.h"

namespace kelp::platform::linux_desktop {
namespace {

std::optional<RootRect> intersection(const RootRect& a, const RootRect& b) {
  const int left = std::max(a.x, b.x);
  const int top = std::max(a.y, b.y);
  const int right = std::min(a.x + a.width, b.x + b.width);
  const int bottom = std::min(a.y + a.height, b.y + b.height);
  if (right <= left || bottom <= top) return std::nullopt;
  return RootRect{left, top, right - left, bottom - top};
}

std::optional<RootRect> rootRect(Display* display, Window root) {
  Window unused = None;
  int x = 0;
  int y = 0;
  unsigned width = 0;
  unsigned height = 0;
  unsigned border = 0;
  unsigned depth = 0;
  if (!XGetGeometry(display, root, &unused, &x, &y, &width, &height, &border, &depth)) return std::nullopt;
  return RootRect{0, 0, static_cast<int>(width), static_cast<int>(height)};
}

}  // namespace

// ---- decisions without a display ---------------------------------------------

std::vector<CaptureDisplay> captureDisplaysFrom(const std::vector<MonitorRect>& monitors) {
  const Point origin = accessibilityOrigin(monitors);
  std::vector<CaptureDisplay> displays;
  for (std::size_t i = 0; i < monitors.size(); ++i) {
    const MonitorRect& m = monitors[i];
    displays.push_back({static_cast<std::uint32_t>(i + 1), m.width, m.height, m.x - origin.x, m.y - origin.y});
  }
  return displays;
}

std::optional<pixman_format_code_t> pixelFormatOf(int bitsPerPixel, int depth, unsigned long redMask,
                                                  unsigned long greenMask, unsigned long blueMask) {
  struct Layout {
    int bitsPerPixel;
    int depth;  // 0: any
    unsigned long red;
    unsigned long green;
    unsigned long blue;
    pixman_format_code_t format;
  };
  // A 32-bit root's fourth byte is padding or an alpha nobody sets for the
  // screen: it is ignored either way.
  static constexpr Layout LAYOUTS[] = {
      {32, 24, 0xff0000, 0xff00, 0xff, PIXMAN_x8r8g8b8},
      {32, 32, 0xff0000, 0xff00, 0xff, PIXMAN_x8r8g8b8},
      {32, 24, 0xff, 0xff00, 0xff0000, PIXMAN_x8b8g8r8},
      {32, 32, 0xff, 0xff00, 0xff0000, PIXMAN_x8b8g8r8},
      {32, 30, 0x3ff00000, 0xffc00, 0x3ff, PIXMAN_x2r10g10b10},
      {32, 30, 0x3ff, 0xffc00, 0x3ff00000, PIXMAN_x2b10g10r10},
      {24, 24, 0xff0000, 0xff00, 0xff, PIXMAN_r8g8b8},
      {24, 24, 0xff, 0xff00, 0xff0000, PIXMAN_b8g8r8},
      {16, 16, 0xf800, 0x7e0, 0x1f, PIXMAN_r5g6b5},
      {16, 16, 0x1f, 0x7e0, 0xf800, PIXMAN_b5g6r5},
      {16, 15, 0x7c00, 0x3e0, 0x1f, PIXMAN_x1r5g5b5},
      {16, 15, 0x1f, 0x3e0, 0x7c00, PIXMAN_x1b5g5r5},
  };
  for (const Layout& layout : LAYOUTS) {
    if (layout.bitsPerPixel == bitsPerPixel && layout.depth == depth && layout.red == redMask &&
        layout.green == greenMask && layout.blue == blueMask) {
      return layout.format;
    }
  }
  return std::nullopt;
}

// ---- the connection ------------------------------------------------------------

struct XScreenCapture::Connection {
  XDisplay x;
  // What the server offers, learnt once for each connection (`known`).
  Display* known = nullptr;
  bool sharedMemory = false;  // MIT-SHM offered and not refused yet
  bool cursorImages = false;  // XFixes 1 or later
  // Declared after `x`: it goes first, while the connection still exists.
  std::unique_ptr<SharedSegment> segment;
  // Kept between captures: fresh memory costs a page fault per page.
  ScaleScratch scaling;
  Pixels padding;

  bool usable() { return display() != nullptr; }

  // The connection to use now, opened anew when the last one broke.
  Display* display() {
    if (x.lost()) {
      if (segment) segment->serverGone();
      segment.reset();
      known = nullptr;
    }
    Display* display = x.handle();
    if (display && display != known) learn(display);
    return display;
  }

  void learn(Display* display) {
    known = display;
    segment.reset();
    sharedMemory = XShmQueryExtension(display) != False;
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    // XFixes answers only clients that said which version they speak.
    cursorImages = XFixesQueryExtension(display, &eventBase, &errorBase) &&
                   XFixesQueryVersion(display, &major, &minor) && major >= 1;
  }

  // `area` of the root window, as the server sends it.
  struct Read {
    XImageOwner own;         // from GetImage, with its pixels
    SharedImageOwner view;   // over the shared segment
    XImage* image() const { return own ? own.get() : view.get(); }
  };

  Read read(Display* display, Window root, const RootRect& area) {
    Read read;
    if (sharedMemory) {
      read.view = readShared(display, root, area);
      if (read.view) return read;
    }
    read.own.reset(XGetImage(display, root, area.x, area.y, static_cast<unsigned>(area.width),
                             static_cast<unsigned>(area.height), AllPlanes, ZPixmap));
    return read;
  }

  SharedImageOwner readShared(Display* display, Window root, const RootRect& area) {
    const int screen = DefaultScreen(display);
    SharedImageOwner image(XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen),
                                           ZPixmap, nullptr, nullptr, static_cast<unsigned>(area.width),
                                           static_cast<unsigned>(area.height)));
    if (!image) return nullptr;
    const std::size_t size = static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(area.height);
    if (!segment || segment->size() < size) {
      segment.reset();
      segment = SharedSegment::attach(display, size);
      if (!segment) {
        sharedMemory = false;
        return nullptr;
      }
    }
    image->obdata = reinterpret_cast<char*>(segment->info());
    image->data = segment->info()->shmaddr;
    if (!XShmGetImage(display, root, image.get(), area.x, area.y, AllPlanes)) {
      // The server could not attach the segment (a connection from another
      // machine): GetImage from now on.
      segment.reset();
      sharedMemory = false;
      return nullptr;
    }
    return image;
  }

  // Draws the pointer over `picture`, whose top left lies at `origin` on the
  // root window.
  void drawPointer(Display* display, pixman_image_t* picture, const RootRect& origin) {
    if (!cursorImages) return;
    XMemory<XFixesCursorImage> cursor(XFixesGetCursorImage(display));
    if (!cursor || cursor->width == 0 || cursor->height == 0) return;
    const PixelSize size{cursor->width, cursor->height};
    // Premultiplied ARGB in the low 32 bits of each long.
    Pixels argb(static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height));
    std::transform(cursor->pixels, cursor->pixels + argb.size(), argb.begin(),
                   [](unsigned long pixel) { return static_cast<std::uint32_t>(pixel); });
    PixmanImageOwner image = wrapPixels(PIXMAN_a8r8g8b8, size, argb.data(), size.width * 4);
    if (!image) return;
    pixman_image_composite32(PIXMAN_OP_OVER, image.get(), nullptr, picture, 0, 0, 0, 0,
                             cursor->x - cursor->xhot - origin.x, cursor->y - cursor->yhot - origin.y, size.width,
                             size.height);
  }

  // `wanted` of the root window, scaled to `size`.
  std::optional<Image> capture(Display* display, const RootRect& wanted, PixelSize size) {
    const Window root = DefaultRootWindow(display);
    const std::optional<RootRect> screen = rootRect(display, root);
    if (!screen) return std::nullopt;
    // A monitor may reach past the screen; only the part on it can be read.
    const std::optional<RootRect> area = intersection(wanted, *screen);
    if (!area) return std::nullopt;
    Read read = this->read(display, root, *area);
    XImage* image = read.image();
    if (!image) return std::nullopt;
    const std::optional<pixman_format_code_t> format =
        pixelFormatOf(image->bits_per_pixel, image->depth, image->red_mask, image->green_mask, image->blue_mask);
    const int hostOrder = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
    if (!format || image->byte_order != hostOrder || image->bytes_per_line % 4 != 0) return std::nullopt;

    const PixelSize full{wanted.width, wanted.height};
    PixmanImageOwner source = wrapPixels(*format, {area->width, area->height}, image->data, image->bytes_per_line);
    if (!source) return std::nullopt;
    if (!(*area == wanted)) {
      // Off-screen parts stay black.
      Pixels& whole = padding;
      whole.assign(static_cast<std::size_t>(full.width) * static_cast<std::size_t>(full.height), 0);
      PixmanImageOwner padded = wrapPixels(PIXMAN_x8r8g8b8, full, whole.data(), full.width * 4);
      if (!padded) return std::nullopt;
      pixman_image_composite32(PIXMAN_OP_SRC, source.get(), nullptr, padded.get(), 0, 0, 0, 0, area->x - wanted.x,
                               area->y - wanted.y, area->width, area->height);
      source = std::move(padded);
    }
    drawPointer(display, source.get(), wanted);
    return scaledPicture(source.get(), full, size, scaling);
  }
};

// ---- the service ---------------------------------------------------------------

XScreenCapture::XScreenCapture() = default;
XScreenCapture::~XScreenCapture() = default;

std::optional<std::vector<CaptureDisplay>> XScreenCapture::displays() {
  return session_.with([](Connection& connection) -> std::optional<std::vector<CaptureDisplay>> {
    const std::optional<std::vector<MonitorRect>> monitors = connection.x.monitors();
    if (!monitors) return std::nullopt;
    return captureDisplaysFrom(*monitors);
  });
}

std::optional<Image> XScreenCapture::captureDisplay(std::uint32_t displayId, int width, int height) {
  return captureOf(displayId, std::nullopt, width, height);
}

std::optional<Image> XScreenCapture::captureArea(std::uint32_t displayId, const CaptureArea& area, int width,
                                                 int height) {
  return captureOf(displayId, area, width, height);
}

std::optional<Image> XScreenCapture::captureOf(std::uint32_t displayId, const std::optional<CaptureArea>& area,
                                               int width, int height) {
  if (!pictureSizeUsable(width, height)) return std::nullopt;
  return session_.with([&](Connection& connection) -> std::optional<Image> {
    const std::optional<std::vector<MonitorRect>> monitors = connection.x.monitors();
    if (!monitors || displayId == 0 || displayId > monitors->size()) return std::nullopt;
    const MonitorRect& monitor = (*monitors)[displayId - 1];
    if (monitor.width <= 0 || monitor.height <= 0) return std::nullopt;
    RootRect wanted{monitor.x, monitor.y, monitor.width, monitor.height};
    if (area) {
      if (!areaWithin(*area, monitor.width, monitor.height)) return std::nullopt;
      wanted = {monitor.x + area->x, monitor.y + area->y, area->width, area->height};
    }
    Display* display = connection.display();
    if (!display) return std::nullopt;
    return connection.capture(display, wanted, {width, height});
  });
}

std::optional<Jpeg> XScreenCapture::encodeJpeg(const Image& image, double quality) {
  return encodeJpegPicture(image, quality);
}

}  // namespace kelp::platform::linux_desktop
