// The attribute readers over facts prepared here instead of fetched from a
// bus, and what a walk's read-ahead learns from them.
// GoogleTest first: the AT-SPI headers bring X11's macros (None, Bool, ...).
#include <gtest/gtest.h>

#include <limits>
#include <map>

#include "ax/node.h"
#include "platform/linux/atspi/ax_reads.h"

namespace kelp::platform::linux_desktop {
namespace {

constexpr unsigned ALL_FACTS = (unsigned{CHILD_COUNT} << 1) - 1;

// Objects of one application with the facts a test gives them; every fact
// the test did not give reads as not told. Notes what each read asked.
class PreparedFacts final : public FactSource {
 public:
  Facts& add(const std::string& path, AtspiRole role, std::initializer_list<AtspiStateType> states = {},
             std::string name = "") {
    Facts& facts = objects_[ref(path)];
    facts.role = role;
    for (AtspiStateType state : states) facts.states |= std::uint64_t{1} << state;
    facts.name = std::move(name);
    facts.answered = ROLE | STATES | NAMING | DESCRIPTION | CHILD_COUNT | PARENT | CHILDREN | RELATIONS | ATTRIBUTES;
    return facts;
  }
  // `child` is listed by `parent` and names it as its parent.
  void adopt(const std::string& parent, const std::string& child) {
    objects_[ref(parent)].children.push_back(ref(child));
    objects_[ref(child)].parent = ref(parent);
  }
  static ObjectRef ref(const std::string& path) { return {":1.5", path}; }

  const Facts& need(const ObjectRef& object, unsigned wanted) override {
    asked[object.path] |= wanted;
    if (wanted & unfetched) ++lacked_;
    Facts& facts = objects_[object];
    facts.asked = ALL_FACTS & ~unfetched;
    return facts;
  }
  std::optional<ObjectRef> firstWithStates(const ObjectRef&, std::uint64_t) override { return std::nullopt; }
  Toolkit toolkitOf(const std::string&) override { return toolkit; }
  std::uint64_t lackedReads() const override { return lacked_; }

  std::map<std::string, unsigned> asked;
  Toolkit toolkit{"GTK", 3};
  // Facts not fetched yet, as a read-ahead sees them.
  unsigned unfetched = 0;

 private:
  struct Less {
    bool operator()(const ObjectRef& a, const ObjectRef& b) const { return a.path < b.path; }
  };
  std::map<ObjectRef, Facts, Less> objects_;
  std::uint64_t lacked_ = 0;
};

class ReadTest : public ::testing::Test {
 protected:
  Value read(const std::string& path, std::string_view name, Presentation as = Presentation::object) {
    return readAxAttribute(scope, PreparedFacts::ref(path), as, name);
  }
  static std::string text(const Value& value) {
    const std::string* found = value.as<std::string>();
    return found ? *found : "<none>";
  }

