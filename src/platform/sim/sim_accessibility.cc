// The simulated desktop's accessibility: element trees and the scenes built
// from them.
#include "platform/sim/sim_services.h"

#include <algorithm>
#include <set>

#include "text/text.h"

namespace kelp::platform::sim {
namespace {

class SimElement final : public ElementImpl {
 public:
  explicit SimElement(std::uint64_t id) : id(id) {}
  bool sameAs(const ElementImpl& other) const override {
    auto* sim = dynamic_cast<const SimElement*>(&other);
    return sim && sim->id == id;
  }
  std::uint64_t id;
};

std::uint64_t idOf(const Element& element) {
  auto* sim = dynamic_cast<const SimElement*>(element.impl());
  return sim ? sim->id : 0;
}

}  // namespace

class SimAccessibility final : public Accessibility {
 public:
  explicit SimAccessibility(SimDesktop& sim) : sim_(sim) {}
  bool isTrusted() override { return sim_.trusted; }
  bool promptForTrust() override {
    ++sim_.promptCount;
    if (sim_.grantTrustOnPrompt) sim_.trusted = true;
    return sim_.trusted;
  }
  Element systemWide() override { return sim_.systemWide_; }
  Element applicationElement(Pid pid) override {
    auto it = sim_.appElements_.find(pid);
    if (it != sim_.appElements_.end()) return it->second;
    Element element = sim_.makeElement(pid);
    sim_.setAttr(element, "AXRole", "AXApplication");
    sim_.appElements_[pid] = element;
    return element;
  }
  Value copyAttribute(const Element& element, const std::string& name) override {
    if (sim_.snapshotsOpen > 0) sim_.snapshotReads.emplace_back(element, name);
    auto* data = sim_.find(element);
    if (!data) return {};
    auto it = data->attributes.find(name);
    return it == data->attributes.end() ? Value{} : it->second;
  }
  bool setAttribute(const Element& element, const std::string& name, const Value& value) override {
    auto* data = sim_.find(element);
    if (!data) return false;
    sim_.writes.emplace_back(name, value);
    if (data->refused.count(name)) return false;
    data->attributes[name] = value;
    if (name == "AXFocused" && value.as<bool>() && *value.as<bool>()) focus(element, data->pid);
    if (name == "AXFrontmost" && value.as<bool>() && *value.as<bool>()) sim_.workspace().activate(data->pid);
    // A copy, so that an answer may replace itself.
    if (auto answer = data->afterWrite) answer(name);
    return true;
  }
  bool performAction(const Element& element, const std::string& action) override {
    auto* data = sim_.find(element);
    if (!data) return false;
    sim_.actions.emplace_back(element, action);
    if (data->refused.count(action)) return false;
    // Pressing a text field puts the cursor in it, as clicking would.
    if (action == "AXPress") {
      auto role = data->attributes.find("AXRole");
      const std::string* name = role == data->attributes.end() ? nullptr : role->second.as<std::string>();
      if (name && (*name == "AXTextField" || *name == "AXTextArea" || *name == "AXSearchField")) {
        focus(element, data->pid);
      }
    }
    // A copy, so that an answer may replace itself.
    if (auto answer = data->answer) answer(action);
    return true;
  }
  std::optional<Element> elementAtPosition(const Element& root, float x, float y) override {
    if (!sim_.find(root)) return std::nullopt;
    for (auto it = sim_.hitRegions_.rbegin(); it != sim_.hitRegions_.rend(); ++it) {
      if (it->root == root && x >= it->x && y >= it->y && x < it->x + it->w && y < it->y + it->h &&
          sim_.find(it->hit)) {
        return it->hit;
      }
    }
    return std::nullopt;
  }
  bool pressHoldsApplication(const Element& element) override {
    auto* data = sim_.find(element);
    return data && sim_.pressesHoldApplication.count(data->pid);
  }
  bool answering(const Element& element) override {
    auto* data = sim_.find(element);
    return !data || !sim_.busy.count(data->pid);
  }
  std::optional<Pid> pidOf(const Element& element) override {
    auto* data = sim_.find(element);
    if (!data) return std::nullopt;
    return data->pid;
  }
  void beginSnapshot(const ReadPlan& plan) override {
    ++sim_.snapshotsBegun;
    ++sim_.snapshotsOpen;
    sim_.snapshotPlan = plan;
  }
  void endSnapshot() override { --sim_.snapshotsOpen; }

