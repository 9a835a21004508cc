#include "ax/attributes.h"

#include <cstdio>

#include "text/text.h"

namespace kelp::ax {
namespace {

std::string numberText(double number) {
  // Sixteen significant digits: 0.5 reads "0.5", 50.0 reads "50".
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.16g", number);
  return buffer;
}

}  // namespace

platform::Value attr(platform::Accessibility& ax, const platform::Element& element, const std::string& name) {
  if (!element) return {};
  return ax.copyAttribute(element, name);
}

std::string textOf(const platform::Value& value) {
  if (auto* text = value.as<std::string>()) return *text;
  if (auto* integer = value.as<std::int64_t>()) return std::to_string(*integer);
  if (auto* number = value.as<double>()) return numberText(*number);
  if (auto* flag = value.as<bool>()) return *flag ? "1" : "0";
  return "";
}

std::vector<platform::Element> elementsOf(const platform::Value& value) {
  std::vector<platform::Element> elements;
  if (auto* list = value.as<platform::ValueList>()) {
    for (const platform::Value& item : *list) {
      auto* element = item.as<platform::Element>();
      if (!element) return {};
      elements.push_back(*element);
    }
  }
  return elements;
}

std::string str(platform::Accessibility& ax, const platform::Element& element, const std::string& name) {
  return textOf(attr(ax, element, name));
}

bool boolAttr(platform::Accessibility& ax, const platform::Element& element, const std::string& name, bool fallback) {
  platform::Value value = attr(ax, element, name);
  if (auto* flag = value.as<bool>()) return *flag;
  return fallback;
}

std::optional<Frame> frameOf(platform::Accessibility& ax, const platform::Element& element) {
  platform::Value position = attr(ax, element, "AXPosition");
  if (position.isNone()) return std::nullopt;
  platform::Value size = attr(ax, element, "AXSize");
  if (size.isNone()) return std::nullopt;
  // A geometry value of the other kind reads as zeros; something that is not
  // geometry at all gives no frame.
  auto isGeometry = [](const platform::Value& v) { return v.as<platform::Point>() || v.as<platform::Size>(); };
  if (!isGeometry(position) || !isGeometry(size)) return std::nullopt;
  Frame frame;
  if (auto* point = position.as<platform::Point>()) {
    frame.x = point->x;
    frame.y = point->y;
  }
  if (auto* extent = size.as<platform::Size>()) {
    frame.w = extent->w;
    frame.h = extent->h;
  }
  return frame;
}

std::string labelFull(platform::Accessibility& ax, const platform::Element& element) {
  for (const char* name : LABEL_SOURCES) {
    std::string trimmed = text::trim(str(ax, element, name));
    if (!trimmed.empty()) return trimmed;
  }
  return "";
}

std::string label(platform::Accessibility& ax, const platform::Element& element) {
  return text::firstGraphemes(labelFull(ax, element), LABEL_CLIP);
}

}  // namespace kelp::ax
