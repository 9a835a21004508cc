// What the recorder reads of the desktop as it decides what an input event
// meant: the element under a point, the frontmost application, the focused
// field, and an element's state when a field or a drag ends. The recorder's
// decisions go through this and nothing else, so that they can be tested
// with scripted answers; DesktopView answers from the accessibility tree.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ax/attributes.h"
#include "common/json.h"
#include "platform/platform.h"

namespace kelp::recorder {

// An element as recordings name it.
struct Described {
  platform::Element element;
  std::string app;         // the application that owns it
  std::string role;        // "AXRole"
  std::string label;       // labelFull, cut to LABEL_CLIP characters
  std::string identifier;  // "AXIdentifier"
  // {"role", "label", "identifier", "window"}: a locator "act" resolves.
  Json locator;
};

struct FrontApp {
  platform::Pid pid = 0;
  std::string name;  // "" when it has none
  bool own = false;  // this process
};

// An element's naming as it is now.
struct Naming {
  std::string role;
  std::string label;
  std::string identifier;
};

class RecorderView {
 public:
  virtual ~RecorderView() = default;
  // The element a person meant at `point`: the named element at or above
  // what is there, with the owner of what is there. None where nothing is,
  // or where it belongs to this process.
  virtual std::optional<Described> at(platform::Point point) = 0;
  virtual std::optional<FrontApp> frontmost() = 0;
  // The element that has the keyboard focus in the application `front`,
  // described as itself.
  virtual std::optional<Described> focusedElement(const FrontApp& front) = 0;
  virtual Naming naming(const platform::Element& element) = 0;
  virtual std::string value(const platform::Element& element) = 0;
  virtual std::optional<ax::Frame> frame(const platform::Element& element) = 0;
};

// Answers from the accessibility tree of the desktop.
std::unique_ptr<RecorderView> desktopView(platform::Platform& os, const platform::Element& systemWide);

}  // namespace kelp::recorder
