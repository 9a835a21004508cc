// Finding the target application of a request and answering small questions
// about single elements: what lies under a point, who owns it, what has the
// focus, which window it is in, and which nearby element names it best.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace kelp::ax {

struct AppPair {
  platform::Element element;
  platform::RunningApp app;
};

// By pid when given; else by name (exact name, then exact bundle id, then a
// fragment of the name, all without regard to case); else the frontmost one.
std::optional<AppPair> appElement(platform::Platform& os, const std::optional<std::string>& name,
                                  const std::optional<std::int64_t>& pid);

std::optional<platform::Element> elementAt(platform::Platform& os, const platform::Element& systemWide,
                                           platform::Point point, std::optional<platform::Pid> fallbackPid);

std::string ownerName(platform::Platform& os, const platform::Element& element);

std::optional<platform::Element> focusedElement(platform::Platform& os);

// The application's focused window, else the first of its windows.
std::optional<platform::Element> focusedOrFirstWindow(platform::Accessibility& ax, const platform::Element& application);

std::string windowTitleOf(platform::Accessibility& ax, const platform::Element& element);

platform::Element namedAncestor(platform::Accessibility& ax, const platform::Element& element);

}  // namespace kelp::ax
