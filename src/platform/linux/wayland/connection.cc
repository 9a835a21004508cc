// Opening, serving and dropping the Wayland connection, and its globals.
#include "platform/linux/wayland/connection.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "fake-input-client-protocol.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace kelp::platform::linux_desktop::wayland {
namespace {

void discardLog(const char*, va_list) {}

template <typename T>
T* bind(wl_registry* registry, std::uint32_t name, const wl_interface& interface, std::uint32_t offered,
        std::uint32_t wanted) {
  return static_cast<T*>(wl_registry_bind(registry, name, &interface, std::min(offered, wanted)));
}

// Events of wl_output other than done carry what xdg-output says better
// (its logical place already has the scale and transform applied).
const wl_output_listener OUTPUT_LISTENER = {
    .geometry = [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                   const char*, const char*, std::int32_t) {},
    .mode = [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {},
    .done = [](void*, wl_output*) {},
    .scale = [](void*, wl_output*, std::int32_t) {},
    .name = [](void*, wl_output*, const char*) {},
    .description = [](void*, wl_output*, const char*) {},
};

const zxdg_output_v1_listener PLACE_LISTENER = {
    .logical_position =
        [](void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
          auto* output = static_cast<WaylandConnection::Output*>(data);
          output->known.x = x;
          output->known.y = y;
        },
    .logical_size =
        [](void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
          auto* output = static_cast<WaylandConnection::Output*>(data);
          output->known.width = width;
          output->known.height = height;
        },
    .done = [](void*, zxdg_output_v1*) {},
    .name = [](void* data, zxdg_output_v1*, const char* name) {
      static_cast<WaylandConnection::Output*>(data)->known.name = name ? name : "";
    },
    .description = [](void*, zxdg_output_v1*, const char*) {},
};

}  // namespace

const wl_registry_listener WaylandConnection::REGISTRY_LISTENER = {
    .global = [](void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
      static_cast<WaylandConnection*>(data)->onGlobal(name, interface, version);
    },
    .global_remove = [](void* data, wl_registry*, std::uint32_t name) {
      static_cast<WaylandConnection*>(data)->onGlobalRemove(name);
    },
};

const zwlr_foreign_toplevel_manager_v1_listener WaylandConnection::TOPLEVEL_LISTENER = {
    .toplevel =
        [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
          auto* connection = static_cast<WaylandConnection*>(data);
          if (connection->toplevelAnnounced_) {
            connection->toplevelAnnounced_(handle);
          } else {
            zwlr_foreign_toplevel_handle_v1_destroy(handle);
          }
        },
    // The compositor destroyed its side: no window is announced any more.
    .finished =
        [](void* data, zwlr_foreign_toplevel_manager_v1* manager) {
          auto* connection = static_cast<WaylandConnection*>(data);
          zwlr_foreign_toplevel_manager_v1_destroy(manager);
          if (connection->globals_.toplevels == manager) connection->globals_.toplevels = nullptr;
        },
};

void silenceWaylandLog() {
  static std::once_flag once;
  std::call_once(once, [] { wl_log_set_handler_client(discardLog); });
}

WaylandConnection::WaylandConnection() { silenceWaylandLog(); }

WaylandConnection::~WaylandConnection() { drop(); }

wl_display* WaylandConnection::display() {
  if (display_ && wl_display_get_error(display_) != 0) drop();
  if (!display_ && !open()) return nullptr;
  return display_;
}

bool WaylandConnection::open() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  // libwayland would otherwise try "wayland-0": only a named compositor counts.
  if (!name || !*name) return false;
  display_ = wl_display_connect(name);
  if (!display_) return false;
  ++generation_;
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &REGISTRY_LISTENER, this);
  // The first roundtrip binds the globals; the second brings the outputs'
  // places, asked for as each output was bound.
  return roundtrip() && roundtrip();
}

