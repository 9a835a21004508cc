// The simulated desktop's input: the log of posted events and the event tap.
#include "platform/sim/sim_services.h"

namespace kelp::platform::sim {

class SimEventPoster final : public EventPoster {
 public:
  explicit SimEventPoster(SimDesktop& sim) : sim_(sim) {}
  bool postKey(const KeyEvent& event) override {
    PostedEvent posted{sim_.nowMicros(), PostedEvent::Kind::key, event, {}, {}};
    sim_.posted.push_back(posted);
    if (event.down && !event.unicode.empty()) sim_.typeAtFocus(event.unicode);
    // The desktop's select-all shortcut selects the focused field's text.
    constexpr std::uint16_t KEY_A = 0;
    if (event.down && event.unicode.empty() && event.keyCode == KEY_A && (event.flags & sim_.caps.editingModifier)) {
      sim_.selectAllAtFocus();
    }
    return true;
  }
  bool postMouse(const MouseEvent& event) override {
    PostedEvent posted{sim_.nowMicros(), PostedEvent::Kind::mouse, {}, event, {}};
    sim_.posted.push_back(posted);
    if (sim_.onMouse) sim_.onMouse(event);
    return !sim_.pointerLost;
  }
  bool postScroll(const ScrollEvent& event) override {
    PostedEvent posted{sim_.nowMicros(), PostedEvent::Kind::scroll, {}, {}, event};
    sim_.posted.push_back(posted);
    return !sim_.pointerLost;
  }

 private:
  SimDesktop& sim_;
};

class SimEventTap final : public EventTap {
 public:
  explicit SimEventTap(SimDesktop& sim) : sim_(sim) {}
  bool start(std::uint64_t mask, std::function<void(const TappedEvent&)> onEvent) override {
    if (!sim_.caps.eventTap) return false;
    sim_.tapMask_ = mask;
    sim_.tapHandler_ = std::move(onEvent);
    return true;
  }
  void stop() override {
    sim_.tapHandler_ = nullptr;
    sim_.tapMask_ = 0;
  }
  std::optional<Point> pointerLocation() override { return sim_.pointer; }

 private:
  SimDesktop& sim_;
};

std::unique_ptr<EventPoster> makeSimEventPoster(SimDesktop& sim) { return std::make_unique<SimEventPoster>(sim); }

std::unique_ptr<EventTap> makeSimEventTap(SimDesktop& sim) { return std::make_unique<SimEventTap>(sim); }

void SimDesktop::scheduleTapEvent(std::int64_t afterMicros, const TappedEvent& event) {
  runLoop().addTimer(afterMicros, [this, event] { deliverTapEvent(event); });
}

bool SimDesktop::deliverTapEvent(const TappedEvent& event) {
  const bool wanted = event.type >= 0 && event.type < 64 && ((tapMask_ >> event.type) & 1u);
  if (!tapHandler_ || !wanted) return false;
  // A copy, so that the handler may stop the tap.
  auto handler = tapHandler_;
  handler(event);
  return true;
}

}  // namespace kelp::platform::sim
