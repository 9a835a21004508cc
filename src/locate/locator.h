// Choosing one node of a list by a locator: every field that agrees with a
// node adds points, and the best node wins when it reaches the threshold.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ax/node.h"
#include "platform/platform.h"
#include "common/json.h"

namespace kelp::locate {

// A locator's fields; one of the wrong JSON type counts as absent.
struct Locator {
  std::optional<std::string> identifier;
  std::optional<std::string> role;
  std::optional<std::string> label;
  std::optional<std::string> path;
  std::optional<std::int64_t> nth;
  std::optional<std::string> window;
};

Locator readLocator(const Json& locator);

inline constexpr int IDENTIFIER_POINTS = 90;
inline constexpr int ROLE_POINTS = 20;
inline constexpr int EXACT_LABEL_POINTS = 55;
inline constexpr int PARTIAL_LABEL_POINTS = 22;
inline constexpr int PATH_POINTS = 30;
inline constexpr int ACCEPTANCE_THRESHOLD = 55;

int score(const ax::Node& node, const Locator& locator);

std::optional<ax::Node> resolve(const std::vector<ax::Node>& nodes, const Locator& locator);

// The application's window titled `title`: the first whose title is exactly
// that, else the first whose title contains it or is contained in it.
std::optional<platform::Element> windowTitled(platform::Accessibility& ax, const platform::Element& applicationElement,
                                              const std::string& title);

// Whether a window titled `shown` is one a request naming `title` means:
// the same title, or one that contains the other.
bool titleMatches(const std::string& shown, const std::string& title);

// The application's window in front: its focused window (a dialog while one
// is open), else the last of its windows, which toolkits list in the order
// they opened them.
std::optional<platform::Element> frontWindow(platform::Accessibility& ax, const platform::Element& applicationElement);

// The nodes of the window the locator names, or nothing to search the whole
// application instead.
std::optional<std::vector<ax::Node>> narrowToWindow(platform::Accessibility& ax,
                                                    const platform::Element& applicationElement,
                                                    const std::optional<Locator>& locator);

}  // namespace kelp::locate
