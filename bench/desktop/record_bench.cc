// The recorder against the GTK widget factory in a private headless desktop:
//  - BM_PressAndReleaseOnAButton: how long the recorder takes to interpret a
//    left press and its release on a button (the hit test, the naming of
//    the element and its window, the record), called in this process over
//    the Linux backend, as the event tap calls it;
//  - BM_LagBehindFiftyClicks: how long after a burst of 50 clicks, made by
//    xdotool in one go, the built kelp-cua's recording holds all of them.
// Run with --benchmark_repetitions=N for medians.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "desktop/harness.h"
#include "locate/safety.h"
#include "platform/platform.h"
#include "recorder/recorder.h"

namespace {

using kelp::test::DesktopSession;
using kelp::test::HelperSession;
using kelp::test::Json;
namespace type = kelp::platform::eventType;

constexpr int CLICKS = 50;

struct Bench {
  std::unique_ptr<DesktopSession> desktop = std::make_unique<DesktopSession>();
  std::vector<kelp::platform::Point> buttons;  // centres of "Name" and "Nick"

  Bench() {
    desktop->startApplication();
    auto helper = desktop->startHelper();
    const auto tree = helper->request({{"cmd", "tree"}, {"app", "gtk3-widget-factory"}, {"max", 400}});
    if (!tree) throw std::runtime_error("no tree");
    for (const Json& node : (*tree)["result"]["elements"]) {
      const std::string label = node.value("label", "");
      if (node["role"] == "AXButton" && (label == "Name" || label == "Nick") && node.contains("frame")) {
        const Json& f = node["frame"];
        buttons.push_back({f["x"].get<double>() + f["w"].get<double>() / 2,
                           f["y"].get<double>() + f["h"].get<double>() / 2});
      }
    }
    if (buttons.size() < 2) throw std::runtime_error("no Name and Nick buttons: " + tree->dump());
    // The backend in this process finds the desktop through the environment.
    for (const std::string& entry : desktop->environment().entries()) {
      const std::size_t equals = entry.find('=');
      ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
  }
};

Bench& bench() {
  static Bench instance;
  return instance;
}

void BM_PressAndReleaseOnAButton(benchmark::State& state) {
  Bench& b = bench();
  std::unique_ptr<kelp::platform::Platform> os = kelp::platform::makeDesktopPlatform();
  const kelp::locate::SafetyPatterns safety = kelp::locate::compileSafetyPatterns();
  kelp::recorder::Recorder recorder(*os, safety,
                                    kelp::recorder::desktopView(*os, os->accessibility().systemWide()));
  if (!recorder.start({})) {
    state.SkipWithError("the recording did not start");
    return;
  }
  const kelp::platform::Point at = b.buttons.front();
  for (auto _ : state) {
    recorder.onEvent({.type = type::leftMouseDown, .location = at, .clickState = 1});
    recorder.onEvent({.type = type::leftMouseUp, .location = at, .clickState = 1});
  }
  const Json& events = recorder.stop();
  if (events.empty() || events.back().value("label", "") != "Name") state.SkipWithError(events.dump().c_str());
}
BENCHMARK(BM_PressAndReleaseOnAButton)->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_LagBehindFiftyClicks(benchmark::State& state) {
  Bench& b = bench();
  std::vector<std::string> person;
  for (int i = 0; i < CLICKS; ++i) {
    const kelp::platform::Point at = b.buttons[i % 2];
    for (std::string word : {std::string("mousemove"), std::to_string(static_cast<int>(at.x)),
                             std::to_string(static_cast<int>(at.y)), std::string("click"), std::string("1")}) {
      person.push_back(word);
    }
  }
  for (auto _ : state) {
    std::unique_ptr<HelperSession> helper = b.desktop->startHelper();
    helper->request({{"cmd", "rec-start"}});
    b.desktop->xdotool(person);
    const auto clicked = std::chrono::steady_clock::now();
    std::int64_t count = 0;
    while (count < CLICKS + 1) {
      const auto reply = helper->request({{"cmd", "rec-state"}});
      if (!reply) break;
      count = (*reply)["result"].value("count", 0);
      if (std::chrono::steady_clock::now() - clicked > std::chrono::seconds(30)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - clicked).count());
    helper->request({{"cmd", "rec-stop"}});
    helper->finish();
    if (count < CLICKS + 1) state.SkipWithError(("only " + std::to_string(count) + " records").c_str());
  }
}
BENCHMARK(BM_LagBehindFiftyClicks)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
