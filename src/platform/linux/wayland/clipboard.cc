// Reading and setting the clipboard through wlroots' data control.
#include "platform/linux/wayland/clipboard.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace kelp::platform::linux_desktop::wayland {
namespace {

using Clock = std::chrono::steady_clock;

// A reader that takes nothing for this long has given up.
constexpr std::chrono::seconds DELIVERY_STALL{5};

// The types this process offers its text as, all UTF-8: what Wayland
// clients ask for, and what Xwayland turns into X's UTF8_STRING and TEXT.
constexpr const char* OFFERED_TYPES[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING"};
// The types of text read from another program, the best first.
constexpr const char* READ_TYPES[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"};

struct FdOwner {
  int fd = -1;
  ~FdOwner() {
    if (fd >= 0) ::close(fd);
  }
};

// The seam's text is UTF-8; an owner may send anything.
std::string validUtf8(std::string bytes) {
  if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return bytes;
  const GCharOwner valid(g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size())));
  return valid.get();
}

// Writing to a pipe whose reader went away raises SIGPIPE, which ends a
// process that does not ignore it (kelp-cua's entry ignores it; a test or
// another host may not). It is held back on this thread for the write, and
// taken away again where the write raised it.
ssize_t writeWithoutSignal(int fd, const char* data, std::size_t size) {
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  sigset_t pending;
  sigpending(&pending);
  const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  const ssize_t written = ::write(fd, data, size);
  const int error = errno;
  if (written < 0 && error == EPIPE && !pendingBefore) {
    const timespec now{};
    while (sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = error;
  return written;
}

// Writes what the reader takes without waiting; true once all is written or
// the reader is gone.
bool writeAvailable(int fd, const std::string& text, std::size_t& written) {
  while (written < text.size()) {
    const ssize_t count = writeWithoutSignal(fd, text.data() + written, text.size() - written);
    if (count > 0) {
      written += static_cast<std::size_t>(count);
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else {
      return !(count < 0 && errno == EAGAIN);
    }
  }
  return true;
}

}  // namespace

struct WaylandClipboard::Listeners {
  static const wl_registry_listener registry;
  static const zwlr_data_control_device_v1_listener device;
  static const zwlr_data_control_offer_v1_listener offer;
  static const zwlr_data_control_source_v1_listener source;
};

const wl_registry_listener WaylandClipboard::Listeners::registry = {
    .global =
        [](void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
          auto* self = static_cast<WaylandClipboard*>(data);
          // Version 1 has all this needs; version 2 adds the primary selection.
          if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 && !self->manager_) {
            self->manager_ = static_cast<zwlr_data_control_manager_v1*>(
                wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
          }
        },
    .global_remove = [](void*, wl_registry*, std::uint32_t) {},
};

const zwlr_data_control_device_v1_listener WaylandClipboard::Listeners::device = {
    .data_offer =
        [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
          auto* self = static_cast<WaylandClipboard*>(data);
          self->offers_[offer];
          zwlr_data_control_offer_v1_add_listener(offer, &Listeners::offer, self);
        },
    .selection =
        [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
          auto* self = static_cast<WaylandClipboard*>(data);
          if (self->selection_ && self->selection_ != offer) {
            zwlr_data_control_offer_v1_destroy(self->selection_);
            self->offers_.erase(self->selection_);
          }
          self->selection_ = offer;
        },
    .finished =
        [](void* data, zwlr_data_control_device_v1* device) {
          auto* self = static_cast<WaylandClipboard*>(data);
          if (self->selection_) {
            zwlr_data_control_offer_v1_destroy(self->selection_);
            self->offers_.erase(self->selection_);
            self->selection_ = nullptr;
          }
          zwlr_data_control_device_v1_destroy(device);
          if (self->device_ == device) self->device_ = nullptr;
        },
    .primary_selection =
        [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
          auto* self = static_cast<WaylandClipboard*>(data);
          if (!offer) return;
          zwlr_data_control_offer_v1_destroy(offer);
          self->offers_.erase(offer);
        },
};

const zwlr_data_control_offer_v1_listener WaylandClipboard::Listeners::offer = {
    .offer =
        [](void* data, zwlr_data_control_offer_v1* offer, const char* type) {
          auto* self = static_cast<WaylandClipboard*>(data);
          auto it = self->offers_.find(offer);
          if (it != self->offers_.end() && type) it->second.emplace_back(type);
        },
};

const zwlr_data_control_source_v1_listener WaylandClipboard::Listeners::source = {
    // Every offered type is the same UTF-8.
    .send = [](void* data, zwlr_data_control_source_v1* source, const char*,
               std::int32_t fd) { static_cast<WaylandClipboard*>(data)->send(source, fd); },
    .cancelled =
        [](void* data, zwlr_data_control_source_v1* source) {
          auto* self = static_cast<WaylandClipboard*>(data);
          zwlr_data_control_source_v1_destroy(source);
          self->sources_.erase(source);
          if (self->owned_ == source) self->owned_ = nullptr;
        },
};

WaylandClipboard::WaylandClipboard() {
  dropListener_ = connection_.onDrop([this] { forget(); });
}

WaylandClipboard::~WaylandClipboard() {
  connection_.cancelOnDrop(dropListener_);
  for (Delivery& delivery : deliveries_) {
    if (delivery.source) g_source_destroy(delivery.source.get());
    ::close(delivery.fd);
  }
  deliveries_.clear();
  forget();
}

bool WaylandClipboard::ready() {
  wl_display* display = connection_.display();
  if (!display) return false;
  if (generation_ != connection_.generation()) {
    // The objects of an earlier connection went with it (forget).
    generation_ = connection_.generation();
    display_ = display;
    registry_ = wl_display_get_registry(display);
    wl_registry_add_listener(registry_, &Listeners::registry, this);
    watch_.reset(g_unix_fd_source_new(wl_display_get_fd(display), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR)));
    g_source_set_callback(watch_.get(), G_SOURCE_FUNC(&WaylandClipboard::readable), this, nullptr);
    g_source_attach(watch_.get(), g_main_context_get_thread_default());
    if (!connection_.roundtrip()) return false;
  }
  if (!manager_ || !connection_.globals().seat) return false;
  if (!device_) {
    device_ = zwlr_data_control_manager_v1_get_data_device(manager_, connection_.globals().seat);
    zwlr_data_control_device_v1_add_listener(device_, &Listeners::device, this);
    // The device's first event tells the selection there is now.
    if (!connection_.roundtrip()) return false;
  }
  return device_ != nullptr;
}

void WaylandClipboard::forget() {
  if (watch_) g_source_destroy(watch_.get());
  watch_.reset();
  for (const auto& [offer, types] : offers_) zwlr_data_control_offer_v1_destroy(offer);
  offers_.clear();
  selection_ = nullptr;
  for (const auto& [source, text] : sources_) zwlr_data_control_source_v1_destroy(source);
  sources_.clear();
  owned_ = nullptr;
  if (device_) zwlr_data_control_device_v1_destroy(device_);
  device_ = nullptr;
  if (manager_) zwlr_data_control_manager_v1_destroy(manager_);
  manager_ = nullptr;
  if (registry_) wl_registry_destroy(registry_);
  registry_ = nullptr;
}

gboolean WaylandClipboard::readable(gint, GIOCondition, gpointer data) {
  auto* self = static_cast<WaylandClipboard*>(data);
  // Not display(): it would open a new connection where this one broke.
  if (!self->connection_.connected() || self->connection_.generation() != self->generation_) return G_SOURCE_REMOVE;
  wl_display* display = self->display_;
  bool working = true;
  while (wl_display_prepare_read(display) != 0) {
    if (wl_display_dispatch_pending(display) < 0) {
      working = false;
      break;
    }
  }
  // The descriptor is readable, so reading does not wait.
  if (working) working = wl_display_read_events(display) >= 0 && wl_display_dispatch_pending(display) >= 0;
  if (working && wl_display_flush(display) < 0 && errno != EAGAIN) working = false;
  if (!working || wl_display_get_error(display) != 0) {
    self->connection_.drop();
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

void WaylandClipboard::send(zwlr_data_control_source_v1* source, int fd) {
  auto it = sources_.find(source);
  if (it == sources_.end()) {
    ::close(fd);
    return;
  }
  ++readsAsked_;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  Delivery& delivery = deliveries_.emplace_back();
  delivery.clipboard = this;
  delivery.fd = fd;
  delivery.text = it->second;
  if (writeAvailable(fd, *delivery.text, delivery.written)) {
    finish(&delivery);
    return;
  }
  // The rest as the reader takes it; one that stops taking it is dropped
  // when its source comes due without the pipe being writable.
  delivery.source.reset(g_unix_fd_source_new(fd, static_cast<GIOCondition>(G_IO_OUT | G_IO_HUP | G_IO_ERR)));
  g_source_set_callback(delivery.source.get(), G_SOURCE_FUNC(&WaylandClipboard::writable), &delivery, nullptr);
  g_source_set_ready_time(delivery.source.get(),
                          g_get_monotonic_time() + std::chrono::microseconds(DELIVERY_STALL).count());
  g_source_attach(delivery.source.get(), g_main_context_get_thread_default());
}

gboolean WaylandClipboard::writable(gint fd, GIOCondition condition, gpointer data) {
  auto* delivery = static_cast<Delivery*>(data);
  if (condition == 0) {
    delivery->clipboard->finish(delivery);
    return G_SOURCE_REMOVE;
  }
  if (writeAvailable(fd, *delivery->text, delivery->written)) {
    delivery->clipboard->finish(delivery);
    return G_SOURCE_REMOVE;
  }
  g_source_set_ready_time(delivery->source.get(),
                          g_get_monotonic_time() + std::chrono::microseconds(DELIVERY_STALL).count());
  return G_SOURCE_CONTINUE;
}

void WaylandClipboard::finish(Delivery* delivery) {
  ::close(delivery->fd);
  if (delivery->source) g_source_destroy(delivery->source.get());
  deliveries_.remove_if([&](const Delivery& d) { return &d == delivery; });
}

std::optional<std::string> WaylandClipboard::text() {
  // The round trip brings any news first: another program may have taken
  // the clipboard a moment ago.
  if (!ready() || !connection_.roundtrip()) return std::nullopt;
  // This process's own offer is never asked for through the compositor:
  // the answer would have to come from this very thread.
  if (owned_) {
    auto own = sources_.find(owned_);
    if (own == sources_.end()) return std::nullopt;
    return *own->second;
  }
  if (!selection_) return std::nullopt;
  const std::vector<std::string>& offered = offers_[selection_];
  for (const char* type : READ_TYPES) {
    if (std::find(offered.begin(), offered.end(), type) != offered.end()) return read(selection_, type);
  }
  return std::nullopt;
}

std::optional<std::string> WaylandClipboard::read(zwlr_data_control_offer_v1* offer, const std::string& type) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  const FdOwner readEnd{ends[0]};
  {
    // The request carries a copy of the descriptor; the owner's end must be
    // the only one left, or the end of the text would never show.
    const FdOwner writeEnd{ends[1]};
    zwlr_data_control_offer_v1_receive(offer, type.c_str(), writeEnd.fd);
    if (!connection_.flush()) return std::nullopt;
  }
  std::string text;
  const auto start = Clock::now();
  auto deadline = start + ANSWER_WAIT;
  for (;;) {
    const auto now = Clock::now();
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(std::min(deadline, start + READ_WAIT) - now);
    if (left.count() <= 0) return std::nullopt;
    pollfd pipe{readEnd.fd, POLLIN, 0};
    const int ready = ::poll(&pipe, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    constexpr std::size_t PIECE = 1 << 16;
    const std::size_t had = text.size();
    text.resize(had + PIECE);
    const ssize_t count = ::read(readEnd.fd, text.data() + had, PIECE);
    text.resize(had + static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return std::nullopt;
    }
    if (text.size() > MAX_READ) return std::nullopt;
    deadline = Clock::now() + ANSWER_WAIT;
  }
  return validUtf8(std::move(text));
}

bool WaylandClipboard::setText(const std::string& text) {
  if (!ready()) return false;
  zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(manager_);
  zwlr_data_control_source_v1_add_listener(source, &Listeners::source, this);
  for (const char* type : OFFERED_TYPES) zwlr_data_control_source_v1_offer(source, type);
  sources_[source] = std::make_shared<const std::string>(text);
  zwlr_data_control_device_v1_set_selection(device_, source);
  owned_ = source;
  // An offer the compositor does not take comes back cancelled.
  return connection_.roundtrip() && owned_ == source;
}

}  // namespace kelp::platform::linux_desktop::wayland
