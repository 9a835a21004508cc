// The self-test: the helper shows a window of its own and operates it
// through accessibility with the same code that serves other applications
// (walk, resolve, doAction, menuList, menuFollow), the safety gate
// included, and reports what worked.
#pragma once

#include "common/json.h"
#include "locate/safety.h"
#include "platform/platform.h"

namespace kelp::selftest {

inline constexpr std::int64_t SELFTEST_WALK_LIMIT = 200;
inline constexpr int APPEAR_ROUNDS = 40;
inline constexpr int MENU_ROUNDS = 25;
inline constexpr std::int64_t ROUND_MICROS = 20000;

class SelfTest {
 public:
  SelfTest(platform::Platform& os, const locate::SafetyPatterns& safety) : os_(os), safety_(safety) {}

  // The report's 14 keys, always all of them. Blocks the main thread while
  // it runs; the window stays afterwards.
  Json run();

 private:
  platform::Platform& os_;
  const locate::SafetyPatterns& safety_;
};

// The report of a desktop where nothing of the process's own can be read.
Json unreadableReport();

}  // namespace kelp::selftest