void WaylandConnection::onGlobal(std::uint32_t name, const char* interface, std::uint32_t version) {
  wl_registry* registry = registry_;
  const std::string_view kind(interface);
  if (kind == wl_seat_interface.name && !globals_.seat) {
    globals_.seat = bind<wl_seat>(registry, name, wl_seat_interface, version, 1);
  } else if (kind == wl_shm_interface.name && !globals_.shm) {
    globals_.shm = bind<wl_shm>(registry, name, wl_shm_interface, version, 1);
  } else if (kind == wl_output_interface.name) {
    addOutput(name, version);
  } else if (kind == zxdg_output_manager_v1_interface.name && !globals_.outputManager) {
    globals_.outputManager =
        bind<zxdg_output_manager_v1>(registry, name, zxdg_output_manager_v1_interface, version, 3);
    for (const auto& output : outputs_) watchPlace(*output);
  } else if (kind == zwp_virtual_keyboard_manager_v1_interface.name && !globals_.keyboards) {
    globals_.keyboards =
        bind<zwp_virtual_keyboard_manager_v1>(registry, name, zwp_virtual_keyboard_manager_v1_interface, version, 1);
  } else if (kind == zwlr_virtual_pointer_manager_v1_interface.name && !globals_.pointers) {
    globals_.pointers =
        bind<zwlr_virtual_pointer_manager_v1>(registry, name, zwlr_virtual_pointer_manager_v1_interface, version, 2);
  } else if (kind == zwlr_screencopy_manager_v1_interface.name && !globals_.screencopy) {
    globals_.screencopy =
        bind<zwlr_screencopy_manager_v1>(registry, name, zwlr_screencopy_manager_v1_interface, version, 3);
    globals_.screencopyVersion = std::min<std::uint32_t>(version, 3);
  } else if (kind == zwlr_foreign_toplevel_manager_v1_interface.name && !globals_.toplevels) {
    globals_.toplevels = bind<zwlr_foreign_toplevel_manager_v1>(registry, name,
                                                                 zwlr_foreign_toplevel_manager_v1_interface, version, 3);
    zwlr_foreign_toplevel_manager_v1_add_listener(globals_.toplevels, &TOPLEVEL_LISTENER, this);
  } else if (kind == org_kde_kwin_fake_input_interface.name && !globals_.fakeInput) {
    globals_.fakeInput = bind<org_kde_kwin_fake_input>(registry, name, org_kde_kwin_fake_input_interface, version, 4);
    globals_.fakeInputVersion = std::min<std::uint32_t>(version, 4);
  }
}

void WaylandConnection::onGlobalRemove(std::uint32_t name) {
  std::erase_if(outputs_, [&](const std::unique_ptr<Output>& output) {
    if (output->registryName != name) return false;
    if (output->place) zxdg_output_v1_destroy(output->place);
    if (wl_output_get_version(output->output) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
      wl_output_release(output->output);
    } else {
      wl_output_destroy(output->output);
    }
    return true;
  });
}

void WaylandConnection::addOutput(std::uint32_t name, std::uint32_t version) {
  auto output = std::make_unique<Output>();
  output->registryName = name;
  output->output = bind<wl_output>(registry_, name, wl_output_interface, version, 3);
  wl_output_add_listener(output->output, &OUTPUT_LISTENER, output.get());
  watchPlace(*output);
  outputs_.push_back(std::move(output));
}

void WaylandConnection::watchPlace(Output& output) {
  if (!globals_.outputManager || output.place) return;
  output.place = zxdg_output_manager_v1_get_xdg_output(globals_.outputManager, output.output);
  zxdg_output_v1_add_listener(output.place, &PLACE_LISTENER, &output);
}

std::optional<std::vector<MonitorRect>> WaylandConnection::monitors() {
  if (!display() || !roundtrip()) return std::nullopt;
  // An output that just appeared was bound in this roundtrip; its place
  // comes in the next.
  const bool placesPending = std::any_of(outputs_.begin(), outputs_.end(), [](const std::unique_ptr<Output>& o) {
    return !o->known.x || !o->known.width;
  });
  if (placesPending && globals_.outputManager && !roundtrip()) return std::nullopt;
  std::vector<OutputPlace> places;
  for (const auto& output : outputs_) places.push_back(output->known);
  return monitorsFromOutputs(places);
}

std::vector<wl_output*> WaylandConnection::monitorOutputs() const {
  std::vector<wl_output*> placed;
  for (const auto& output : outputs_) {
    if (isPlaced(output->known)) placed.push_back(output->output);
  }
  return placed;
}

