// Selecting a field's text, and the rule of what counts as landed.
#include "input/text_entry.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "ax/attributes.h"
#include "input/keyboard.h"
#include "text/text.h"

namespace kelp::input {
namespace {

// Past the end of any field: the selection reaches the end.
constexpr std::int64_t WHOLE_TEXT = std::int64_t{1} << 40;

// Line breaks as "\n", typographic quotes as plain ones, ends trimmed, lower
// case: what fields and their autocorrection change on their own.
std::string comparable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      continue;
    }
    out += text[i];
  }
  for (const auto& [fancy, plain] : {std::pair<std::string_view, std::string_view>{"\u2018", "'"},
                                     {"\u2019", "'"}, {"\u201C", "\""}, {"\u201D", "\""}}) {
    for (std::size_t at = out.find(fancy); at != std::string::npos; at = out.find(fancy, at)) {
      out.replace(at, fancy.size(), plain);
      at += plain.size();
    }
  }
  return text::toLower(text::trim(out));
}

bool masked(std::string_view value, std::string_view typed) {
  if (value.empty() || text::graphemeCount(value) != text::graphemeCount(typed)) return false;
  const std::string first = text::firstGraphemes(value, 1);
  for (std::size_t at = 0; at < value.size(); at += first.size()) {
    if (value.substr(at, first.size()) != first) return false;
  }
  return true;
}

}  // namespace

// The numbers a text can stand for, written with a decimal point and comma
// grouping or the other way round, with spaces or apostrophes grouping too;
// nothing for a text that is no number.
std::vector<double> numbersIn(std::string_view text) {
  std::string digits;
  for (const char c : text::trim(text)) {
    if ((c >= '0' && c <= '9') || c == '.' || c == ',' || c == '-' || c == '+') {
      digits += c;
    } else if (c != ' ' && c != '\'') {
      return {};
    }
  }
  std::vector<double> numbers;
  for (const auto& [decimal, grouping] : {std::pair{'.', ','}, std::pair{',', '.'}}) {
    // A grouping mark stands before three digits, never fewer or more.
    std::string plain;
    bool grouped = true;
    for (std::size_t i = 0; i < digits.size(); ++i) {
      const char c = digits[i];
      if (c == grouping) {
        const std::size_t next = digits.find_first_not_of("0123456789", i + 1);
        grouped = grouped && (next == std::string::npos ? digits.size() : next) - i - 1 == 3;
        continue;
      }
      plain += c == decimal ? '.' : c;
    }
    if (!grouped) continue;
    char* end = nullptr;
    const double number = std::strtod(plain.c_str(), &end);
    if (!plain.empty() && end == plain.c_str() + plain.size() && std::isfinite(number)) numbers.push_back(number);
  }
  return numbers;
}

void selectWholeText(platform::Platform& os, const platform::Element& element) {
  if (os.accessibility().setAttribute(element, "AXSelectedTextRange", platform::TextRange{0, WHOLE_TEXT})) return;
  pressKey(os, "a", modNames(os.capabilities().editingModifier));
}

Landing awaitLanding(platform::Platform& os, const platform::Element& element,
                     const std::function<bool(const std::string& value)>& landed) {
  Landing reading{false, ax::str(os.accessibility(), element, "AXValue")};
  reading.landed = landed(reading.value);
  if (reading.landed || os.accessibility().copyAttribute(element, "AXValue").isNone()) return reading;
  for (std::int64_t waited = 0; !reading.landed && waited < LATE_TEXT_WAIT_MICROS; waited += LATE_TEXT_STEP_MICROS) {
    os.clock().sleepMicros(LATE_TEXT_STEP_MICROS);
    reading.value = ax::str(os.accessibility(), element, "AXValue");
    reading.landed = landed(reading.value);
  }
  return reading;
}

bool textLanded(std::string_view value, std::string_view typed, bool secureField) {
  if (text::canonicallyEqual(value, typed)) return true;
  if (secureField) return masked(value, typed);
  if (text::canonicallyEqual(comparable(value), comparable(typed))) return true;
  for (const double shown : numbersIn(value)) {
    for (const double asked : numbersIn(typed)) {
      if (shown == asked) return true;
    }
  }
  return false;
}

}  // namespace kelp::input
