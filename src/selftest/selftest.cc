#include "selftest/selftest.h"

#include <string>
#include <vector>

#include "ax/attributes.h"
#include "ax/node.h"
#include "input/actions.h"
#include "locate/locator.h"
#include "menu/menu.h"
#include "selftest/window.h"

namespace kelp::selftest {
namespace {

locate::Locator locator(std::optional<std::string> role, std::optional<std::string> label,
                        std::optional<std::string> identifier = std::nullopt) {
  locate::Locator found;
  found.role = std::move(role);
  found.label = std::move(label);
  found.identifier = std::move(identifier);
  return found;
}

// The application's windows, with their paths in a walk of it, in its order.
std::vector<std::pair<platform::Element, std::string>> windowsOf(platform::Accessibility& ax,
                                                                 const platform::Element& app) {
  std::vector<std::pair<platform::Element, std::string>> windows;
  const std::vector<platform::Element> children = ax::elementsOf(ax::attr(ax, app, "AXChildren"));
  for (std::size_t i = 0; i < children.size(); ++i) {
    const std::string role = ax::str(ax, children[i], "AXRole");
    if (role == "AXWindow") windows.emplace_back(children[i], "/" + role + "[" + std::to_string(i) + "]");
  }
  return windows;
}

}  // namespace

Json unreadableReport() {
  return Json{{"windows", 0},
              {"elements", 0},
              {"sawButton", false},
              {"sawField", false},
              {"resolvedAndPressed", false},
              {"typed", false},
              {"readBack", ""},
              {"typeRefusedHonestly", false},
              {"lockedStayed", false},
              {"payBlocked", false},
              {"cardBlocked", false},
              {"cardStayedEmpty", true},
              {"menuTop", Json::array()},
              {"menuPressed", false}};
}

Json SelfTest::run() {
  platform::TestWindow& window = os_.testWindow();
  if (!window.canShow() || !window.show(windowSpec())) return unreadableReport();
  for (int round = 0; round < APPEAR_ROUNDS; ++round) window.pump(ROUND_MICROS);

  platform::Accessibility& ax = os_.accessibility();
  const platform::Element app = ax.applicationElement(os_.process().ownPid());
  Json report = unreadableReport();
  const auto windows = windowsOf(ax, app);
  report["windows"] = windows.size();
  const std::vector<ax::Node> walked = ax::walk(ax, app, SELFTEST_WALK_LIMIT);
  report["elements"] = walked.size();
  // The checks act in the window this run showed, the last of the process's:
  // an earlier run's window stays, with controls of the same names.
  std::vector<ax::Node> nodes;
  for (const ax::Node& node : walked) {
    if (!windows.empty() && node.path.starts_with(windows.back().second + "/")) nodes.push_back(node);
  }
  bool sawButton = false;
  bool sawField = false;
  for (const ax::Node& node : nodes) {
    sawButton = sawButton || (node.role == "AXButton" && node.label.find("저장") != std::string::npos);
    sawField = sawField || node.identifier == "name-field" || node.role == "AXTextField";
  }
  report["sawButton"] = sawButton;
  report["sawField"] = sawField;

  // Each check acts through doAction, where the safety gate stands.
  auto act = [&](const std::optional<ax::Node>& node, std::string_view action, std::string_view text) {
    return input::doAction(os_, safety_, *node, action, std::string(text)).ok;
  };
  if (auto save = locate::resolve(nodes, locator("AXButton", "저장하기"))) {
    report["resolvedAndPressed"] = act(save, "click", "");
  }
  if (auto name = locate::resolve(nodes, locator("AXTextField", "파일 이름", "name-field"))) {
    report["typed"] = act(name, "type", NAME_TYPED);
  }
  report["readBack"] = window.controlText(NAME_FIELD);

  std::optional<ax::Node> locked = locate::resolve(nodes, locator("AXStaticText", std::nullopt, "locked-field"));
  if (!locked) locked = locate::resolve(nodes, locator(std::nullopt, std::nullopt, "locked-field"));
  if (locked) {
    report["typeRefusedHonestly"] = !act(locked, "type", LOCKED_TYPED);
    report["lockedStayed"] = window.controlText(LOCKED_LABEL) == LOCKED_TEXT;
  }
  if (auto pay = locate::resolve(nodes, locator("AXButton", "결제하기"))) {
    report["payBlocked"] = !act(pay, "click", "");
  }
  if (auto card = locate::resolve(nodes, locator("AXTextField", "카드번호"))) {
    report["cardBlocked"] = !act(card, "type", CARD_TYPED);
  }
  report["cardStayedEmpty"] = window.controlText(CARD_FIELD).empty();

  const platform::Value barValue = ax::attr(ax, app, "AXMenuBar");
  if (const platform::Element* bar = barValue.as<platform::Element>()) {
    Json top = Json::array();
    for (const Json& item : menu::menuList(ax, *bar, true)) {
      if (item.contains("label") && item["label"].is_string()) top.push_back(item["label"]);
    }
    report["menuTop"] = std::move(top);
    const menu::FollowResult followed =
        menu::menuFollow(os_, *bar, {std::string(EXPORT_MENU), std::string(EXPORT_ITEM)});
    const locate::GateStep choice{.kind = locate::GateStep::Kind::menuChoice};
    const bool allowed =
        !locate::gateRefuses(safety_, [&] { return locate::gateTarget(ax, followed.node); }, choice);
    if (!followed.error && allowed) {
      ax.performAction(followed.node, "AXPress");
      for (int round = 0; round < MENU_ROUNDS; ++round) window.pump(ROUND_MICROS);
      report["menuPressed"] = window.itemChosen();
    }
  }
  return report;
}

}  // namespace kelp::selftest
