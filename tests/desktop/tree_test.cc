// "tree" and "find" against the GTK widget factory: what a walk of a real
// application records, how its refs line up between requests, and that odd
// request values get a proper reply.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/nodes.h"

namespace kelp::test {
namespace {

using DesktopTree = WidgetFactoryDesktop;

const std::set<std::string> INTERACTIVE_ROLES = {
    "AXButton",   "AXLink",        "AXTextField", "AXTextArea",   "AXCheckBox", "AXRadioButton",
    "AXPopUpButton", "AXComboBox", "AXMenuItem",  "AXMenuButton", "AXSlider",   "AXIncrementor",
    "AXTabGroup", "AXRow",         "AXCell",      "AXDisclosureTriangle", "AXStaticText", "AXSearchField"};

const std::set<std::string> NODE_KEYS = {"ref",       "role",    "label",      "enabled",   "path",
                                         "value",     "valueLen", "valueTail", "labelLen", "labelTail",
                                         "identifier", "frame"};

Json treeRequest(const Json& max) { return {{"cmd", "tree"}, {"app", WIDGET_FACTORY}, {"max", max}}; }

Json findRequest(const Json& q) { return {{"cmd", "find"}, {"app", WIDGET_FACTORY}, {"q", q}}; }

// One or more steps of the form /Role[index], the role made of letters
// (possibly none).
bool isWellFormedPath(const std::string& path) {
  std::size_t i = 0;
  auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (path.empty()) return false;
  while (i < path.size()) {
    if (path[i++] != '/') return false;
    while (i < path.size() && isLetter(path[i])) ++i;
    if (i >= path.size() || path[i++] != '[') return false;
    const std::size_t digits = i;
    while (i < path.size() && isDigit(path[i])) ++i;
    if (i == digits || i >= path.size() || path[i++] != ']') return false;
  }
  return true;
}

bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Everything a node of any reply must satisfy, whatever the application.
void expectWellFormed(const Json& node, std::int64_t ref, int screenWidth, int screenHeight) {
  SCOPED_TRACE(node.dump());
  ASSERT_TRUE(node.is_object());
  for (const auto& [key, value] : node.items()) EXPECT_TRUE(NODE_KEYS.count(key)) << "unexpected key " << key;
  EXPECT_EQ(node.value("ref", std::int64_t{-1}), ref);
  ASSERT_TRUE(node["role"].is_string());
  ASSERT_TRUE(node["label"].is_string());
  ASSERT_TRUE(node["enabled"].is_boolean());
  ASSERT_TRUE(node["path"].is_string());
  const std::string role = node["role"];
  const std::string label = node["label"];
  const std::string path = node["path"];
  EXPECT_TRUE(INTERACTIVE_ROLES.count(role)) << "a walk records interactive roles only";
  if (!label.empty()) {
    EXPECT_FALSE(isBlank(label.front()) || isBlank(label.back())) << "labels are trimmed";
  }
  if (role == "AXStaticText") {
    EXPECT_FALSE(label.empty()) << "static text with nothing to show is skipped";
  }

  // A walk from the application: the first step is one of its windows, and
  // the last step names the node's own role.
  EXPECT_TRUE(isWellFormedPath(path));
  EXPECT_EQ(path.rfind("/AXWindow[", 0), 0u) << "paths start at the application";
  const std::string lastStep = path.substr(path.rfind('/') + 1);
  EXPECT_EQ(lastStep.substr(0, lastStep.find('[')), role);

  if (node.contains("value")) {
    EXPECT_TRUE(node["value"].is_string());
    EXPECT_NE(node["value"], "") << "an empty value has no key";
  }
  EXPECT_EQ(node.contains("valueLen"), node.contains("valueTail"));
  EXPECT_EQ(node.contains("labelLen"), node.contains("labelTail"));
  if (node.contains("valueLen")) {
    EXPECT_TRUE(node["valueLen"].is_number_integer());
    EXPECT_GT(node["valueLen"].get<std::int64_t>(), 200);
  }
  if (node.contains("labelLen")) {
    EXPECT_TRUE(node["labelLen"].is_number_integer());
    EXPECT_GT(node["labelLen"].get<std::int64_t>(), 120);
  }
  if (node.contains("identifier")) {
    EXPECT_NE(node["identifier"], "");
  }

  if (node.contains("frame")) {
    const Json& frame = node["frame"];
    ASSERT_TRUE(frame.is_object());
    ASSERT_EQ(frame.size(), 4u);
    for (const char* key : {"x", "y", "w", "h"}) ASSERT_TRUE(frame[key].is_number()) << key;
    const double x = frame["x"], y = frame["y"], w = frame["w"], h = frame["h"];
    EXPECT_GE(w, 0);
    EXPECT_GE(h, 0);
    EXPECT_GE(x, 0);
    EXPECT_GE(y, 0);
    EXPECT_LE(x + w, screenWidth);
    EXPECT_LE(y + h, screenHeight);
  }
}

// A control the factory shows on its first page: recorded with its frame on
// screen, inside the application's first window.
void expectVisibleControl(const Json& node) {
  SCOPED_TRACE(node.dump());
  EXPECT_EQ(node["path"].get<std::string>().rfind("/AXWindow[0]/", 0), 0u);
  ASSERT_TRUE(node.contains("frame")) << "a control on screen has a frame";
  EXPECT_GT(node["frame"]["w"].get<double>(), 0);
  EXPECT_GT(node["frame"]["h"].get<double>(), 0);
}

TEST_F(DesktopTree, TreeListsTheFactoryControlsInWalkOrder) {
  std::vector<Json> replies = ask({{{"cmd", "apps"}, {"id", 1}},
                                   {{"cmd", "tree"}, {"app", WIDGET_FACTORY}, {"max", 300}, {"id", "t"}}});
  ASSERT_EQ(replies.size(), 2u);
  std::string factoryName;
  for (const Json& entry : replies[0]["result"]["apps"]) {
    if (entry.value("pid", 0) == app().pid()) factoryName = entry.value("name", "");
  }
  ASSERT_FALSE(factoryName.empty()) << replies[0].dump();

  const Json& reply = replies[1];
  ASSERT_EQ(reply.value("ok", false), true) << reply.dump();
  EXPECT_EQ(reply["id"], "t");
  EXPECT_EQ(reply["result"].size(), 2u) << "only app and elements";
  EXPECT_EQ(reply["result"]["app"], factoryName);
  const Json elements = elementsOf(reply);
  ASSERT_GT(elements.size(), 20u) << reply.dump();
  EXPECT_LE(elements.size(), 300u);

  for (std::size_t i = 0; i < elements.size(); ++i) {
    expectWellFormed(elements[i], static_cast<std::int64_t>(i), desktop().width(), desktop().height());
  }

  // The factory's first page: buttons, check and toggle buttons, entries,
  // radio buttons, with the labels GTK gives them.
  auto linkButtons = nodesWith(elements, "AXButton", "link button");
  ASSERT_EQ(linkButtons.size(), 1u);
  expectVisibleControl(*linkButtons[0]);

  auto checkButtons = nodesWith(elements, "AXCheckBox", "checkbutton");
  auto toggleButtons = nodesWith(elements, "AXCheckBox", "togglebutton");
  auto radioButtons = nodesWith(elements, "AXRadioButton", "radiobutton");
  auto entries = nodesWith(elements, "AXTextField", "entry");
  EXPECT_GE(checkButtons.size(), 4u);
  EXPECT_GE(toggleButtons.size(), 4u);
  EXPECT_GE(radioButtons.size(), 4u);
  ASSERT_GE(entries.size(), 1u);
  for (const auto& group : {checkButtons, toggleButtons, radioButtons, entries}) {
    for (const Json* node : group) {
      expectVisibleControl(*node);
      // Toggles report their state as their value.
      if (node->at("role") != "AXTextField") {
        ASSERT_TRUE(node->contains("value")) << node->dump();
        const std::string value = node->at("value");
        EXPECT_TRUE(value == "0" || value == "1" || value == "2") << node->dump();
      }
    }
  }
  // Some of each are switched on, some off, and some insensitive.
  int checked = 0, unchecked = 0, disabled = 0;
  for (const Json* node : toggleButtons) {
    checked += node->at("value") == "1";
    unchecked += node->at("value") == "0";
    disabled += node->at("enabled") == false;
  }
  EXPECT_GT(checked, 0);
  EXPECT_GT(unchecked, 0);
  EXPECT_GT(disabled, 0);
  EXPECT_EQ(entries[0]->value("value", ""), "entry") << "the entry's text is its value";

  // The text view's long text is clipped in the node, with its length and
  // ending beside it; its label is its own text, so no label length is sent.
  const Json* textView = nullptr;
  for (const Json& node : elements) {
    if (node["role"] == "AXTextArea" && contains(node.value("label", ""), "Lorem ipsum")) textView = &node;
  }
  ASSERT_NE(textView, nullptr);
  SCOPED_TRACE(textView->dump());
  const std::string value = textView->value("value", "");
  const std::string label = textView->value("label", "");
  EXPECT_EQ(value.size(), 200u) << "ASCII text: 200 characters are 200 bytes";
  EXPECT_EQ(label.size(), 120u);
  EXPECT_EQ(value.rfind(label, 0), 0u);
  ASSERT_TRUE(textView->contains("valueLen"));
  EXPECT_GT(textView->at("valueLen").get<std::int64_t>(), 200);
  EXPECT_EQ(textView->value("valueTail", "").size(), 80u);
  EXPECT_FALSE(textView->contains("labelLen")) << "the label is the trimmed value";
}

TEST_F(DesktopTree, ASmallMaxGivesThePrefixOfALargerWalk) {
  std::vector<Json> replies = ask({treeRequest(5), treeRequest(300), treeRequest(1)});
  ASSERT_EQ(replies.size(), 3u);
  const Json small = elementsOf(replies[0]);
  const Json large = elementsOf(replies[1]);
  const Json single = elementsOf(replies[2]);
  ASSERT_EQ(small.size(), 5u) << replies[0].dump();
  ASSERT_GT(large.size(), 5u) << replies[1].dump();
  ASSERT_EQ(single.size(), 1u) << replies[2].dump();
  for (std::size_t i = 0; i < small.size(); ++i) {
    EXPECT_EQ(small[i]["ref"], i);
    EXPECT_EQ(small[i], large[i]) << "ref " << i;
  }
  EXPECT_EQ(single[0], large[0]);
}

TEST_F(DesktopTree, FindKeepsOnlyMatchingNodesWithTheTreesRefs) {
  // Searched in the label, in the label in other letter case, only in the
  // text of a text view (its label is clipped before the words), and in a
  // label with a character outside ASCII.
  const std::vector<std::string> queries = {"checkbutton", "CheckButton", "class aptent", "other…"};
  std::vector<Json> requests = {treeRequest(300)};
  for (const std::string& q : queries) requests.push_back(findRequest(q));
  requests.push_back({{"cmd", "find"}, {"app", WIDGET_FACTORY}});
  requests.push_back(findRequest(""));
  requests.push_back({{"cmd", "tree"}, {"app", WIDGET_FACTORY}, {"q", "checkbutton"}});
  std::vector<Json> replies = ask(requests);
  ASSERT_EQ(replies.size(), requests.size());
  const Json tree = elementsOf(replies[0]);
  ASSERT_FALSE(tree.empty()) << replies[0].dump();

  for (std::size_t k = 0; k < queries.size(); ++k) {
    const Json& reply = replies[k + 1];
    SCOPED_TRACE("q = " + queries[k]);
    ASSERT_EQ(reply.value("ok", false), true) << reply.dump();
    EXPECT_EQ(reply["result"]["app"], replies[0]["result"]["app"]);
    const Json found = elementsOf(reply);
    const std::string q = lowerAscii(queries[k]);

    std::vector<std::int64_t> expectedRefs;
    for (const Json& node : tree) {
      if (contains(lowerAscii(node.value("label", "")), q) || contains(lowerAscii(node.value("value", "")), q)) {
        expectedRefs.push_back(node["ref"]);
      }
    }
    std::vector<std::int64_t> refs;
    for (const Json& node : found) {
      const std::int64_t ref = node.value("ref", std::int64_t{-1});
      ASSERT_GE(ref, 0);
      ASSERT_LT(ref, static_cast<std::int64_t>(tree.size()));
      if (!refs.empty()) {
        EXPECT_GT(ref, refs.back()) << "refs strictly increase";
      }
      refs.push_back(ref);
      EXPECT_EQ(node, tree[static_cast<std::size_t>(ref)]) << "the same node under the same ref as in tree";
    }
    EXPECT_EQ(refs, expectedRefs);
    EXPECT_FALSE(refs.empty());
  }
  EXPECT_EQ(elementsOf(replies[1]), elementsOf(replies[2])) << "letter case does not matter";
  EXPECT_GE(elementsOf(replies[1]).size(), 4u);
  for (const Json& node : elementsOf(replies[3])) {
    EXPECT_FALSE(contains(lowerAscii(node["label"]), "class aptent")) << "found by its value only";
  }

  EXPECT_EQ(elementsOf(replies[queries.size() + 1]), tree) << "find without q is tree";
  EXPECT_EQ(elementsOf(replies[queries.size() + 2]), tree) << "find with an empty q is tree";
  EXPECT_EQ(elementsOf(replies[queries.size() + 3]), tree) << "tree ignores q";
}

TEST_F(DesktopTree, OddMaxValuesGetProperReplies) {
  const Json huge = std::int64_t{1000000000000};
  enum Size : std::int64_t { DEFAULT = -1, WHOLE = -2, ANY = -3 };
  struct Case {
    Json max;
    std::int64_t size;  // a count, or one of Size
  };
  // Numbers that are not plain integers and values of other kinds may be
  // read either way; they only have to give a proper reply.
  const std::vector<Case> cases = {
      {0, 0},
      {-1, 0},
      {std::numeric_limits<std::int64_t>::min(), 0},
      {huge, WHOLE},
      {std::numeric_limits<std::int64_t>::max(), WHOLE},
      {"5", DEFAULT},
      {nullptr, DEFAULT},
      {Json::array({5}), DEFAULT},
      {Json::object({{"max", 5}}), DEFAULT},
      {std::numeric_limits<std::uint64_t>::max(), ANY},
      {true, ANY},
      {2.5, ANY},
      {1e12, ANY},
      {-1e300, ANY},
  };
  std::vector<Json> requests = {treeRequest(100000)};
  for (const Case& c : cases) requests.push_back(treeRequest(c.max));
  requests.push_back({{"cmd", "find"}, {"app", WIDGET_FACTORY}, {"q", "e"}, {"max", 0}});
  std::vector<Json> replies = ask(requests);
  ASSERT_EQ(replies.size(), requests.size());
  const Json whole = elementsOf(replies[0]);
  ASSERT_FALSE(whole.empty()) << replies[0].dump();

  for (std::size_t k = 0; k < replies.size(); ++k) {
    SCOPED_TRACE(requests[k].dump());
    ASSERT_EQ(replies[k].value("ok", false), true) << replies[k].dump();
    const Json elements = elementsOf(replies[k]);
    ASSERT_LE(elements.size(), whole.size());
    for (std::size_t i = 0; i < elements.size(); ++i) {
      EXPECT_EQ(elements[i], whole[i]) << "every walk begins like the whole walk";
    }
    if (k == 0 || k > cases.size()) continue;
    const std::int64_t size = cases[k - 1].size;
    if (size == ANY) continue;
    const std::size_t expected = size == WHOLE     ? whole.size()
                                 : size == DEFAULT ? std::min<std::size_t>(300, whole.size())
                                                   : static_cast<std::size_t>(size);
    EXPECT_EQ(elements.size(), expected);
  }
  EXPECT_EQ(elementsOf(replies.back()), Json::array()) << "find walks nothing with max 0";
}

TEST_F(DesktopTree, SearchTextsInOtherScriptsGetProperReplies) {
  const std::vector<std::string> noMatch = {
      "👍🏽",                             // emoji with a skin-tone modifier
      "👨‍👩‍👧",                            // joined emoji
      "확인",                              // Korean
      "e\xCC\x81",                         // e and a combining acute accent
      std::string("a\0b", 3),              // a NUL inside
      "\xE2\x80\xAE" "checkbutton",        // right-to-left override before a match
      std::string(10000, 'z'),
  };
  std::vector<Json> requests;
  for (const std::string& q : noMatch) requests.push_back(findRequest(q));
  for (const std::string& q : noMatch) requests.push_back({{"cmd", "tree"}, {"app", WIDGET_FACTORY}, {"q", q}});
  requests.push_back(treeRequest(300));

  auto helper = desktop().startHelper();
  std::vector<Json> replies;
  for (const Json& request : requests) {
    auto reply = helper->request(request);
    ASSERT_TRUE(reply.has_value()) << "no reply to " << request.dump();
    replies.push_back(*reply);
  }
  // A lone UTF-16 surrogate is no text at all: the line is unreadable, or
  // the search finds nothing; either way one reply.
  ASSERT_TRUE(helper->sendLine(R"({"cmd":"find","app":"gtk3-widget-factory","q":"\ud800","id":7})"));
  auto surrogate = helper->reply();
  ASSERT_TRUE(surrogate.has_value());
  const bool unreadable = *surrogate == failure(nullptr, "요청을 읽지 못했어요");
  const bool empty = surrogate->value("ok", false) == true && elementsOf(*surrogate).empty();
  EXPECT_TRUE(unreadable || empty) << surrogate->dump();
  // Still serving after all of it.
  auto after = helper->request(treeRequest(3));
  ASSERT_TRUE(after.has_value());
  EXPECT_EQ(elementsOf(*after).size(), 3u) << after->dump();
  auto status = helper->finish();
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(status->success()) << status->describe();
  EXPECT_EQ(helper->stderrText(), "");

  const Json tree = elementsOf(replies.back());
  ASSERT_FALSE(tree.empty());
  for (std::size_t k = 0; k < noMatch.size(); ++k) {
    SCOPED_TRACE(requests[k].dump());
    ASSERT_EQ(replies[k].value("ok", false), true) << replies[k].dump();
    EXPECT_EQ(elementsOf(replies[k]), Json::array());
    ASSERT_EQ(replies[noMatch.size() + k].value("ok", false), true);
    EXPECT_EQ(elementsOf(replies[noMatch.size() + k]), tree) << "tree ignores q";
  }
}

// A list of 5,000 rows is never listed whole: its tree holds the rows on
// screen, and others once the list scrolls to them.
TEST_F(DesktopTree, AHugeListGivesTheRowsOnScreen) {
  AppOptions options = program({"zenity", "--list", "--title", "Five thousand", "--column", "Name"});
  for (int row = 1; row <= 5000; ++row) options.argv.push_back("item " + std::to_string(row));
  options.title = "Five thousand";
  DesktopApp& list = desktop().startApplication(options);
  StopWhenDone stop{list};
  const auto rows = [&] {
    std::vector<std::string> shown;
    for (const Json& node : elementsOf(askOne({{"cmd", "tree"}, {"pid", list.pid()}, {"max", 3000}}))) {
      if (node.value("role", "") == "AXCell") shown.push_back(node.value("label", ""));
    }
    return shown;
  };
  const std::vector<std::string> first = rows();
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.front(), "item 1");
  EXPECT_LT(first.size(), 60u) << "only what the list shows";
  const Json scrolled = askOne({{"cmd", "act"}, {"pid", list.pid()}, {"locator", {{"role", "AXCell"}, {"label", "item 1"}}},
                                {"action", "scroll"}, {"dy", -2500}});
  EXPECT_EQ(scrolled["ok"], true) << scrolled.dump();
  EXPECT_TRUE(eventually([&] {
    const std::vector<std::string> now = rows();
    return !now.empty() && now.front() != "item 1" && now.size() < 60;
  })) << "the rows shown after scrolling";
}

}  // namespace
}  // namespace kelp::test