 private:
  void focus(const Element& element, Pid pid) { sim_.setAttr(applicationElement(pid), "AXFocusedUIElement", element); }
  SimDesktop& sim_;
};

std::unique_ptr<Accessibility> makeSimAccessibility(SimDesktop& sim) { return std::make_unique<SimAccessibility>(sim); }

Element SimDesktop::makeElement(Pid pid) {
  std::uint64_t id = nextElement_++;
  elements_[id].pid = pid;
  return Element(std::make_shared<SimElement>(id));
}

void SimDesktop::setAttr(const Element& element, const std::string& name, Value value) {
  if (auto* data = find(element)) data->attributes[name] = std::move(value);
}

Element SimDesktop::addChild(const Element& parent, std::vector<std::pair<std::string, Value>> attributes) {
  ElementData* parentData = find(parent);
  Element child = makeElement(parentData ? parentData->pid : 0);
  for (auto& [name, value] : attributes) setAttr(child, name, std::move(value));
  setAttr(child, "AXParent", parent);
  if ((parentData = find(parent))) {
    Value& children = parentData->attributes["AXChildren"];
    if (!children.as<ValueList>()) children = ValueList{};
    std::get<ValueList>(children).push_back(child);
  }
  return child;
}

Element SimDesktop::addElement(const Element& parent, std::string role,
                               std::vector<std::pair<std::string, Value>> attributes) {
  attributes.emplace_back("AXRole", std::move(role));
  return addChild(parent, std::move(attributes));
}

Element SimDesktop::appRoot(Pid pid) { return accessibility().applicationElement(pid); }

void SimDesktop::addHitRegion(const Element& root, double x, double y, double w, double h, const Element& hit) {
  hitRegions_.push_back({root, x, y, w, h, hit});
}

void SimDesktop::refuse(const Element& element, const std::string& writeOrAction) {
  if (auto* data = find(element)) data->refused.insert(writeOrAction);
}

void SimDesktop::onWrite(const Element& element, std::function<void(const std::string&)> answer) {
  if (auto* data = find(element)) data->afterWrite = std::move(answer);
}

void SimDesktop::onAction(const Element& element, std::function<void(const std::string&)> answer) {
  if (auto* data = find(element)) data->answer = std::move(answer);
}

void SimDesktop::onTyping(const Element& element, TypingRule rule) {
  if (auto* data = find(element)) data->typing = std::move(rule);
}

SimDesktop::ElementData* SimDesktop::focusedData() {
  std::optional<RunningApp> front = workspace().frontmostApplication();
  if (!front) return nullptr;
  Value target = accessibility().copyAttribute(appRoot(front->pid), "AXFocusedUIElement");
  const Element* element = target.as<Element>();
  return element ? find(*element) : nullptr;
}

void SimDesktop::typeAtFocus(const std::u16string& text) {
  ElementData* data = focusedData();
  if (!data) return;
  // What holds no text and is no text field takes none (a spreadsheet,
  // whose cells take what is typed).
  static const std::set<std::string> TEXT_ROLES = {"AXTextField", "AXTextArea", "AXSearchField",
                                                    "AXSecureTextField", "AXComboBox"};
  const std::string* role = data->attributes["AXRole"].as<std::string>();
  if (!data->typing && !data->attributes.count("AXValue") && (!role || !TEXT_ROLES.count(*role))) return;
  const std::string typed = text::fromUtf16(text);
  const std::string* current = data->attributes["AXValue"].as<std::string>();
  const std::string value = current ? *current : std::string();
  auto selection = data->attributes.find("AXSelectedTextRange");
  if (data->typing) {
    data->attributes["AXValue"] = data->typing(value, typed);
  } else if (selection != data->attributes.end()) {
    if (const TextRange* range = selection->second.as<TextRange>()) {
      std::u16string units = text::toUtf16(value);
      const std::size_t from = std::min<std::size_t>(static_cast<std::size_t>(range->location), units.size());
      const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(range->length), units.size() - from);
      units.replace(from, count, text);
      data->attributes["AXValue"] = text::fromUtf16(units);
    }
  } else {
    data->attributes["AXValue"] = value + typed;
  }
  if (selection != data->attributes.end()) data->attributes.erase(selection);
}

void SimDesktop::selectAllAtFocus() {
  if (ElementData* data = focusedData()) data->attributes["AXSelectedTextRange"] = TextRange{0, 1 << 30};
}

void SimDesktop::remove(const Element& element) {
  if (auto* data = find(element)) data->removed = true;
}

SimDesktop::ElementData* SimDesktop::find(const Element& element) {
  auto it = elements_.find(idOf(element));
  if (it == elements_.end() || it->second.removed) return nullptr;
  return &it->second;
}

}  // namespace kelp::platform::sim
