// "screenshot" and "typetext" of 200 characters through kelp-cua on headless
// GNOME Shell and KWin, beside each compositor's own screenshot interface
// (GNOME Shell's Screenshot into a PNG file, KWin's ScreenShot2 into a pipe;
// both read back into pixels), in one run. Each kelp-cua figure is one
// request through its standard streams, from writing it to reading the
// reply; the helper stays up between requests, as an agent keeps it.
//
//   kelp_compositors_bench [REPEATS]      REPEATS defaults to 20
//
// Prints one table; a compositor that is not installed gets a line saying
// so. Exits non-zero when a kelp-cua request fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "desktop/harness.h"

namespace {

using kelp::test::AppOptions;
using kelp::test::DesktopOptions;
using kelp::test::DesktopSession;
using kelp::test::DisplayServer;
using kelp::test::HelperSession;
using kelp::test::Json;
using Clock = std::chrono::steady_clock;

struct Figures {
  std::vector<double> ms;
  double median() const {
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    return sorted.empty() ? 0 : sorted[sorted.size() / 2];
  }
  double least() const { return ms.empty() ? 0 : *std::min_element(ms.begin(), ms.end()); }
  double most() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

double timed(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// 200 characters, half of them Hangul, as the sway bench types.
std::string typedText() {
  std::string text;
  for (int i = 0; i < 200; ++i) text += i % 2 ? "가" : "a";
  return text;
}

Json ask(HelperSession& helper, const Json& request) {
  auto reply = helper.request(request, kelp::test::Milliseconds(30000));
  if (!reply || !reply->value("ok", false)) {
    throw std::runtime_error(request.value("cmd", "?") + " failed: " + (reply ? reply->dump().substr(0, 400) : "no reply"));
  }
  return *reply;
}

void row(const char* compositor, const std::string& what, const Figures& figures, const std::string& note) {
  std::printf("%-6s %-34s %9.1fms %9.1fms %9.1fms %9.1fms  %s\n", compositor, what.c_str(), figures.median(),
              figures.least(), figures.most(), figures.ms.empty() ? 0.0 : figures.ms.front(), note.c_str());
}

// Returns false when a kelp-cua request failed.
bool measure(DisplayServer server, const char* name, int repeats) {
  if (!kelp::test::displayServerInstalled(server)) {
    std::printf("%-6s not installed here\n", name);
    return true;
  }
  DesktopOptions options;
  options.server = server;
  DesktopSession desktop(options);
  AppOptions mousepad;
  mousepad.argv = {"mousepad"};
  desktop.startApplication(mousepad);
  auto helper = desktop.startHelper();
  Figures kelp, reference, typing;
  std::string size, referenceSize, landed;
  try {
    for (int i = 0; i < repeats; ++i) {
      Json reply;
      kelp.ms.push_back(timed([&] { reply = ask(*helper, {{"cmd", "screenshot"}}); }));
      size = std::to_string(reply["result"].value("w", 0)) + "x" + std::to_string(reply["result"].value("h", 0));
      DesktopSession::ScreenPixels pixels;
      reference.ms.push_back(timed([&] { pixels = desktop.screenPixels(); }));
      referenceSize = std::to_string(pixels.width) + "x" + std::to_string(pixels.height);
    }
    const std::string text = typedText();
    for (int i = 0; i < repeats; ++i) {
      ask(*helper, {{"cmd", "key"}, {"app", "mousepad"}, {"key", "a"}, {"mods", {"ctrl"}}});
      Json reply;
      typing.ms.push_back(timed([&] { reply = ask(*helper, {{"cmd", "typetext"}, {"app", "mousepad"}, {"text", text}}); }));
      landed = "landed " + reply["result"].value("landed", Json(false)).dump() + ", " +
               reply["result"].value("valueLen", Json(0)).dump() + " UTF-16 units in mousepad";
    }
  } catch (const std::exception& error) {
    std::printf("%-6s kelp-cua: %s\n", name, error.what());
    return false;
  }
  row(name, "kelp-cua screenshot (JPEG, base-64)", kelp, size);
  row(name, server == DisplayServer::gnome ? "Shell.Screenshot (PNG file, read)" : "ScreenShot2 workspace (pipe, read)",
      reference, referenceSize);
  row(name, "kelp-cua typetext 200 characters", typing, landed);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::atoi(argv[1]) : 20;
  if (repeats < 1) {
    std::fprintf(stderr, "usage: %s [REPEATS]\n", argv[0]);
    return 2;
  }
  std::printf("%-6s %-34s %11s %11s %11s %11s  %s\n", "", (std::to_string(repeats) + " of each").c_str(), "median",
              "min", "max", "first", "picture or result");
  bool ok = true;
  try {
    ok = measure(DisplayServer::gnome, "gnome", repeats) && ok;
    ok = measure(DisplayServer::kde, "kde", repeats) && ok;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kelp_compositors_bench: %s\n", error.what());
    return 1;
  }
  return ok ? 0 : 1;
}
