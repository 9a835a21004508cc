// The demonstration recorder: while a recording is on, a person's clicks,
// shortcuts, typing into fields, scrolling, drags and application switches
// become event records an agent can replay through "act", "key" and "menu".
// One instance lives for the life of the process, on the main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/json.h"
#include "locate/safety.h"
#include "platform/platform.h"
#include "recorder/view.h"

namespace kelp::recorder {

// The tapped event types: left down and up, right down, left dragged, key
// down, scroll wheel.
inline constexpr std::uint64_t TAP_MASK = 0x40044E;
inline constexpr std::int64_t FOCUS_PROBE_INTERVAL_MICROS = 250000;
inline constexpr std::int64_t SCROLL_QUIET_MICROS = 450000;
inline constexpr double SCROLL_THRESHOLD = 1.0;
inline constexpr std::size_t TYPED_VALUE_CLIP = 400;

class Recorder {
 public:
  Recorder(platform::Platform& os, const locate::SafetyPatterns& safety, std::unique_ptr<RecorderView> view);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Begins a recording that ignores the named applications; true when one
  // is on afterwards. A recording already on stays as it is.
  bool start(std::set<std::string> ignore);
  // Ends the recording, records the pending scroll sum and typing, and
  // gives the events; they stay readable until the next start.
  const Json& stop();
  // Replaces the ignored applications of the running recording; false
  // without one.
  bool setIgnore(std::set<std::string> ignore);

  bool running() const { return running_; }
  const Json& events() const { return events_; }
  const std::vector<std::string>& droppedKeys() const { return droppedKeys_; }

  // Interprets one input event of the person; the event tap calls it.
  void onEvent(const platform::TappedEvent& event);

  // Ends the scroll sum and records it; the quiet timer calls it.
  void flushScroll();

 private:
  struct Field {
    std::string app;
    Json locator;
    platform::Element element;
    std::string before;
  };
  struct Press {
    Described target;
    platform::Point point;
    std::vector<std::string> mods;
  };
  struct ScrollSum {
    std::string app;
    Json locator;
    double dx = 0;
    double dy = 0;
  };

  void leftDown(const platform::TappedEvent& event);
  void leftUp(const platform::TappedEvent& event);
  void rightDown(const platform::TappedEvent& event);
  void keyDown(const platform::TappedEvent& event);
  void scrollWheel(const platform::TappedEvent& event);

  void noteAppSwitch(const std::string& app);
  void forgetForIgnoredApp();
  bool ignored(const std::string& app) const { return ignoreApps_.contains(app); }
  void trackFocusedField();
  void flushField();
  void noteDropped(std::uint16_t code, const std::optional<std::string>& name, const std::vector<std::string>& mods,
                   std::string_view reason);
  void cancelScrollTimer();
  // Appends `record` with its "kind" first and its "at" last.
  void append(const char* kind, Json record);

  platform::Platform& os_;
  const locate::SafetyPatterns& safety_;
  std::unique_ptr<RecorderView> view_;

  Json events_ = Json::array();
  bool running_ = false;
  std::optional<Field> lastField_;
  std::optional<std::int64_t> lastFocusProbeMicros_;
  std::string lastApp_;
  std::vector<std::string> droppedKeys_;
  std::set<std::string> ignoreApps_;
  std::optional<Press> press_;
  bool dragged_ = false;
  std::optional<ScrollSum> scrollSum_;
  std::optional<platform::RunLoop::TimerId> scrollTimer_;
};

}  // namespace kelp::recorder
