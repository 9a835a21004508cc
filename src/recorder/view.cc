#include "recorder/view.h"

#include "ax/lookup.h"
#include "text/text.h"

namespace kelp::recorder {
namespace {

class DesktopView final : public RecorderView {
 public:
  DesktopView(platform::Platform& os, platform::Element systemWide) : os_(os), systemWide_(std::move(systemWide)) {}

  std::optional<Described> at(platform::Point point) override {
    std::optional<platform::Pid> fallback;
    if (auto front = os_.workspace().frontmostApplication()) fallback = front->pid;
    const std::optional<platform::Element> hit = ax::elementAt(os_, systemWide_, point, fallback);
    if (!hit) return std::nullopt;
    if (os_.accessibility().pidOf(*hit) == os_.process().ownPid()) return std::nullopt;
    return describe(ax::namedAncestor(os_.accessibility(), *hit), ax::ownerName(os_, *hit));
  }

  std::optional<FrontApp> frontmost() override {
    const std::optional<platform::RunningApp> front = os_.workspace().frontmostApplication();
    if (!front) return std::nullopt;
    return FrontApp{front->pid, front->name.value_or(""), front->pid == os_.process().ownPid()};
  }

  std::optional<Described> focusedElement(const FrontApp& front) override {
    platform::Accessibility& ax = os_.accessibility();
    const platform::Value focused = ax::attr(ax, ax.applicationElement(front.pid), "AXFocusedUIElement");
    const platform::Element* element = focused.as<platform::Element>();
    if (!element) return std::nullopt;
    return describe(*element, front.name);
  }

  Naming naming(const platform::Element& element) override {
    platform::Accessibility& ax = os_.accessibility();
    return {ax::str(ax, element, "AXRole"), clippedLabel(element), ax::str(ax, element, "AXIdentifier")};
  }

  std::string value(const platform::Element& element) override {
    return ax::str(os_.accessibility(), element, "AXValue");
  }

  std::optional<ax::Frame> frame(const platform::Element& element) override {
    return ax::frameOf(os_.accessibility(), element);
  }

 private:
  std::string clippedLabel(const platform::Element& element) {
    return text::firstGraphemes(ax::labelFull(os_.accessibility(), element), ax::LABEL_CLIP);
  }

  Described describe(const platform::Element& element, std::string app) {
    platform::Accessibility& ax = os_.accessibility();
    Described described{element, std::move(app), ax::str(ax, element, "AXRole"), clippedLabel(element),
                        ax::str(ax, element, "AXIdentifier"), Json()};
    described.locator = {{"role", described.role},
                         {"label", described.label},
                         {"identifier", described.identifier},
                         {"window", ax::windowTitleOf(ax, element)}};
    return described;
  }

  platform::Platform& os_;
  platform::Element systemWide_;
};

}  // namespace

std::unique_ptr<RecorderView> desktopView(platform::Platform& os, const platform::Element& systemWide) {
  return std::make_unique<DesktopView>(os, systemWide);
}

}  // namespace kelp::recorder
