// The one session a screen-capture backend keeps with its display server
// (an X connection, a Wayland one), shared by calls from any thread. The
// core captures on a thread of its own, possibly still running after the
// main thread stopped waiting for it, so the session is the capture's alone
// and touches nothing of the main thread's.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

// Far beyond any picture the core asks for; larger requests are refused
// rather than allocated.
inline constexpr std::int64_t MAX_PICTURE_PIXELS = std::int64_t{1} << 24;

inline bool pictureSizeUsable(int width, int height) {
  return width > 0 && height > 0 && static_cast<std::int64_t>(width) * height <= MAX_PICTURE_PIXELS;
}

// Whether `area` is a part of a display `width` x `height` points in size.
inline bool areaWithin(const CaptureArea& area, int width, int height) {
  return area.x >= 0 && area.y >= 0 && area.width > 0 && area.height > 0 && area.x <= width - area.width &&
         area.y <= height - area.height;
}

// `Session` is made by the first call and says by `usable()` whether it
// reaches its server now (reconnecting if need be).
template <class Session>
class CaptureSession {
 public:
  CaptureSession() : state_(std::make_shared<State>()) {}

  // `use(session)` while no other call uses the session; none when the
  // session cannot reach its server, or when a capture stuck behind a server
  // that stopped answering holds it past LOCK_WAIT, so that later calls give
  // up instead of piling up. `use` returns an optional and must not touch
  // the owner of this object, which may be gone by the time it runs.
  template <class Use>
  auto with(Use&& use) -> decltype(use(std::declval<Session&>())) {
    // A reference of the call's own keeps the session alive for a capture
    // that outlives the owner.
    const std::shared_ptr<State> state = state_;
    std::unique_lock lock(state->mutex, LOCK_WAIT);
    if (!lock) return std::nullopt;
    if (!state->session) state->session = std::make_unique<Session>();
    if (!state->session->usable()) return std::nullopt;
    return use(*state->session);
  }

 private:
  static constexpr std::chrono::seconds LOCK_WAIT{10};
  struct State {
    std::timed_mutex mutex;
    std::unique_ptr<Session> session;
  };
  std::shared_ptr<State> state_;
};

}  // namespace kelp::platform::linux_desktop