  PreparedFacts facts;
  ReadScope scope{facts, [] { return Point{100, 50}; },
                  [](const ObjectRef& window) -> std::optional<std::string> {
                    if (window.path == "/window") return "Program name";
                    return std::nullopt;
                  },
                  [](const ObjectRef& window) -> std::optional<Point> {
                    if (window.path == "/window") return Point{400, 300};
                    return std::nullopt;
                  }};
};

TEST_F(ReadTest, TitlesComeFromTheNameOrWhereTheToolkitPutsIt) {
  facts.add("/button", ATSPI_ROLE_PUSH_BUTTON, {}, "OK");
  facts.add("/entry", ATSPI_ROLE_ENTRY).labelledBy = {PreparedFacts::ref("/label")};
  facts.add("/label", ATSPI_ROLE_LABEL, {}, "Name:");
  facts.add("/panel", ATSPI_ROLE_PANEL).labelledBy = {PreparedFacts::ref("/label")};
  facts.add("/item", ATSPI_ROLE_MENU_ITEM, {}, "Save   ");
  facts.add("/blank", ATSPI_ROLE_PUSH_BUTTON, {}, " \t");
  facts.add("/app", ATSPI_ROLE_APPLICATION);
  facts.add("/window", ATSPI_ROLE_FRAME);
  facts.adopt("/app", "/window");

  EXPECT_EQ(text(read("/button", "AXTitle")), "OK");
  EXPECT_EQ(text(read("/entry", "AXTitle")), "Name:") << "a nameless control takes its label's name";
  EXPECT_EQ(text(read("/panel", "AXTitle")), "<none>") << "a container's labelling relations mean something else";
  EXPECT_EQ(text(read("/item", "AXTitle")), "Save") << "GTK pads menu items that show a shortcut";
  EXPECT_EQ(text(read("/blank", "AXTitle")), "<none>");
  EXPECT_EQ(text(read("/window", "AXTitle")), "Program name") << "the window manager's title";
}

TEST_F(ReadTest, DescriptionPlaceholderAndHelpHaveTheirOwnSources) {
  facts.add("/entry", ATSPI_ROLE_ENTRY).attributes = {{"placeholder-text", "Search…"}};
  facts.add("/button", ATSPI_ROLE_PUSH_BUTTON).attributes = {{"placeholder-text", "stray"}};
  Facts& tipped = facts.add("/tipped", ATSPI_ROLE_PUSH_BUTTON, {ATSPI_STATE_HAS_TOOLTIP});
  tipped.helpText = "Saves the file";
  tipped.description = "Save";
  facts.add("/untipped", ATSPI_ROLE_PUSH_BUTTON).helpText = "stale";

  EXPECT_EQ(text(read("/entry", "AXPlaceholderValue")), "Search…");
  EXPECT_EQ(text(read("/button", "AXPlaceholderValue")), "<none>") << "buttons show no placeholder";
  EXPECT_EQ(text(read("/tipped", "AXHelp")), "Saves the file");
  EXPECT_EQ(text(read("/tipped", "AXDescription")), "Save");
  EXPECT_EQ(text(read("/untipped", "AXHelp")), "<none>") << "help only where a tooltip is";
}

TEST_F(ReadTest, ValuesComeFromStatesNumbersOrText) {
  facts.add("/check", ATSPI_ROLE_CHECK_BOX, {ATSPI_STATE_CHECKED});
  facts.add("/mixed", ATSPI_ROLE_CHECK_BOX, {ATSPI_STATE_INDETERMINATE});
  facts.add("/tab", ATSPI_ROLE_PAGE_TAB, {ATSPI_STATE_SELECTED});
  Facts& slider = facts.add("/slider", ATSPI_ROLE_SLIDER);
  slider.value = 0.5;
  slider.answered |= VALUE;
  Facts& entry = facts.add("/combo/entry", ATSPI_ROLE_ENTRY, {ATSPI_STATE_EDITABLE});
  entry.text = "typed";
  entry.answered |= TEXT;
  facts.add("/combo", ATSPI_ROLE_COMBO_BOX);
  facts.adopt("/combo", "/combo/entry");
  facts.add("/button", ATSPI_ROLE_PUSH_BUTTON, {ATSPI_STATE_CHECKED});
  facts.add("/silent", ATSPI_ROLE_SLIDER);  // its Value interface did not answer

  EXPECT_EQ(read("/check", "AXValue"), Value(std::int64_t{1}));
  EXPECT_EQ(read("/mixed", "AXValue"), Value(std::int64_t{2}));
  EXPECT_EQ(read("/tab", "AXValue"), Value(std::int64_t{1}));
  EXPECT_EQ(read("/slider", "AXValue"), Value(0.5));
  EXPECT_EQ(text(read("/combo/entry", "AXValue")), "typed");
  EXPECT_EQ(text(read("/combo", "AXValue")), "typed") << "an editable combo box shows its entry's text";
  EXPECT_EQ(text(read("/combo", "AXRole")), "AXComboBox");
  EXPECT_TRUE(read("/button", "AXValue").isNone());
  EXPECT_TRUE(read("/silent", "AXValue").isNone());

  // A GTK 3 drop-down marks its choice in its selection alone, and a
  // browser's marks the item itself.
  Facts& drop = facts.add("/drop", ATSPI_ROLE_COMBO_BOX);
  facts.add("/drop/menu", ATSPI_ROLE_MENU);
  facts.add("/drop/menu/small", ATSPI_ROLE_MENU_ITEM, {}, "Small");
  facts.add("/drop/menu/large", ATSPI_ROLE_MENU_ITEM, {}, "Large");
  facts.adopt("/drop", "/drop/menu");
  facts.adopt("/drop/menu", "/drop/menu/small");
  facts.adopt("/drop/menu", "/drop/menu/large");
  EXPECT_TRUE(read("/drop", "AXValue").isNone()) << "nothing chosen";
  drop.selectedChild = PreparedFacts::ref("/drop/menu/large");
  drop.answered |= SELECTED;
  EXPECT_EQ(text(read("/drop", "AXValue")), "Large");
  facts.add("/drop/menu/small", ATSPI_ROLE_MENU_ITEM, {ATSPI_STATE_SELECTED}, "Small");
  EXPECT_EQ(text(read("/drop", "AXValue")), "Small") << "an item marked chosen comes first";
}

TEST_F(ReadTest, FramesAreThoseOfShowingObjectsFromTheSeamsOrigin) {
  Facts& shown = facts.add("/shown", ATSPI_ROLE_PUSH_BUTTON, {ATSPI_STATE_SHOWING});
  shown.extents = {105, 60, 30, 20};
  shown.answered |= EXTENTS;
  Facts& hidden = facts.add("/hidden", ATSPI_ROLE_PUSH_BUTTON);
  hidden.extents = {105, 60, 30, 20};
  hidden.answered |= EXTENTS;
  Facts& nowhere = facts.add("/nowhere", ATSPI_ROLE_MENU_ITEM, {ATSPI_STATE_SHOWING});
  nowhere.extents = {std::numeric_limits<std::int32_t>::min(), 0, 10, 10};
  nowhere.answered |= EXTENTS;

  EXPECT_EQ(read("/shown", "AXPosition"), Value(Point{5, 10}));
  EXPECT_EQ(read("/shown", "AXSize"), Value(Size{30, 20}));
  EXPECT_TRUE(read("/hidden", "AXPosition").isNone()) << "not showing: nowhere to act at";
  EXPECT_TRUE(read("/nowhere", "AXSize").isNone());
  EXPECT_FALSE(frameFromExtents({5, 5, -1, 10}, {}));
  EXPECT_EQ(frameFromExtents({105, 60, 30, 0}, {100, 50})->size, (Size{30, 0})) << "an empty size is a frame";
}

TEST_F(ReadTest, AnItemWithASubmenuPresentsItAsItsOneChild) {
  facts.add("/bar", ATSPI_ROLE_MENU_BAR);
  facts.add("/file", ATSPI_ROLE_MENU, {}, "File");
  facts.add("/file/open", ATSPI_ROLE_MENU_ITEM, {}, "Open");
  facts.adopt("/bar", "/file");
  facts.adopt("/file", "/file/open");

  EXPECT_EQ(text(read("/file", "AXRole")), "AXMenuBarItem");
  EXPECT_EQ(text(read("/file", "AXRole", Presentation::submenu)), "AXMenu");
  EXPECT_TRUE(read("/file", "AXTitle", Presentation::submenu).isNone());
  const std::vector<std::pair<ObjectRef, Presentation>> children =
      readAsPlanned(scope, ax::walkReadPlan(), PreparedFacts::ref("/file"), Presentation::object).children;
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(children[0], std::make_pair(PreparedFacts::ref("/file"), Presentation::submenu));
  const auto items =
      readAsPlanned(scope, ax::walkReadPlan(), PreparedFacts::ref("/file"), Presentation::submenu).children;
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].first.path, "/file/open");
}