bool WaylandConnection::flushUntil(std::chrono::steady_clock::time_point deadline) {
  while (wl_display_flush(display_) < 0) {
    if (errno != EAGAIN) return false;
    // The socket is full: wait until the compositor has read some of it.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd socket{wl_display_get_fd(display_), POLLOUT, 0};
    const int ready = poll(&socket, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) return false;
    if (ready == 0) return false;
  }
  return true;
}

bool WaylandConnection::flush() {
  if (!display_) return false;
  if (wl_display_get_error(display_) != 0 || !flushUntil(std::chrono::steady_clock::now() + ANSWER_WAIT)) {
    drop();
    return false;
  }
  return true;
}

bool WaylandConnection::dispatchUntil(const std::function<bool()>& done, std::chrono::milliseconds wait) {
  if (!display_) return false;
  if (this->wait(done, wait)) return true;
  drop();
  return false;
}

bool WaylandConnection::wait(const std::function<bool()>& done, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (!done()) {
    if (wl_display_prepare_read(display_) != 0) {
      if (wl_display_dispatch_pending(display_) < 0) return false;
      continue;
    }
    if (!flushUntil(deadline)) {
      wl_display_cancel_read(display_);
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd socket{wl_display_get_fd(display_), POLLIN, 0};
    const int ready = left.count() > 0 ? poll(&socket, 1, static_cast<int>(left.count())) : 0;
    if (ready <= 0) {
      wl_display_cancel_read(display_);
      if (ready < 0 && errno == EINTR) continue;
      return false;
    }
    if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0) return false;
  }
  return true;
}

bool WaylandConnection::roundtrip() {
  if (!display_) return false;
  bool answered = false;
  static const wl_callback_listener SYNC_LISTENER = {
      .done = [](void* data, wl_callback* callback, std::uint32_t) {
        *static_cast<bool*>(data) = true;
        wl_callback_destroy(callback);
      },
  };
  wl_callback* callback = wl_display_sync(display_);
  wl_callback_add_listener(callback, &SYNC_LISTENER, &answered);
  if (wait([&] { return answered; }, ANSWER_WAIT)) return true;
  wl_callback_destroy(callback);
  drop();
  return false;
}

std::uint64_t WaylandConnection::onDrop(std::function<void()> beforeDrop) {
  dropListeners_.emplace_back(nextDropListener_, std::move(beforeDrop));
  return nextDropListener_++;
}

void WaylandConnection::cancelOnDrop(std::uint64_t id) {
  std::erase_if(dropListeners_, [&](const auto& listener) { return listener.first == id; });
}

void WaylandConnection::onToplevel(std::function<void(zwlr_foreign_toplevel_handle_v1*)> announced) {
  toplevelAnnounced_ = std::move(announced);
  if (toplevelAnnounced_ && connected()) drop();
}

void WaylandConnection::drop() {
  if (!display_) return;
  // A copy: a listener may cancel itself.
  const auto listeners = dropListeners_;
  for (const auto& [id, beforeDrop] : listeners) beforeDrop();
  for (const auto& output : outputs_) {
    if (output->place) zxdg_output_v1_destroy(output->place);
    wl_output_destroy(output->output);
  }
  outputs_.clear();
  if (globals_.seat) wl_seat_destroy(globals_.seat);
  if (globals_.shm) wl_shm_destroy(globals_.shm);
  if (globals_.outputManager) zxdg_output_manager_v1_destroy(globals_.outputManager);
  if (globals_.keyboards) zwp_virtual_keyboard_manager_v1_destroy(globals_.keyboards);
  if (globals_.pointers) zwlr_virtual_pointer_manager_v1_destroy(globals_.pointers);
  if (globals_.screencopy) zwlr_screencopy_manager_v1_destroy(globals_.screencopy);
  if (globals_.toplevels) zwlr_foreign_toplevel_manager_v1_destroy(globals_.toplevels);
  if (globals_.fakeInput) org_kde_kwin_fake_input_destroy(globals_.fakeInput);
  globals_ = {};
  if (registry_) wl_registry_destroy(registry_);
  registry_ = nullptr;
  wl_display_disconnect(display_);
  display_ = nullptr;
}

}  // namespace kelp::platform::linux_desktop::wayland
