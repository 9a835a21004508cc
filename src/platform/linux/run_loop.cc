// GLib's main context as the run loop: tasks from other threads and timers.
#include "platform/linux/run_loop.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <utility>

namespace kelp::platform::linux_desktop {
namespace {

// One runSync hand-over. It lives on the waiting thread's stack, which stays
// put until `done` is set.
struct SyncCall {
  std::function<void()>* task;
  std::exception_ptr failure;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
};

gboolean runSyncCall(gpointer data) {
  auto* call = static_cast<SyncCall*>(data);
  // An exception must not unwind through GLib's C frames; it is carried over
  // to the waiting thread instead.
  try {
    (*call->task)();
  } catch (...) {
    call->failure = std::current_exception();
  }
  std::lock_guard lock(call->mutex);
  call->done = true;
  call->finished.notify_one();
  return G_SOURCE_REMOVE;
}

// A one-shot timer is a bare source with a ready time in monotonic
// microseconds, so the delay is not rounded to whole milliseconds the way a
// GLib timeout's is. The poll underneath still wakes in whole milliseconds:
// a timer fires less than a millisecond late, never early.
struct TimerSource {
  GSource base;
  GlibRunLoop* loop;
  RunLoop::TimerId id;
};

gboolean dispatchTimer(GSource* source, GSourceFunc, gpointer) {
  auto* timer = reinterpret_cast<TimerSource*>(source);
  timer->loop->fireTimer(timer->id);
  return G_SOURCE_REMOVE;
}

GSourceFuncs TIMER_FUNCS = {nullptr, nullptr, dispatchTimer, nullptr, nullptr, nullptr};

}  // namespace

GlibRunLoop::GlibRunLoop()
    : context_(g_main_context_default()), loop_(g_main_loop_new(context_, FALSE)) {}

GlibRunLoop::~GlibRunLoop() {
  std::lock_guard lock(mutex_);
  // Sources left in the shared default context must not call back into a
  // destroyed loop.
  if (stopSource_) g_source_destroy(stopSource_.get());
  for (auto& [id, timer] : timers_) g_source_destroy(timer.source.get());
  timers_.clear();
}

void GlibRunLoop::run() {
  {
    std::lock_guard lock(mutex_);
    if (stopRequested_) {
      stopRequested_ = false;
      if (stopSource_) {
        g_source_destroy(stopSource_.get());
        stopSource_.reset();
      }
      return;
    }
  }
  // A stop() from here on has queued a source that quits the loop once it
  // runs, so no request can fall between the check above and the loop.
  g_main_loop_run(loop_.get());
}

void GlibRunLoop::stop() {
  std::lock_guard lock(mutex_);
  stopRequested_ = true;
  if (stopSource_) return;  // one queued quit serves any number of requests
  stopSource_.reset(g_idle_source_new());
  g_source_set_priority(stopSource_.get(), G_PRIORITY_DEFAULT);
  g_source_set_callback(stopSource_.get(), &GlibRunLoop::quitIfStopped, this, nullptr);
  g_source_attach(stopSource_.get(), context_);
}

gboolean GlibRunLoop::quitIfStopped(gpointer data) {
  auto* self = static_cast<GlibRunLoop*>(data);
  std::lock_guard lock(self->mutex_);
  // Dispatched outside run() (someone else iterating the default context),
  // the request stays for run() to see.
  if (g_main_loop_is_running(self->loop_.get()) && self->stopRequested_) {
    self->stopRequested_ = false;
    g_main_loop_quit(self->loop_.get());
  }
  // The context holds its own reference while dispatching.
  self->stopSource_.reset();
  return G_SOURCE_REMOVE;
}

void GlibRunLoop::runSync(std::function<void()> task) {
  SyncCall call{&task, nullptr, {}, {}, false};
  // An explicit source rather than g_main_context_invoke: invoke runs the
  // task on the calling thread whenever it can acquire the context, e.g.
  // before run() has started, and every task belongs on the main thread.
  GSourceOwner source(g_idle_source_new());
  g_source_set_priority(source.get(), G_PRIORITY_DEFAULT);
  g_source_set_callback(source.get(), runSyncCall, &call, nullptr);
  g_source_attach(source.get(), context_);
  {
    std::unique_lock lock(call.mutex);
    call.finished.wait(lock, [&] { return call.done; });
  }
  if (call.failure) std::rethrow_exception(call.failure);
}

RunLoop::TimerId GlibRunLoop::addTimer(std::int64_t delayMicros, std::function<void()> fire) {
  GSource* raw = g_source_new(&TIMER_FUNCS, sizeof(TimerSource));
  GSourceOwner source(raw);
  std::lock_guard lock(mutex_);
  const TimerId id = nextTimer_++;
  auto* timer = reinterpret_cast<TimerSource*>(raw);
  timer->loop = this;
  timer->id = id;
  g_source_set_priority(raw, G_PRIORITY_DEFAULT);
  g_source_set_ready_time(raw, g_get_monotonic_time() + std::max<std::int64_t>(delayMicros, 0));
  timers_[id] = Timer{std::move(source), std::move(fire)};
  // Attached last and under the lock: the timer may fire on the main thread
  // the moment it is attached, and must find itself in the table.
  g_source_attach(raw, context_);
  return id;
}

std::optional<GlibRunLoop::Timer> GlibRunLoop::takeTimer(TimerId id) {
  std::lock_guard lock(mutex_);
  auto it = timers_.find(id);
  if (it == timers_.end()) return std::nullopt;
  Timer timer = std::move(it->second);
  timers_.erase(it);
  return timer;
}

void GlibRunLoop::cancelTimer(TimerId id) {
  std::optional<Timer> timer = takeTimer(id);
  if (!timer) return;
  g_source_destroy(timer->source.get());
  // The callback is dropped here, outside the lock: its captures may own anything.
}

void GlibRunLoop::fireTimer(TimerId id) {
  std::optional<Timer> timer = takeTimer(id);
  if (!timer) return;
  std::function<void()> fire = std::move(timer->fire);
  // Out of the table first, so the callback may add or cancel timers. An
  // exception cannot travel through GLib's C frames, and there is nobody to
  // hand it to, so it ends here.
  try {
    if (fire) fire();
  } catch (...) {
  }
}

}  // namespace kelp::platform::linux_desktop
