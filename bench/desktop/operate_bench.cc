// Request-to-reply time of the operating commands on a real control of the
// GTK widget factory in a private headless desktop, next to the floor that
// their fixed pauses set. Each figure is one request through kelp-cua's
// standard streams; the counters "floor_ms" and "over_floor_ms" say how much
// of it is the prescribed waiting and how much is the helper's own work.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "desktop/harness.h"

namespace {

using kelp::test::DesktopSession;
using kelp::test::HelperSession;
using kelp::test::Json;

constexpr int WALK_LIMIT = 400;
// The after-look of a successful "act" waits 450 ms; "type" checks its value
// write after 60 ms; typing costs 12 ms per 16 UTF-16 units and "typetext"
// lets the field settle for 200 ms.
constexpr double ACT_CLICK_FLOOR_MS = 450;
constexpr double ACT_TYPE_FLOOR_MS = 60 + 450;
constexpr int TYPED_CHARACTERS = 1000;
constexpr double TYPING_FLOOR_MS = (TYPED_CHARACTERS + 15) / 16 * 12;
constexpr double TYPETEXT_SETTLE_MS = 200;

struct Bench {
  std::unique_ptr<DesktopSession> desktop = std::make_unique<DesktopSession>();
  std::unique_ptr<HelperSession> helper;
  Json checkBox;
  Json entry;

  Bench() {
    desktop->startApplication();
    helper = desktop->startHelper();
    Json tree = ask({{"cmd", "tree"}, {"app", "gtk3-widget-factory"}, {"max", WALK_LIMIT}});
    for (const Json& node : tree["result"]["elements"]) {
      if (checkBox.is_null() && node["role"] == "AXCheckBox" && node.value("value", "") == "0" &&
          node.value("enabled", false)) {
        checkBox = node;
      }
      // Disabled copies of the controls accept a value but not the focus.
      if (entry.is_null() && node["role"] == "AXTextField" && node.value("enabled", false) &&
          node.value("path", "").find("AXComboBox") == std::string::npos) {
        entry = node;
      }
    }
    if (checkBox.is_null() || entry.is_null()) throw std::runtime_error("no check box or entry: " + tree.dump());
  }

  Json ask(const Json& request) {
    auto reply = helper->request(request);
    if (!reply) throw std::runtime_error("no reply to " + request.dump());
    return *reply;
  }
};

Bench& bench() {
  static Bench instance;
  return instance;
}

// Times one request per iteration and reports it against `floorMs`.
template <typename MakeRequest>
void timeRequests(benchmark::State& state, double floorMs, MakeRequest makeRequest) {
  Bench& b = bench();
  double totalMs = 0;
  for (auto _ : state) {
    const Json request = makeRequest(b);
    const auto start = std::chrono::steady_clock::now();
    const Json reply = b.ask(request);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    totalMs += std::chrono::duration<double, std::milli>(elapsed).count();
    if (reply.value("ok", false) != true) state.SkipWithError(reply.dump().c_str());
  }
  state.counters["floor_ms"] = floorMs;
  state.counters["over_floor_ms"] = totalMs / static_cast<double>(state.iterations()) - floorMs;
}

void BM_ActClickCheckBox(benchmark::State& state) {
  timeRequests(state, ACT_CLICK_FLOOR_MS, [](Bench& b) {
    return Json{{"cmd", "act"}, {"app", "gtk3-widget-factory"}, {"ref", b.checkBox["ref"]}};
  });
}
BENCHMARK(BM_ActClickCheckBox)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_ActTypeIntoEntry(benchmark::State& state) {
  int round = 0;
  timeRequests(state, ACT_TYPE_FLOOR_MS, [&](Bench& b) {
    return Json{{"cmd", "act"}, {"app", "gtk3-widget-factory"}, {"ref", b.entry["ref"]},
                {"action", "type"}, {"text", "round " + std::to_string(++round)}};
  });
}
BENCHMARK(BM_ActTypeIntoEntry)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// typeUnicode through "typetext": 1,000 characters, half Hangul, into the
// focused entry, whose text is selected first so that it does not grow.
void BM_TypetextThousandCharacters(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < TYPED_CHARACTERS; ++i) text += i % 2 ? "가" : "a";
  Bench& b = bench();
  b.ask({{"cmd", "act"}, {"app", "gtk3-widget-factory"}, {"ref", b.entry["ref"]}, {"action", "focus"}});
  timeRequests(state, TYPING_FLOOR_MS + TYPETEXT_SETTLE_MS, [&](Bench& bb) {
    bb.ask({{"cmd", "key"}, {"key", "a"}, {"mods", {"ctrl"}}});
    return Json{{"cmd", "typetext"}, {"text", text}};
  });
}
BENCHMARK(BM_TypetextThousandCharacters)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