// An item is placed by the menu that lists it, without asking its parent:
// closed menus hold most objects of a Qt application. What another control
// lists, as LibreOffice's sidebar button lists its menu's items, is placed
// by its parent.
TEST_F(ReadTest, AMenusItemsArePlacedByTheMenuThatListsThem) {
  facts.add("/bar", ATSPI_ROLE_MENU_BAR);
  facts.add("/bar/file", ATSPI_ROLE_MENU, {}, "File").listedBy = PreparedFacts::ref("/bar");
  facts.add("/button", ATSPI_ROLE_TOGGLE_BUTTON);
  facts.add("/menu", ATSPI_ROLE_MENU);
  facts.add("/menu/more", ATSPI_ROLE_MENU, {}, "Customization").listedBy = PreparedFacts::ref("/button");
  facts.adopt("/menu", "/menu/more");

  EXPECT_EQ(text(read("/bar/file", "AXRole")), "AXMenuBarItem");
  EXPECT_EQ(facts.asked["/bar/file"] & PARENT, 0u);
  EXPECT_EQ(text(read("/menu/more", "AXRole")), "AXMenuItem") << "its parent is a menu";
}

// The other label sources of a record wait until its name is known to be
// blank: most records are named, and each source is a call of its own where
// the toolkit answers single properties only.
TEST_F(ReadTest, ARecordsOtherLabelSourcesWaitUntilItsNameIsKnownBlank) {
  facts.add("/ok", ATSPI_ROLE_PUSH_BUTTON, {ATSPI_STATE_SHOWING});
  facts.unfetched = NAMING | DESCRIPTION;
  readAsPlanned(scope, ax::walkReadPlan(), PreparedFacts::ref("/ok"), Presentation::object);
  EXPECT_EQ(facts.asked["/ok"] & (NAMING | DESCRIPTION), NAMING);
  facts.unfetched = DESCRIPTION;
  readAsPlanned(scope, ax::walkReadPlan(), PreparedFacts::ref("/ok"), Presentation::object);
  EXPECT_EQ(facts.asked["/ok"] & DESCRIPTION, DESCRIPTION) << "the name came blank";
}

