// Reading one attribute of one element as a plain value. These never fail: a
// missing attribute, a platform error or a value of an unexpected kind becomes
// nothing, "" or a default, and the caller decides what absence means.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace kelp::ax {

// The most user-perceived characters a label keeps wherever it is shown or compared.
inline constexpr std::size_t LABEL_CLIP = 120;

// An element's top-left corner and size in screen points, origin at the top
// left of the main display, y downwards.
struct Frame {
  double x = 0;
  double y = 0;
  double w = 0;
  double h = 0;
  friend bool operator==(const Frame&, const Frame&) = default;
};

platform::Value attr(platform::Accessibility& ax, const platform::Element& element, const std::string& name);

// Text as is, numbers and booleans in their standard text form, else "".
std::string str(platform::Accessibility& ax, const platform::Element& element, const std::string& name);

bool boolAttr(platform::Accessibility& ax, const platform::Element& element, const std::string& name,
              bool fallback = true);

std::optional<Frame> frameOf(platform::Accessibility& ax, const platform::Element& element);

// Where an element's human-readable name comes from, in order of
// preference; the value is the last resort.
inline constexpr std::array<const char*, 5> LABEL_SOURCES = {"AXTitle", "AXDescription", "AXPlaceholderValue",
                                                             "AXHelp", "AXValue"};

// The element's human-readable name: the first of LABEL_SOURCES that is not
// blank, trimmed.
std::string labelFull(platform::Accessibility& ax, const platform::Element& element);
std::string label(platform::Accessibility& ax, const platform::Element& element);

// The standard text form of a value, as `str` gives it.
std::string textOf(const platform::Value& value);

// The elements of a list that holds only elements; empty for anything else.
std::vector<platform::Element> elementsOf(const platform::Value& value);

}  // namespace kelp::ax
