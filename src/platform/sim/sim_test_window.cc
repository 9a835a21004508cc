// The simulated desktop's rendering of the self-test's window: elements of
// this process's own application.
#include <vector>

#include "platform/sim/sim_services.h"

namespace kelp::platform::sim {
namespace {

class SimTestWindow final : public TestWindow {
 public:
  explicit SimTestWindow(SimDesktop& sim) : sim_(sim) {}

  bool canShow() override { return sim_.testWindowShows; }

  bool show(const TestWindowSpec& spec) override {
    if (!sim_.testWindowShows) return false;
    ++sim_.testWindowsShown;
    chosen_ = false;
    const Element app = sim_.appRoot(sim_.ownPid);
    const Point origin = sim_.testWindowOrigin;
    const Element window = sim_.addElement(app, "AXWindow", {{"AXTitle", spec.title},
                                                            {"AXPosition", origin},
                                                            {"AXSize", Size{spec.width, spec.height}}});
    controls_.clear();
    for (const TestControl& control : spec.controls) {
      if (!control.identifier.empty() && sim_.testWindowOmits.contains(control.identifier)) {
        controls_.emplace_back();
        continue;
      }
      controls_.push_back(addControl(window, control, origin));
    }
    if (sim_.testWindowHasMenuBar) addMenuBar(app, spec.menus);
    return true;
  }

  void pump(std::int64_t micros) override { sim_.runFor(micros); }

  std::string controlText(std::size_t index) override {
    if (index >= controls_.size() || !controls_[index]) return "";
    const Value value = sim_.accessibility().copyAttribute(controls_[index], "AXValue");
    const std::string* text = value.as<std::string>();
    return text ? *text : "";
  }

  bool itemChosen() override { return chosen_; }

 private:
  Element addControl(const Element& window, const TestControl& control, Point origin) {
    std::vector<std::pair<std::string, Value>> attributes{
        {"AXPosition", Point{origin.x + control.x, origin.y + control.y}}, {"AXSize", Size{control.w, control.h}}};
    if (!control.identifier.empty()) attributes.emplace_back("AXIdentifier", control.identifier);
    switch (control.kind) {
      case TestControl::Kind::button:
        attributes.emplace_back("AXTitle", control.text);
        return sim_.addElement(window, "AXButton", std::move(attributes));
      case TestControl::Kind::textField:
        attributes.emplace_back("AXPlaceholderValue", control.placeholder);
        attributes.emplace_back("AXValue", "");
        return sim_.addElement(window, "AXTextField", std::move(attributes));
      case TestControl::Kind::label: {
        attributes.emplace_back("AXValue", control.text);
        const Element label = sim_.addElement(window, "AXStaticText", std::move(attributes));
        sim_.refuse(label, "AXValue");
        sim_.refuse(label, "AXFocused");
        return label;
      }
    }
    return {};
  }

  void addMenuBar(const Element& app, const std::vector<TestMenu>& menus) {
    const Element bar = sim_.addElement(app, "AXMenuBar");
    sim_.setAttr(app, "AXMenuBar", bar);
    for (const TestMenu& menu : menus) {
      const Element top = sim_.addElement(bar, "AXMenuBarItem", {{"AXTitle", menu.title}});
      const Element items = sim_.addElement(top, "AXMenu", {{"AXTitle", menu.title}});
      for (const std::string& title : menu.items) {
        const Element item = sim_.addElement(items, "AXMenuItem", {{"AXTitle", title}});
        sim_.onAction(item, [this](const std::string& action) { chosen_ = chosen_ || action == "AXPress"; });
      }
    }
  }

  SimDesktop& sim_;
  std::vector<Element> controls_;
  bool chosen_ = false;
};

}  // namespace

std::unique_ptr<TestWindow> makeSimTestWindow(SimDesktop& sim) { return std::make_unique<SimTestWindow>(sim); }

}  // namespace kelp::platform::sim
