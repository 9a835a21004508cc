// One connection to the Wayland compositor that WAYLAND_DISPLAY names (a
// socket name in XDG_RUNTIME_DIR or an absolute path), with the globals the
// backend uses bound. Each instance belongs to one thread: the main thread's
// serves input, screen capture opens one of its own.
//
// A connection that breaks (the compositor went away, or stopped answering)
// is dropped at once and opened anew at the next use. Whoever made objects
// on it destroys them when told by onDrop, while that is still possible,
// and learns from generation() that a new connection has none of them.
#pragma once

#include <wayland-client.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/linux/wayland/layout.h"

struct zwp_virtual_keyboard_manager_v1;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_screencopy_manager_v1;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct zwlr_foreign_toplevel_manager_v1_listener;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct org_kde_kwin_fake_input;

namespace kelp::platform::linux_desktop::wayland {

// How long the compositor may take to answer before it counts as gone.
inline constexpr std::chrono::milliseconds ANSWER_WAIT{3000};

// Lets libwayland's complaints go nowhere: nothing of this process may write
// to standard error. Called by every connection before it connects; the
// handler is process-wide.
void silenceWaylandLog();

class WaylandConnection {
 public:
  // Globals of the connection, null where the compositor does not offer them.
  struct Globals {
    wl_seat* seat = nullptr;
    wl_shm* shm = nullptr;
    zxdg_output_manager_v1* outputManager = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboards = nullptr;
    zwlr_virtual_pointer_manager_v1* pointers = nullptr;
    zwlr_screencopy_manager_v1* screencopy = nullptr;
    std::uint32_t screencopyVersion = 0;
    zwlr_foreign_toplevel_manager_v1* toplevels = nullptr;
    // KWin's, offered only to programs its desktop entry grants it to.
    org_kde_kwin_fake_input* fakeInput = nullptr;
    std::uint32_t fakeInputVersion = 0;
  };

  struct Output {
    std::uint32_t registryName = 0;
    wl_output* output = nullptr;
    zxdg_output_v1* place = nullptr;
    OutputPlace known;
  };

  WaylandConnection();
  ~WaylandConnection();
  WaylandConnection(const WaylandConnection&) = delete;
  WaylandConnection& operator=(const WaylandConnection&) = delete;

  // The connection, opened now if there is none; null when no compositor
  // answers (or WAYLAND_DISPLAY is unset).
  wl_display* display();
  bool available() { return display() != nullptr; }
  // Whether a connection is open now, without opening one.
  bool connected() const { return display_ != nullptr; }
  // Counts the connections opened: objects of an earlier one are gone.
  std::uint64_t generation() const { return generation_; }
  const Globals& globals() const { return globals_; }
  const std::vector<std::unique_ptr<Output>>& outputs() const { return outputs_; }

  // The outputs' places after a roundtrip, so changes are seen; none
  // without a compositor.
  std::optional<std::vector<MonitorRect>> monitors();
  // The outputs behind the last monitors(), in its order.
  std::vector<wl_output*> monitorOutputs() const;

  // Sends what is queued; false (and the connection dropped) when it broke.
  bool flush();
  // Sends what is queued and waits until the compositor has handled it,
  // dispatching what it sends meanwhile; false (and dropped) when it broke
  // or did not answer within ANSWER_WAIT.
  bool roundtrip();
  // Dispatches events until `done()` holds; false (and dropped) as above.
  bool dispatchUntil(const std::function<bool()>& done, std::chrono::milliseconds wait = ANSWER_WAIT);

  // Drops the connection now; the next use opens a new one.
  void drop();

  // `beforeDrop` runs whenever the connection is about to go, while objects
  // made on it can still be destroyed; until cancelled by the id returned.
  std::uint64_t onDrop(std::function<void()> beforeDrop);
  void cancelOnDrop(std::uint64_t id);

  // `announced` gets each toplevel window the compositor announces, and
  // owns its handle (it must add a listener at once); without one the
  // handles are destroyed as they come. The manager announces every window
  // as soon as it is bound, so this is set before the connection opens: set
  // on an open one, it drops it, and the next opens with all windows.
  void onToplevel(std::function<void(zwlr_foreign_toplevel_handle_v1*)> announced);

 private:
  static const wl_registry_listener REGISTRY_LISTENER;
  static const zwlr_foreign_toplevel_manager_v1_listener TOPLEVEL_LISTENER;
  void onGlobal(std::uint32_t name, const char* interface, std::uint32_t version);
  void onGlobalRemove(std::uint32_t name);
  bool open();
  // dispatchUntil without dropping the connection when it fails.
  bool wait(const std::function<bool()>& done, std::chrono::milliseconds wait);
  void addOutput(std::uint32_t name, std::uint32_t version);
  void watchPlace(Output& output);
  bool flushUntil(std::chrono::steady_clock::time_point deadline);

  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  Globals globals_;
  std::vector<std::unique_ptr<Output>> outputs_;
  std::uint64_t generation_ = 0;
  std::vector<std::pair<std::uint64_t, std::function<void()>>> dropListeners_;
  std::uint64_t nextDropListener_ = 1;
  std::function<void(zwlr_foreign_toplevel_handle_v1*)> toplevelAnnounced_;
};

}  // namespace kelp::platform::linux_desktop::wayland
