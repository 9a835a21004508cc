// Pictures of GNOME's monitors through Mutter's screen cast and PipeWire.
#include "platform/linux/gnome/screencast_capture.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "platform/linux/gnome/pipewire_frames.h"
#include "platform/linux/gnome/screencast_monitors.h"
#include "platform/linux/handles.h"
#include "platform/linux/picture/jpeg.h"
#include "platform/linux/picture/scale.h"
#include "platform/linux/rules.h"
#include "platform/linux/session_bus.h"
#include "platform/linux/x11/capture.h"

namespace kelp::platform::linux_desktop::gnome {
namespace {

constexpr const char* SCREEN_CAST_NAME = "org.gnome.Mutter.ScreenCast";
constexpr const char* SCREEN_CAST_PATH = "/org/gnome/Mutter/ScreenCast";
constexpr const char* SCREEN_CAST_INTERFACE = "org.gnome.Mutter.ScreenCast";
constexpr const char* SESSION_INTERFACE = "org.gnome.Mutter.ScreenCast.Session";
constexpr const char* STREAM_INTERFACE = "org.gnome.Mutter.ScreenCast.Stream";
constexpr const char* DISPLAY_CONFIG_NAME = "org.gnome.Mutter.DisplayConfig";
constexpr const char* DISPLAY_CONFIG_PATH = "/org/gnome/Mutter/DisplayConfig";
// The pointer drawn into the frames by Mutter.
constexpr guint32 CURSOR_EMBEDDED = 1;

// A software-rendering Mutter on a busy machine answers slowly while it
// sets a cast up; each call still has its limit.
constexpr int CALL_TIMEOUT_MS = 3000;
constexpr std::chrono::milliseconds NODE_WAIT{3000};
// The first frame of a new stream took 0.7 s for 1920x1080 on a software
// renderer.
constexpr std::chrono::milliseconds FIRST_FRAME_WAIT{5000};
// Woken for a picture, Mutter paints the monitor afresh and sends that
// frame: 50 to 100 ms on a software renderer at 1920x1080, up to 300 ms on
// a busy machine. A monitor Mutter does not paint meanwhile shows what the
// frame held before shows.
constexpr std::chrono::milliseconds FRESH_WAIT{1500};

GVariantOwner call(GDBusConnection* bus, const char* name, const char* path, const char* interface,
                   const char* method, GVariant* arguments, const char* replyType) {
  return GVariantOwner(g_dbus_connection_call_sync(bus, name, path, interface, method, arguments,
                                                   G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                   CALL_TIMEOUT_MS, nullptr, nullptr));
}

// An object path from a "(o)" reply.
std::optional<std::string> pathOf(const GVariantOwner& reply) {
  if (!reply) return std::nullopt;
  const gchar* path = nullptr;
  g_variant_get(reply.get(), "(&o)", &path);
  return std::string(path);
}

gboolean stopWaiting(gpointer) { return G_SOURCE_REMOVE; }

// Runs `context` until `done()` or `timeout`.
template <class Done>
bool runUntil(GMainContext* context, Done done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    GSourceOwner timer(g_timeout_source_new(static_cast<guint>(left.count())));
    g_source_set_callback(timer.get(), stopWaiting, nullptr, nullptr);
    g_source_attach(timer.get(), context);
    g_main_context_iteration(context, TRUE);
    g_source_destroy(timer.get());
  }
  return true;
}

// What the signals of one cast told. The subscriptions own a reference
// each, so a signal dispatched late still writes somewhere alive.
struct CastNews {
  std::optional<std::uint32_t> node;
  bool closed = false;
};
using CastNewsRef = std::shared_ptr<CastNews>;

void forgetNews(gpointer news) { delete static_cast<CastNewsRef*>(news); }

void onStreamAdded(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                   gpointer news) {
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(u)"))) return;
  guint32 node = 0;
  g_variant_get(parameters, "(u)", &node);
  (*static_cast<CastNewsRef*>(news))->node = node;
}

void onClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer news) {
  (*static_cast<CastNewsRef*>(news))->closed = true;
}

// One monitor's screen cast: Mutter's session and stream, and the PipeWire
// stream that receives its frames.
struct Cast {
  GRef<GDBusConnection> bus;
  std::string sessionPath;
  CastNewsRef news = std::make_shared<CastNews>();
  guint streamAdded = 0;
  guint closed = 0;
  std::unique_ptr<PipeWireFrames> frames;

