// Arbitrary input lines through the request loop's own parsing and the
// dispatcher, on a simulated desktop with windows, menus, fields and the
// controls the safety gate guards. Whatever comes in, each non-empty line
// gets exactly one reply, a single line of JSON.
//
// An input may hold several lines, so that a "tree" can hand out refs that a
// later "act" uses, or a "rec-start" leaves a recording for "rec-stop".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "commands/context.h"
#include "commands/handle.h"
#include "locate/safety.h"
#include "platform/sim/sim_desktop.h"
#include "service/server.h"

namespace kelp {
namespace {

using platform::Element;
using platform::Point;
using platform::Size;

Element control(platform::sim::SimDesktop& sim, const Element& parent, const char* role, const char* title,
                double x, double y) {
  return sim.addElement(parent, role, {{"AXTitle", title}, {"AXPosition", Point{x, y}}, {"AXSize", Size{120, 24}}});
}

void buildScene(platform::sim::SimDesktop& sim) {
  sim.addScreen({.w = 1920, .h = 1080, .main = true});
  sim.captureDisplays = std::vector<platform::CaptureDisplay>{{.id = 1, .width = 1920, .height = 1080}};
  sim.addApp({.pid = 100, .name = "Shop", .bundleId = "org.example.shop", .active = true});
  sim.addApp({.pid = 200, .name = "Notes", .bundleId = "org.example.notes"});
  sim.addWindow({.ownerName = "Shop", .ownerPid = 100, .title = "Checkout"});
  sim.addWindow({.ownerName = "Notes", .ownerPid = 200, .title = "memo"});

  const Element shop = sim.appRoot(100);
  const Element window = sim.addElement(shop, "AXWindow", {{"AXTitle", "Checkout"}, {"AXPosition", Point{0, 0}},
                                                          {"AXSize", Size{800, 600}}});
  const Element name = control(sim, window, "AXTextField", "Name", 10, 10);
  sim.setAttr(name, "AXValue", "");
  const Element card = control(sim, window, "AXTextField", "Card number", 10, 40);
  sim.setAttr(card, "AXValue", "");
  control(sim, window, "AXButton", "결제하기", 10, 70);
  const Element ok = control(sim, window, "AXButton", "OK", 10, 100);
  control(sim, window, "AXCheckBox", "Remember me", 10, 130);
  const Element slider = control(sim, window, "AXSlider", "Volume", 10, 160);
  sim.setAttr(slider, "AXValue", 0.5);
  const Element list = sim.addElement(window, "AXScrollArea", {{"AXPosition", Point{200, 10}},
                                                               {"AXSize", Size{300, 400}}});
  for (int row = 0; row < 12; ++row)
    control(sim, list, "AXStaticText", row % 2 ? "Receipt" : "Order", 210, 10 + 30.0 * row);
  sim.setAttr(shop, "AXFocusedUIElement", name);
  sim.addHitRegion(shop, 10, 100, 120, 24, ok);

  const Element bar = sim.addElement(shop, "AXMenuBar");
  sim.setAttr(shop, "AXMenuBar", bar);
  const Element file = sim.addElement(bar, "AXMenuBarItem", {{"AXTitle", "File"}});
  const Element fileMenu = sim.addElement(file, "AXMenu", {{"AXTitle", "File"}});
  for (const char* title : {"New", "Open…", "Place order", "Quit"})
    sim.addElement(fileMenu, "AXMenuItem", {{"AXTitle", title}});
  const Element recent = sim.addElement(fileMenu, "AXMenuItem", {{"AXTitle", "Recent"}});
  const Element recentMenu = sim.addElement(recent, "AXMenu");
  sim.addElement(recentMenu, "AXMenuItem", {{"AXTitle", "memo.txt"}});

  const Element notes = sim.appRoot(200);
  const Element memo = sim.addElement(notes, "AXWindow", {{"AXTitle", "memo"}});
  const Element text = sim.addElement(memo, "AXTextArea", {{"AXValue", "hello"}});
  sim.setAttr(notes, "AXFocusedUIElement", text);
}

// The process ends on the first broken promise, so that libFuzzer keeps the input.
void require(bool holds) {
  if (!holds) std::abort();
}

}  // namespace
}  // namespace kelp

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelp;
  static const locate::SafetyPatterns patterns = locate::compileSafetyPatterns();

  platform::sim::SimDesktop sim;
  buildScene(sim);
  std::vector<std::string> lines;
  ReplyWriter replies{[&lines](std::string_view line) { lines.emplace_back(line); }};
  Globals globals{sim.accessibility().systemWide(), patterns, {"/usr/local/bin/kelp-cua"}};
  Lasting lasting;
  Context context{sim, replies, globals, lasting};

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  while (start <= input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    std::string line(input.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.clear();
    dispatchLine(context, line, [&context](const Json& request) { handle(context, request); });
    require(lines.size() == (line.empty() ? 0u : 1u));
    for (const std::string& reply : lines) {
      require(reply.find('\n') == std::string::npos);
      require(Json::accept(reply));
    }
    // What the run loop would do between requests: timers and tasks due.
    sim.runPending();
    start = end + 1;
  }
  return 0;
}
