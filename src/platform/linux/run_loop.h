// The main run loop on Linux: GLib's default main context, which is also
// where libatspi's D-Bus connections deliver and where later event sources
// (the XRecord descriptor) attach.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "platform/linux/handles.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

class GlibRunLoop final : public RunLoop {
 public:
  GlibRunLoop();
  ~GlibRunLoop() override;
  GlibRunLoop(const GlibRunLoop&) = delete;
  GlibRunLoop& operator=(const GlibRunLoop&) = delete;

  void run() override;
  void stop() override;
  void runSync(std::function<void()> task) override;
  TimerId addTimer(std::int64_t delayMicros, std::function<void()> fire) override;
  void cancelTimer(TimerId id) override;

  // Called by a timer's source when it is due.
  void fireTimer(TimerId id);

 private:
  static gboolean quitIfStopped(gpointer self);

  GMainContext* context_;  // the default context; GLib owns it
  GMainLoopOwner loop_;

  std::mutex mutex_;
  bool stopRequested_ = false;
  GSourceOwner stopSource_;  // the queued quit, while one is queued
  struct Timer {
    GSourceOwner source;
    std::function<void()> fire;
  };
  std::map<TimerId, Timer> timers_;
  // Removes a timer from the table and hands it over; none when it is gone.
  std::optional<Timer> takeTimer(TimerId id);
  TimerId nextTimer_ = 1;
};

}  // namespace kelp::platform::linux_desktop
