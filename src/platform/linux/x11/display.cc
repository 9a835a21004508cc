// The X display's windows, monitors and properties, read for the desktop.
#include "platform/linux/x11/display.h"

#include <X11/Xatom.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

namespace kelp::platform::linux_desktop {
namespace {

// Requests about windows of other clients fail whenever such a window goes
// away between listing and reading; each call's own result says so, and the
// default handler would print and exit.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

// Xlib's default reaction to a broken connection prints and exits. Returning
// from both hooks (possible since libX11 1.8) lets the failed call come back
// instead, and the display is dropped.
int ignoreXIOError(Display*) { return 0; }
void onXIOErrorExit(Display*, void* self) { static_cast<XDisplay*>(self)->markLost(); }

constexpr long MAX_PROPERTY_LONGS = 1 << 16;

}  // namespace

std::string untilNul(const unsigned char* data, unsigned long count) {
  const auto* text = reinterpret_cast<const char*>(data);
  const void* nul = std::memchr(text, '\0', count);
  return std::string(text, nul ? static_cast<const char*>(nul) - text : count);
}

// libxcb writes the reason a server refuses a connection (a missing or
// wrong cookie) straight to file descriptor 2, with no way to turn it off.
// Standard error belongs to our parent, so for the connection attempt it
// points at /dev/null; nothing else in this process writes there. Threads
// that open displays (the capture's) take turns: two of them swapping
// descriptor 2 at once could leave it on /dev/null for good.
Display* openDisplayQuietly() {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return nullptr;
  static std::mutex opening;
  std::lock_guard lock(opening);
  const int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);  // -1: it is closed
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0 && null != STDERR_FILENO) {
    ::dup2(null, STDERR_FILENO);
    ::close(null);
  }
  Display* display = XOpenDisplay(nullptr);
  // A standard error that was closed stays on /dev/null: were descriptor 2
  // free, the next socket could land there and take stray writes.
  if (saved >= 0) {
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
  }
  return display;
}

XDisplay::~XDisplay() = default;

Display* XDisplay::display() {
  if (lost_) {
    display_.reset();
    atoms_.clear();
    timeWindow_ = None;
    lost_ = false;
  }
  if (display_) return display_.get();
  static const bool handlersInstalled = [] {
    XSetErrorHandler(ignoreXError);
    XSetIOErrorHandler(ignoreXIOError);
    return true;
  }();
  (void)handlersInstalled;
  display_.reset(openDisplayQuietly());
  if (display_) XSetIOErrorExitHandler(display_.get(), onXIOErrorExit, this);
  return display_.get();
}

Atom XDisplay::atom(const char* name) {
  auto it = atoms_.find(name);
  if (it != atoms_.end()) return it->second;
  const Atom value = XInternAtom(display_.get(), name, False);
  atoms_.emplace(name, value);
  return value;
}

XDisplay::Property XDisplay::property(Window window, Atom property, Atom type, int format) {
  Atom actualType = None;
  int actualFormat = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* raw = nullptr;
  const int status = XGetWindowProperty(display_.get(), window, property, 0, MAX_PROPERTY_LONGS, False, type,
                                        &actualType, &actualFormat, &count, &remaining, &raw);
  Property read{XMemory<unsigned char>(raw), count};
  if (status != Success || actualType != type || actualFormat != format) read.data = XMemory<unsigned char>(nullptr);
  return read;
}

std::optional<std::vector<unsigned long>> XDisplay::longs(Window window, Atom property, Atom type) {
  Property read = this->property(window, property, type, 32);
  if (!read.data) return std::nullopt;
  // Format-32 items arrive as C longs, whatever the width of long.
  const auto* items = reinterpret_cast<const unsigned long*>(read.data.get());
  return std::vector<unsigned long>(items, items + read.count);
}

std::optional<std::string> XDisplay::text8(Window window, Atom property, Atom type) {
  Property read = this->property(window, property, type, 8);
  if (!read.data) return std::nullopt;
  return untilNul(read.data.get(), read.count);
}

std::optional<std::vector<WindowId>> XDisplay::rootWindowList(const char* property) {
  if (!display()) return std::nullopt;
  auto items = longs(DefaultRootWindow(display_.get()), atom(property), XA_WINDOW);
  if (!items) return std::nullopt;
  return std::vector<WindowId>(items->begin(), items->end());
}

bool XDisplay::setRootTextIfMissing(const char* name, const std::string& text) {
  if (!display()) return false;
  const Window root = DefaultRootWindow(display_.get());
  const std::optional<std::string> present = text8(root, atom(name), XA_STRING);
  if (present && !present->empty()) return false;
  XChangeProperty(display_.get(), root, atom(name), XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  XSync(display_.get(), False);
  return true;
}

std::optional<std::vector<MonitorRect>> XDisplay::monitors() {
  Display* x = display();
  if (!x) return std::nullopt;
  std::vector<MonitorRect> list;
  int eventBase = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  const bool hasMonitors = XRRQueryExtension(x, &eventBase, &errorBase) && XRRQueryVersion(x, &major, &minor) &&
                           (major > 1 || (major == 1 && minor >= 5));
  if (hasMonitors) {
    int count = 0;
    MonitorsOwner monitors(XRRGetMonitors(x, DefaultRootWindow(x), True, &count));
    for (int i = 0; monitors && i < count; ++i) {
      const XRRMonitorInfo& m = monitors.get()[i];
      list.push_back({m.x, m.y, m.width, m.height, m.primary != False});
    }
  }
  if (list.empty()) {
    const int screen = DefaultScreen(x);
    list.push_back({0, 0, DisplayWidth(x, screen), DisplayHeight(x, screen), true});
  }
  return list;
}

}  // namespace kelp::platform::linux_desktop
