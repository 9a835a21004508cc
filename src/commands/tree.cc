#include "commands/tree.h"

#include <vector>

#include "ax/attributes.h"
#include "ax/lookup.h"
#include "ax/node.h"
#include "commands/node_json.h"
#include "commands/scope.h"
#include "common/fields.h"
#include "common/messages.h"
#include "text/text.h"

namespace kelp::commands {
namespace {

constexpr std::int64_t DEFAULT_TREE_MAX = 300;

bool keep(const Request& request, const std::string& q, const ax::Node& node) {
  if (request.cmd == "tree" || q.empty()) return true;
  // The value's end too, which the agent sees as its tail (a terminal's
  // latest output lies past the first 200 characters).
  return text::canonicallyContains(text::toLower(node.label), q) ||
         text::canonicallyContains(text::toLower(node.value), q) ||
         text::canonicallyContains(text::toLower(node.valueTail), q);
}

}  // namespace

void treeOrFind(Context& context, const Request& request) {
  std::optional<ax::AppPair> target = targetOrFail(context, request);
  if (!target) return;
  const std::int64_t max = integerField(request.body, "max").value_or(DEFAULT_TREE_MAX);
  const std::string q = text::toLower(stringField(request.body, "q", ""));
  const WalkScope scope = readWalkScope(request.body);
  const std::optional<std::vector<ax::Node>> walked =
      walkScope(context.os.accessibility(), target->element, scope, max);
  const std::vector<ax::Node> nodes = walked.value_or(std::vector<ax::Node>{});
  Json elements = Json::array();
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (keep(request, q, nodes[i])) elements.push_back(nodeJson(nodes[i], static_cast<std::int64_t>(i)));
  }
  Json result;
  result["app"] = target->app.name.value_or("");
  result["elements"] = std::move(elements);
  // An application that publishes no interface at all started with its
  // toolkit's accessibility off; started again through "activate" it is on.
  platform::Accessibility& ax = context.os.accessibility();
  // Busy is not bare: an application whose calls timed out is not told to
  // start again, which would lose its work.
  if (!ax.answering(target->element)) {
    result["hint"] = messages::busyHint;
  } else if (!walked) {
    result["hint"] = messages::noSuchWindowHint;
  } else if (nodes.empty() && ax::elementsOf(ax::attr(ax, target->element, "AXChildren")).empty()) {
    result["hint"] = messages::noControlsHint;
  }
  context.replies.succeed(request.id, std::move(result));
}

}  // namespace kelp::commands
