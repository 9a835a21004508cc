// A simulated desktop with a reply writer that collects lines, for running
// requests through the core exactly as the process would.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "commands/context.h"
#include "commands/handle.h"
#include "platform/sim/sim_desktop.h"

namespace kelp::test {

class CommandFixture : public ::testing::Test {
 protected:
  // Runs one request and returns its one reply, parsed.
  Json run(const Json& request) {
    lines.clear();
    handle(context, request);
    EXPECT_EQ(lines.size(), 1u) << "every request gets exactly one reply";
    if (lines.empty()) return nullptr;
    return Json::parse(lines.back());
  }
  Json run(const char* requestText) { return run(Json::parse(requestText)); }

  platform::sim::SimDesktop sim;
  std::vector<std::string> lines;
  ReplyWriter replies{[this](std::string_view line) { lines.emplace_back(line); }};
  Globals globals{sim.accessibility().systemWide(), locate::compileSafetyPatterns(), {"/usr/local/bin/kelp-cua"}};
  Lasting lasting;
  Context context{sim, replies, globals, lasting};
};

}  // namespace kelp::test
