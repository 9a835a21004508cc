// Reading the nodes of "tree" and "find" replies in desktop tests.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "support/helper.h"

namespace kelp::test {

inline const char* const WIDGET_FACTORY = "gtk3-widget-factory";
inline const char* const APP_NOT_FOUND = "그 프로그램을 찾지 못했어요";

// Enough for the labels of the widget factory, which are ASCII apart from
// punctuation such as "…" that has no case.
inline std::string lowerAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The "elements" of a successful "tree" or "find" reply; an empty array for
// anything else, so that a failed reply shows in the assertion that follows.
inline Json elementsOf(const Json& reply) {
  if (!reply.is_object() || reply.value("ok", false) != true) return Json::array();
  const Json& result = reply["result"];
  if (!result.is_object() || !result.contains("elements") || !result["elements"].is_array()) return Json::array();
  return result["elements"];
}

inline std::vector<const Json*> nodesWith(const Json& elements, const std::string& role, const std::string& label) {
  std::vector<const Json*> found;
  for (const Json& node : elements) {
    if (node.value("role", "") == role && node.value("label", "") == label) found.push_back(&node);
  }
  return found;
}

inline std::vector<std::string> pathsOf(const Json& elements) {
  std::vector<std::string> paths;
  for (const Json& node : elements) paths.push_back(node.value("path", ""));
  return paths;
}

inline Json failure(const Json& id, const std::string& error) {
  return {{"id", id}, {"ok", false}, {"error", error}};
}

}  // namespace kelp::test
