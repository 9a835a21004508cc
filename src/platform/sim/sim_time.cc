// The simulated desktop's time: a virtual clock that sleeps advance, and a
// run loop whose idle time passes at once.
#include "platform/sim/sim_services.h"

#include <algorithm>

namespace kelp::platform::sim {
class SimClock final : public Clock {
 public:
  explicit SimClock(SimDesktop& sim) : sim_(sim) {}
  std::int64_t nowMicros() override { return sim_.now_; }
  void sleepMicros(std::int64_t micros) override {
    if (micros > 0) sim_.advanceTo(sim_.now_ + micros);
  }
  std::int64_t wallMillis() override { return sim_.wallStartMillis + sim_.now_ / 1000; }

 private:
  SimDesktop& sim_;
};

class SimRunLoop final : public RunLoop {
 public:
  explicit SimRunLoop(SimDesktop& sim) : sim_(sim) {}

  void run() override {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(sim_.mutex_);
        // Idle time passes instantly: with nothing queued, the next timer is due.
        sim_.wake_.wait(lock, [&] { return sim_.stopRequested_ || !sim_.tasks_.empty() || !sim_.timers_.empty(); });
        if (sim_.stopRequested_) {
          sim_.stopRequested_ = false;
          return;
        }
        if (!sim_.tasks_.empty()) {
          task = std::move(sim_.tasks_.front());
          sim_.tasks_.pop_front();
        }
      }
      if (task) {
        task();
      } else {
        sim_.fireNextTimer();
      }
    }
  }

  void stop() override {
    std::lock_guard lock(sim_.mutex_);
    sim_.stopRequested_ = true;
    sim_.wake_.notify_all();
  }

  void runSync(std::function<void()> task) override {
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    {
      std::lock_guard lock(sim_.mutex_);
      sim_.tasks_.push_back([&] {
        task();
        std::lock_guard doneLock(doneMutex);
        done = true;
        doneSignal.notify_one();
      });
      sim_.wake_.notify_all();
    }
    std::unique_lock doneLock(doneMutex);
    doneSignal.wait(doneLock, [&] { return done; });
  }

  TimerId addTimer(std::int64_t delayMicros, std::function<void()> fire) override {
    std::lock_guard lock(sim_.mutex_);
    TimerId id = sim_.nextTimer_++;
    sim_.timers_[id] = {sim_.now_ + std::max<std::int64_t>(delayMicros, 0), std::move(fire)};
    sim_.wake_.notify_all();
    return id;
  }

  void cancelTimer(TimerId id) override {
    std::lock_guard lock(sim_.mutex_);
    sim_.timers_.erase(id);
  }

 private:
  SimDesktop& sim_;
};

std::unique_ptr<Clock> makeSimClock(SimDesktop& sim) { return std::make_unique<SimClock>(sim); }

std::unique_ptr<RunLoop> makeSimRunLoop(SimDesktop& sim) { return std::make_unique<SimRunLoop>(sim); }

void SimDesktop::advanceTo(std::int64_t micros) {
  now_ = std::max(now_, micros);
  // Activations and launch completions that fall due as time passes.
  std::vector<Pid> comeForward;
  for (const auto& [pid, due] : activationDue_) {
    if (due <= now_) comeForward.push_back(pid);
  }
  for (Pid pid : comeForward) makeActive(pid);
  std::vector<PendingLaunch> due;
  std::erase_if(pendingLaunches_, [&](PendingLaunch& launch) {
    if (launch.due > now_) return false;
    due.push_back(std::move(launch));
    return true;
  });
  for (PendingLaunch& launch : due) launch.done(launch.ok);
  while (!sceneChanges_.empty() && sceneChanges_.begin()->first <= now_) {
    std::function<void()> change = std::move(sceneChanges_.begin()->second);
    sceneChanges_.erase(sceneChanges_.begin());
    change();
  }
}

void SimDesktop::atTime(std::int64_t micros, std::function<void()> change) {
  sceneChanges_.emplace(micros, std::move(change));
  if (micros <= now_) advanceTo(now_);
}

bool SimDesktop::fireNextTimer() {
  std::function<void()> fire;
  std::int64_t due = 0;
  {
    std::lock_guard lock(mutex_);
    if (timers_.empty()) return false;
    auto next = std::min_element(timers_.begin(), timers_.end(),
                                 [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
    due = next->second.due;
    fire = std::move(next->second.fire);
    timers_.erase(next);
  }
  // Time passes as it does in a sleep: what falls due on the way happens first.
  advanceTo(due);
  fire();
  return true;
}

void SimDesktop::runPending() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      if (!tasks_.empty()) {
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
    }
    if (task) {
      task();
      continue;
    }
    bool due = false;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [id, timer] : timers_) due = due || timer.due <= now_;
    }
    if (!due || !fireNextTimer()) return;
  }
}

void SimDesktop::runFor(std::int64_t micros) {
  const std::int64_t end = now_ + std::max<std::int64_t>(micros, 0);
  for (;;) {
    runPending();
    bool due = false;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [id, timer] : timers_) due = due || timer.due <= end;
    }
    if (!due) break;
    fireNextTimer();
  }
  advanceTo(end);
  runPending();
}

}  // namespace kelp::platform::sim
