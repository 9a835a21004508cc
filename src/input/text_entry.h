// Entering text into a field so that it holds exactly that text: selecting
// what the field holds before typing over it, and telling whether a text
// landed, allowing for what a field does to text on its own.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace kelp::input {

// Selects the whole content of `element`, which has the keyboard focus:
// through the accessibility selection where the element takes it, else with
// the desktop's select-all shortcut. What is typed next replaces it.
void selectWholeText(platform::Platform& os, const platform::Element& element);

// Whether a field whose value reads `value` holds `typed`: the same text up
// to canonical equivalence, line-break style, white space at the ends,
// letter case and typographic quotes (autocorrection); the same number
// however the field formats it ("1,234.50" for 1234.5); or, in a secure
// field, one mask character for each character typed.
bool textLanded(std::string_view value, std::string_view typed, bool secureField);

// The numbers a text can stand for, written with a decimal point and comma
// grouping or the other way round (the point first); none for a text that
// is no number.
std::vector<double> numbersIn(std::string_view text);

// A busy application can still be taking in a text (even its first key)
// when the settle after typing is over: a value that misses it is read again
// for up to LATE_TEXT_WAIT_MICROS before the text counts as not landed.
inline constexpr std::int64_t LATE_TEXT_WAIT_MICROS = 1000000;
inline constexpr std::int64_t LATE_TEXT_STEP_MICROS = 50000;

struct Landing {
  bool landed = false;
  std::string value;  // as last read
};

// Reads `element`'s value until `landed` holds of it, or the late-text wait
// is over. An element with no value at all is not waited for: it cannot
// show the text arriving.
Landing awaitLanding(platform::Platform& os, const platform::Element& element,
                     const std::function<bool(const std::string& value)>& landed);

}  // namespace kelp::input
