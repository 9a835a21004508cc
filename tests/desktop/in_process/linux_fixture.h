// The core in this process over the real Linux backend, against the GTK
// widget factory in a private desktop: the fixture every in-process suite
// shares.
//
// One fixture for all files of the executable: libatspi keeps its bus
// connections for the life of the process, so a process can only ever
// follow one desktop.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ax/lookup.h"
#include "ax/node.h"
#include "desktop/fixture.h"
#include "desktop/harness.h"
#include "platform/linux/atspi/calls.h"
#include "platform/platform.h"

extern char** environ;

namespace kelp::test {

// This process's environment, replaced by a desktop's and put back later.
class ProcessEnvironment {
 public:
  void replaceWith(const Environment& wanted) {
    const auto before = current();
    saved_ = before;
    for (const auto& [name, value] : before) {
      if (!wanted.get(name)) ::unsetenv(name.c_str());
    }
    for (const std::string& entry : wanted.entries()) {
      const std::size_t equals = entry.find('=');
      ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
  }

  void restore() {
    if (!saved_) return;
    ::clearenv();
    for (const auto& [name, value] : *saved_) ::setenv(name.c_str(), value.c_str(), 1);
    saved_.reset();
  }

 private:
  static std::vector<std::pair<std::string, std::string>> current() {
    std::vector<std::pair<std::string, std::string>> variables;
    for (char** entry = environ; entry && *entry; ++entry) {
      const std::string text = *entry;
      const std::size_t equals = text.find('=');
      if (equals != std::string::npos) variables.emplace_back(text.substr(0, equals), text.substr(equals + 1));
    }
    return variables;
  }

  std::optional<std::vector<std::pair<std::string, std::string>>> saved_;
};

class CoreOnLinuxDesktop : public WidgetFactoryDesktop {
 protected:
  static void SetUpTestSuite() {
    WidgetFactoryDesktop::SetUpTestSuite();
    if (!desktop_) return;
    try {
      // The backend finds the display and the buses through the
      // environment, as kelp-cua started in that desktop would.
      environment_.replaceWith(desktop_->environment());
      os_ = platform::makeDesktopPlatform();
    } catch (const std::exception& error) {
      failure_ = error.what();
      TearDownTestSuite();
    }
  }

  static void TearDownTestSuite() {
    os_.reset();
    environment_.restore();
    WidgetFactoryDesktop::TearDownTestSuite();
  }

  void SetUp() override {
    if (!os_) FAIL() << failure_;
  }

  platform::Platform& os() { return *os_; }
  platform::Accessibility& ax() { return os_->accessibility(); }
  ax::AppPair factory() {
    std::optional<ax::AppPair> pair = ax::appElement(os(), std::string("gtk3-widget-factory"), std::nullopt);
    if (!pair) throw std::runtime_error("the widget factory is not found");
    return *pair;
  }

  std::vector<ax::Node> walk(const platform::Element& start, std::int64_t max) { return ax::walk(ax(), start, max); }
  // How many calls of `method` ("Interface.Method", or Properties.Get and
  // the property's name) this process has sent to applications.
  static std::uint64_t sent(std::string_view method) {
    const auto& counts = platform::linux_desktop::busTraffic().byMethod;
    auto found = counts.find(method);
    return found == counts.end() ? std::uint64_t{0} : found->second;
  }

  static std::vector<const ax::Node*> nodesWith(const std::vector<ax::Node>& nodes, const std::string& role,
                                            const std::string& label) {
    std::vector<const ax::Node*> found;
    for (const ax::Node& node : nodes) {
      if (node.role == role && node.label == label) found.push_back(&node);
    }
    return found;
  }

  static inline std::unique_ptr<platform::Platform> os_;
  static inline ProcessEnvironment environment_;
};

}  // namespace kelp::test