// What the read-ahead of a walk fetches is what the readers ask for: the
// recorded attributes only of recorded roles, the labelling object only of
// a nameless control, the text only where no earlier label source names it.
TEST_F(ReadTest, AWalksReadsAskOnlyWhatTheReadersNeed) {
  facts.add("/app", ATSPI_ROLE_APPLICATION);
  facts.add("/window", ATSPI_ROLE_FRAME, {ATSPI_STATE_SHOWING}, "Main");
  facts.add("/panel", ATSPI_ROLE_PANEL, {ATSPI_STATE_SHOWING});
  facts.add("/ok", ATSPI_ROLE_PUSH_BUTTON, {ATSPI_STATE_SHOWING}, "OK");
  facts.add("/entry", ATSPI_ROLE_ENTRY, {ATSPI_STATE_SHOWING}).labelledBy = {PreparedFacts::ref("/label")};
  facts.add("/label", ATSPI_ROLE_LABEL, {}, "Name:");
  facts.adopt("/app", "/window");
  facts.adopt("/window", "/panel");
  for (const char* path : {"/app", "/window", "/panel", "/ok", "/entry"}) {
    readAsPlanned(scope, ax::walkReadPlan(), PreparedFacts::ref(path), Presentation::object);
  }

  const unsigned recorded = IDENTIFIER | EXTENTS;
  EXPECT_EQ(facts.asked["/panel"] & (recorded | RELATIONS | TEXT | ATTRIBUTES | HELP | DESCRIPTION), 0u)
      << "a group is walked through, not recorded nor labelled";
  EXPECT_EQ(facts.asked["/ok"] & recorded, recorded);
  EXPECT_EQ(facts.asked["/ok"] & (RELATIONS | DESCRIPTION), 0u) << "it has a name of its own";
  EXPECT_EQ(facts.asked["/entry"] & (recorded | RELATIONS | TEXT), recorded | RELATIONS | TEXT);
  EXPECT_EQ(facts.asked["/label"], NAMING) << "of its label only the name";
  EXPECT_EQ(facts.asked["/window"] & recorded, 0u) << "a window is not recorded";
}