  Cast() = default;
  Cast(const Cast&) = delete;
  Cast& operator=(const Cast&) = delete;

  ~Cast() {
    frames.reset();
    if (streamAdded) g_dbus_connection_signal_unsubscribe(bus.get(), streamAdded);
    if (closed) g_dbus_connection_signal_unsubscribe(bus.get(), closed);
    // No reply wanted: the connection may go right after, which ends the
    // session as well.
    if (!news->closed && !sessionPath.empty() && bus && !g_dbus_connection_is_closed(bus.get())) {
      g_dbus_connection_call(bus.get(), SCREEN_CAST_NAME, sessionPath.c_str(), SESSION_INTERFACE, "Stop", nullptr,
                             nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, CALL_TIMEOUT_MS, nullptr, nullptr, nullptr);
    }
  }

  bool usable() const { return !news->closed && frames && frames->alive(); }

  guint subscribe(const char* interface, const char* member, const std::string& path,
                  GDBusSignalCallback callback) {
    return g_dbus_connection_signal_subscribe(bus.get(), SCREEN_CAST_NAME, interface, member, path.c_str(), nullptr,
                                              G_DBUS_SIGNAL_FLAGS_NONE, callback, new CastNewsRef(news), forgetNews);
  }
};

GVariant* vardict(GVariantBuilder* builder) { return g_variant_builder_end(builder); }

}  // namespace

// ---- the session ---------------------------------------------------------------

struct ScreenCastCapture::Session {
  GRef<GDBusConnection> bus = connectToSessionBus(DBUS_CALL_TIMEOUT_MS);
  // The casts' signals are dispatched here, and only while a capture waits
  // for one: the main loop is the main thread's, and captures run on others.
  GMainContextOwner signals{g_main_context_new()};
  std::map<std::string, std::unique_ptr<Cast>> casts;  // by connector
  ScaleScratch scaling;

  bool usable() {
    if (bus && !g_dbus_connection_is_closed(bus.get())) return true;
    // The casts died with the connection.
    casts.clear();
    bus = connectToSessionBus(DBUS_CALL_TIMEOUT_MS);
    return static_cast<bool>(bus);
  }

  std::optional<std::vector<MutterMonitor>> monitors() {
    GVariantOwner reply = call(bus.get(), DISPLAY_CONFIG_NAME, DISPLAY_CONFIG_PATH, DISPLAY_CONFIG_NAME,
                               "GetCurrentState", nullptr, CURRENT_STATE_REPLY_TYPE);
    if (!reply) return std::nullopt;
    return monitorsFromCurrentState(reply.get());
  }

  // Signals that came since the last wait, then the casts that ended or
  // whose monitor is gone go.
  void tidy(const std::vector<MutterMonitor>& monitors) {
    while (g_main_context_iteration(signals.get(), FALSE)) {
    }
    for (auto it = casts.begin(); it != casts.end();) {
      const bool present = std::any_of(monitors.begin(), monitors.end(),
                                       [&](const MutterMonitor& monitor) { return monitor.connector == it->first; });
      it = present && it->second->usable() ? std::next(it) : casts.erase(it);
    }
  }

  // The frames of the monitor on `connector`, its cast started if need be.
  PipeWireFrames* framesOf(const std::string& connector) {
    if (const auto it = casts.find(connector); it != casts.end()) return it->second->frames.get();
    std::unique_ptr<Cast> cast = start(connector);
    if (!cast) return nullptr;
    PipeWireFrames* frames = cast->frames.get();
    casts[connector] = std::move(cast);
    return frames;
  }

