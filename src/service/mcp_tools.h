// The commands as Model Context Protocol tools: one tool a command, with an
// input schema of exactly the fields the command reads and a description
// written for a model.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "common/json.h"

namespace kelp::mcp {

// What a tool does to the world, as a client decides on asking a person
// first: the MCP annotations.
struct Effects {
  bool readOnly = false;     // changes nothing anywhere
  bool destructive = false;  // may undo or overwrite what a person did
  bool idempotent = false;   // asking twice does no more than asking once
  bool openWorld = false;    // drives applications that reach past this machine
};

struct Tool {
  std::string_view name;  // the command it runs
  std::string description;
  // The input schema's properties, by the names of the request fields.
  Json properties;
  Effects effects;
  // Fields a call leaves out that the tool fills in, where its defaults are
  // not the command's own.
  Json defaults = Json::object();
};

// Every tool, in the commands' order.
std::span<const Tool> tools();

const Tool* findTool(std::string_view name);

// A tool as tools/list shows it.
Json toolJson(const Tool& tool);

}  // namespace kelp::mcp