// What some toolkits report differently: GTK 4 measures from the window and
// marks only windows showing, and names a labelled button twice; web
// engines make text areas multi-line entries; Qt 6 makes dialogs fillers.
// Enabled where a toolkit says so in either of its two words for it: GTK 3
// tells both, or "sensitive" alone for a check box in the mixed state; GTK 4
// "sensitive" alone; LibreOffice's cells "enabled" alone. Only what can be
// selected tells whether it is.
TEST_F(ReadTest, EnabledAndSelectedAsEachToolkitTellsThem) {
  const struct {
    std::initializer_list<AtspiStateType> states;
    bool enabled;
  } cases[] = {{{ATSPI_STATE_ENABLED, ATSPI_STATE_SENSITIVE}, true},
               {{ATSPI_STATE_SENSITIVE}, true},
               {{ATSPI_STATE_ENABLED}, true},
               {{ATSPI_STATE_FOCUSABLE}, false}};
  int control = 0;
  for (const auto& c : cases) {
    const std::string path = "/control" + std::to_string(++control);
    facts.add(path, ATSPI_ROLE_CHECK_BOX, c.states);
    EXPECT_EQ(read(path, "AXEnabled"), Value(c.enabled)) << path;
  }
  facts.add("/button", ATSPI_ROLE_PUSH_BUTTON, {ATSPI_STATE_ENABLED});
  EXPECT_TRUE(read("/button", "AXSelected").isNone());
  facts.add("/cell", ATSPI_ROLE_TABLE_CELL, {ATSPI_STATE_SELECTABLE});
  EXPECT_EQ(read("/cell", "AXSelected"), Value(false));
  facts.add("/row", ATSPI_ROLE_TABLE_CELL, {ATSPI_STATE_SELECTED});
  EXPECT_EQ(read("/row", "AXSelected"), Value(true));
}

// LibreOffice's spreadsheet says it has 2^31 cells and makes each when asked:
// such objects, and any with more children than a walk could record, give
// only the children they show.
TEST(LazyChildrenTest, ObjectsWithHugeOrUntoldChildCountsListOnlyWhatTheyShow) {
  const auto facts = [](std::int32_t count, bool manages) {
    Facts made;
    made.childCount = count;
    if (manages) made.states |= std::uint64_t{1} << ATSPI_STATE_MANAGES_DESCENDANTS;
    return made;
  };
  EXPECT_TRUE(listsChildrenLazily(facts(2147483647, true)));
  EXPECT_TRUE(listsChildrenLazily(facts(5000, false)));
  EXPECT_TRUE(listsChildrenLazily(facts(-1, true))) << "a count not told";
  EXPECT_FALSE(listsChildrenLazily(facts(21, true))) << "an options tree of 21 items";
  EXPECT_FALSE(listsChildrenLazily(facts(-1, false)));
  EXPECT_FALSE(listsChildrenLazily(facts(1000, false)));
}