  std::unique_ptr<Cast> start(const std::string& connector) {
    auto cast = std::make_unique<Cast>();
    cast->bus = bus;
    GVariantBuilder sessionOptions;
    g_variant_builder_init(&sessionOptions, G_VARIANT_TYPE_VARDICT);
    const std::optional<std::string> sessionPath =
        pathOf(call(bus.get(), SCREEN_CAST_NAME, SCREEN_CAST_PATH, SCREEN_CAST_INTERFACE, "CreateSession",
                    g_variant_new("(@a{sv})", vardict(&sessionOptions)), "(o)"));
    if (!sessionPath) return nullptr;
    cast->sessionPath = *sessionPath;

    GVariantBuilder streamOptions;
    g_variant_builder_init(&streamOptions, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&streamOptions, "{sv}", "cursor-mode", g_variant_new_uint32(CURSOR_EMBEDDED));
    const std::optional<std::string> streamPath =
        pathOf(call(bus.get(), SCREEN_CAST_NAME, sessionPath->c_str(), SESSION_INTERFACE, "RecordMonitor",
                    g_variant_new("(s@a{sv})", connector.c_str(), vardict(&streamOptions)), "(o)"));
    if (!streamPath) return nullptr;

    // Signals go to the context that is the thread's default when they are
    // subscribed to.
    g_main_context_push_thread_default(signals.get());
    cast->streamAdded = cast->subscribe(STREAM_INTERFACE, "PipeWireStreamAdded", *streamPath, onStreamAdded);
    cast->closed = cast->subscribe(SESSION_INTERFACE, "Closed", *sessionPath, onClosed);
    g_main_context_pop_thread_default(signals.get());

    if (!call(bus.get(), SCREEN_CAST_NAME, sessionPath->c_str(), SESSION_INTERFACE, "Start", nullptr, "()")) {
      return nullptr;
    }
    const CastNews& news = *cast->news;
    if (!runUntil(signals.get(), [&] { return news.node.has_value() || news.closed; }, NODE_WAIT) || news.closed) {
      return nullptr;
    }
    cast->frames = PipeWireFrames::open(*news.node);
    if (!cast->frames) return nullptr;
    return cast;
  }
};

// ---- the service ---------------------------------------------------------------

ScreenCastCapture::ScreenCastCapture() = default;
ScreenCastCapture::~ScreenCastCapture() = default;

bool ScreenCastCapture::available() {
  const std::optional<std::string> socket =
      pipewireSocketPath(std::getenv("PIPEWIRE_REMOTE"), std::getenv("PIPEWIRE_RUNTIME_DIR"),
                         std::getenv("XDG_RUNTIME_DIR"));
  return socket && isSocketFile(*socket) && probe_.nameHasOwner(SCREEN_CAST_NAME);
}

std::optional<std::vector<CaptureDisplay>> ScreenCastCapture::displays() {
  return session_.with([](Session& session) -> std::optional<std::vector<CaptureDisplay>> {
    const std::optional<std::vector<MutterMonitor>> monitors = session.monitors();
    if (!monitors) return std::nullopt;
    std::vector<MonitorRect> rects;
    for (const MutterMonitor& monitor : *monitors) rects.push_back(monitor.rect);
    return captureDisplaysFrom(rects);
  });
}

std::optional<Image> ScreenCastCapture::captureDisplay(std::uint32_t displayId, int width, int height) {
  return captureOf(displayId, std::nullopt, width, height);
}

std::optional<Image> ScreenCastCapture::captureArea(std::uint32_t displayId, const CaptureArea& area, int width,
                                                    int height) {
  return captureOf(displayId, area, width, height);
}

std::optional<Image> ScreenCastCapture::captureOf(std::uint32_t displayId, const std::optional<CaptureArea>& area,
                                                  int width, int height) {
  if (!pictureSizeUsable(width, height)) return std::nullopt;
  return session_.with([&](Session& session) -> std::optional<Image> {
    const std::optional<std::vector<MutterMonitor>> monitors = session.monitors();
    if (!monitors || displayId == 0 || displayId > monitors->size()) return std::nullopt;
    const MutterMonitor& monitor = (*monitors)[displayId - 1];
    if (area && !areaWithin(*area, monitor.rect.width, monitor.rect.height)) return std::nullopt;
    session.tidy(*monitors);
    PipeWireFrames* frames = session.framesOf(monitor.connector);
    if (!frames) return std::nullopt;
    std::optional<Image> image;
    frames->withFrame(FIRST_FRAME_WAIT, FRESH_WAIT, [&](const FrameView& frame) {
      image = pictureOfFrame(frame, area, monitor.rect.width, monitor.rect.height, {width, height}, session.scaling);
    });
    return image;
  });
}

std::optional<Jpeg> ScreenCastCapture::encodeJpeg(const Image& image, double quality) {
  return encodeJpegPicture(image, quality);
}

}  // namespace kelp::platform::linux_desktop::gnome