TEST_F(ReadTest, ToolkitsOwnWaysAreReadAsTheOthers) {
  facts.add("/app", ATSPI_ROLE_APPLICATION);
  facts.add("/window", ATSPI_ROLE_FRAME, {ATSPI_STATE_SHOWING, ATSPI_STATE_VISIBLE}, "Calculator");
  Facts& seven = facts.add("/seven", ATSPI_ROLE_PUSH_BUTTON, {ATSPI_STATE_VISIBLE}, "7 7");
  seven.extents = {16, 300, 55, 40};
  seven.answered |= EXTENTS;
  seven.labelledBy = {PreparedFacts::ref("/seven/label")};
  facts.add("/seven/label", ATSPI_ROLE_LABEL, {ATSPI_STATE_VISIBLE}, "7");
  facts.add("/bora", ATSPI_ROLE_PUSH_BUTTON, {}, "Bora Bora");
  facts.adopt("/app", "/window");
  facts.adopt("/window", "/seven");
  facts.adopt("/seven", "/seven/label");

  EXPECT_TRUE(read("/seven", "AXPosition").isNone()) << "GTK 3: not showing";
  EXPECT_EQ(text(read("/seven", "AXTitle")), "7 7");
  facts.toolkit = {"GTK", 4};
  EXPECT_EQ(read("/seven", "AXPosition"), Value(Point{16 + 400 - 100, 300 + 300 - 50}));
  EXPECT_EQ(read("/seven", "AXSize"), Value(Size{55, 40}));
  EXPECT_EQ(text(read("/seven", "AXTitle")), "7");
  EXPECT_EQ(text(read("/bora", "AXTitle")), "Bora Bora") << "no label of that name";
  EXPECT_EQ(read("/seven", "AXEnabled"), Value(false)) << "GTK 4 tells \"sensitive\" alone";
  facts.add("/menu", ATSPI_ROLE_PUSH_BUTTON, {ATSPI_STATE_SENSITIVE}, "GtkMenuButton").description = "Main menu";
  EXPECT_TRUE(read("/menu", "AXTitle").isNone()) << "a class name is no name";
  EXPECT_EQ(read("/menu", "AXEnabled"), Value(true));

  // GTK 4's type names are no names, whoever they label; a mnemonic's doubled
  // name is named once; a two-word name may be a real one.
  facts.add("/editor", ATSPI_ROLE_TEXT, {}, "EditorSourceView");
  EXPECT_TRUE(read("/editor", "AXTitle").isNone());
  Facts& close = facts.add("/close", ATSPI_ROLE_PUSH_BUTTON, {}, "");
  close.labelledBy = {PreparedFacts::ref("/close/image")};
  facts.add("/close/image", ATSPI_ROLE_IMAGE, {}, "GtkImage");
  EXPECT_TRUE(read("/close", "AXTitle").isNone());
  Facts& retry = facts.add("/retry", ATSPI_ROLE_PUSH_BUTTON, {}, "_Retry Retry");
  retry.labelledBy = {PreparedFacts::ref("/retry/label")};
  facts.add("/retry/label", ATSPI_ROLE_LABEL, {}, "Retry");
  EXPECT_EQ(text(read("/retry", "AXTitle")), "Retry");
  facts.add("/office", ATSPI_ROLE_PUSH_BUTTON, {}, "LibreOffice");
  EXPECT_EQ(text(read("/office", "AXTitle")), "LibreOffice");
  facts.toolkit = {"GTK", 3};
  EXPECT_EQ(text(read("/editor", "AXTitle")), "EditorSourceView") << "GTK 3 names no widget by its type";

  facts.add("/notes", ATSPI_ROLE_ENTRY, {ATSPI_STATE_MULTI_LINE, ATSPI_STATE_EDITABLE});
  EXPECT_EQ(text(read("/notes", "AXRole")), "AXTextArea");
  Facts& document = facts.add("/document", ATSPI_ROLE_PARAGRAPH, {ATSPI_STATE_EDITABLE});
  document.text = "Hello writer";
  document.answered |= TEXT;
  EXPECT_EQ(text(read("/document", "AXRole")), "AXTextArea") << "LibreOffice's document";
  EXPECT_EQ(text(read("/document", "AXValue")), "Hello writer");
  facts.add("/paragraph", ATSPI_ROLE_PARAGRAPH);
  EXPECT_EQ(text(read("/paragraph", "AXRole")), "AXGroup") << "a web page's";
  facts.add("/dialog", ATSPI_ROLE_FILLER, {ATSPI_STATE_SHOWING}, "Settings");
  facts.add("/dialog/part", ATSPI_ROLE_FILLER);
  facts.adopt("/app", "/dialog");
  facts.adopt("/dialog", "/dialog/part");
  EXPECT_EQ(text(read("/dialog", "AXRole")), "AXWindow");
  EXPECT_EQ(text(read("/dialog/part", "AXRole")), "AXGroup");
  const Value windows = read("/app", "AXWindows");
  ASSERT_TRUE(windows.as<ValueList>());
  EXPECT_EQ(windows.as<ValueList>()->size(), 2u);
}

}  // namespace
}  // namespace kelp::platform::linux_desktop
