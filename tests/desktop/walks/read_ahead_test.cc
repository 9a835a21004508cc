// What a walk fetches ahead is what it would read one call at a time: the
// same records, in the same order, with the same paths, on every toolkit of
// the desktop tests. Each application is started in the widget factory's
// desktop and walked twice in this process, over the real Linux backend.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "ax/lookup.h"
#include "ax/node.h"
#include "desktop/in_process/linux_fixture.h"

namespace kelp::test {
namespace {

const std::string FORM_PAGE = std::string("file://") + KELP_SOURCE_DIR + "/tests/desktop/pages/form.html";
constexpr std::int64_t MAX_RECORDS = 400;

std::string describe(const ax::Node& node) {
  return node.path + " " + node.role + " \"" + node.label + "\" = \"" + node.value + "\"";
}

std::vector<std::string> lines(const std::vector<ax::Node>& nodes) {
  std::vector<std::string> described;
  for (const ax::Node& node : nodes) described.push_back(describe(node));
  return described;
}

class ReadAheadOnEveryToolkit : public CoreOnLinuxDesktop {
 protected:
  // Walks the application once fetching ahead and once without, once it
  // shows records with all of `labels` (a browser's page comes after its
  // window, and its reload button once the page is in), and expects the
  // same records. `name`: the application's name where it is not the
  // process started (a launcher script's).
  void expectTheSameWalks(const DesktopApp& started, const std::vector<std::string>& labels,
                          const std::optional<std::string>& name = std::nullopt) {
    std::vector<ax::Node> ahead;
    const auto shows = [&] {
      const std::optional<ax::AppPair> pair =
          name ? ax::appElement(os(), name, std::nullopt) : ax::appElement(os(), std::nullopt, started.pid());
      if (!pair) return false;
      element_ = pair->element;
      ahead = ax::walk(ax(), element_, MAX_RECORDS);
      return std::all_of(labels.begin(), labels.end(), [&](const std::string& label) {
        return std::any_of(ahead.begin(), ahead.end(), [&](const ax::Node& node) { return node.label == label; });
      });
    };
    std::string seen;
    if (!eventually(shows, std::chrono::milliseconds(20000))) {
      for (const ax::Node& node : ahead) seen += "\n  " + describe(node);
    }
    ASSERT_TRUE(seen.empty() && !ahead.empty()) << "the labels did not all show in:" << seen;
    // An application still settling (a page's last names coming in) may
    // change between two walks; a difference of the reads never settles.
    ax::WalkOptions alone;
    alone.snapshot = false;
    std::string difference;
    const auto same = [&] {
      const std::vector<std::string> aheadLines = lines(ax::walk(ax(), element_, MAX_RECORDS));
      const std::vector<std::string> singleLines = lines(ax::walk(ax(), element_, MAX_RECORDS, alone));
      // The first difference tells more than two lists of hundreds.
      const auto [differs, alsoDiffers] =
          std::mismatch(aheadLines.begin(), aheadLines.end(), singleLines.begin(), singleLines.end());
      if (differs == aheadLines.end() && alsoDiffers == singleLines.end()) return true;
      difference = std::to_string(aheadLines.size()) + " records fetched ahead, " +
                   std::to_string(singleLines.size()) + " read alone; first difference:\n  " +
                   (differs == aheadLines.end() ? "(none)" : *differs) + "\n  " +
                   (alsoDiffers == singleLines.end() ? "(none)" : *alsoDiffers);
      return false;
    };
    EXPECT_TRUE(eventually(same, std::chrono::milliseconds(10000))) << difference;
  }

  // Walks the application again, as last found by expectTheSameWalks,
  // expecting more than `records` records and not one AccessibleId asked for.
  void expectNoIdentifierAsked(std::size_t records) {
    const std::uint64_t identifiers = sent("org.freedesktop.DBus.Properties.Get AccessibleId");
    EXPECT_GT(walk(element_, MAX_RECORDS).size(), records);
    EXPECT_EQ(sent("org.freedesktop.DBus.Properties.Get AccessibleId"), identifiers);
  }

 private:
  platform::Element element_;
};

TEST_F(ReadAheadOnEveryToolkit, Gtk4) {
  DesktopApp& calculator = desktop().startApplication(program({"gnome-calculator"}));
  StopWhenDone stop{calculator};
  expectTheSameWalks(calculator, {"7"});
  // GTK 4 has no identifiers to give, so none is asked for.
  expectNoIdentifierAsked(50);
}

TEST_F(ReadAheadOnEveryToolkit, Qt5) {
  DesktopApp& featherpad = desktop().startApplication(program({"featherpad"}));
  StopWhenDone stop{featherpad};
  expectTheSameWalks(featherpad, {"Open"});
  // Qt 5's bridge has no identifiers: once it said so, it is not asked.
  expectNoIdentifierAsked(100);
}

TEST_F(ReadAheadOnEveryToolkit, Qt6) {
  DesktopApp& qt6ct = desktop().startApplication(program({"qt6ct"}));
  StopWhenDone stop{qt6ct};
  expectTheSameWalks(qt6ct, {"Appearance"});
}

TEST_F(ReadAheadOnEveryToolkit, Chromium) {
  TempDir profile("kelp-chromium");
  DesktopApp& chromium = desktop().startApplication(chromiumProgram(profile.path(), FORM_PAGE));
  StopWhenDone stop{chromium};
  expectTheSameWalks(chromium, {"Pay now", "Reload"});
}

// A container of more children than are listed whole gives those it shows,
// and is probed for table cells only where it is a table.
TEST_F(ReadAheadOnEveryToolkit, AHugeFormIsReadByWhatShowsNotAsATable) {
  TempDir pages("kelp-huge-form");
  const std::string page = pages.path() + "/huge.html";
  {
    std::ofstream html(page);
    html << "<!doctype html><title>Huge form</title><form>";
    for (int i = 0; i < 1500; ++i) html << "<button type=button>Action " << i << "</button>";
    html << "</form>";
  }
  TempDir profile("kelp-chromium");
  DesktopApp& chromium = desktop().startApplication(chromiumProgram(profile.path(), "file://" + page));
  StopWhenDone stop{chromium};
  const std::uint64_t probes = sent("Table.GetRowAtIndex");
  std::vector<ax::Node> nodes;
  const bool shown = eventually(
      [&] {
        const std::optional<ax::AppPair> pair = ax::appElement(os(), std::nullopt, chromium.pid());
        if (!pair) return false;
        nodes = ax::walk(ax(), pair->element, MAX_RECORDS);
        return std::any_of(nodes.begin(), nodes.end(), [](const ax::Node& node) { return node.label == "Action 0"; });
      },
      std::chrono::milliseconds(20000));
  ASSERT_TRUE(shown) << lines(nodes).size() << " records, none of them the first button";
  EXPECT_EQ(sent("Table.GetRowAtIndex"), probes);
}

TEST_F(ReadAheadOnEveryToolkit, Firefox) {
  TempDir profile("kelp-firefox");
  DesktopApp& firefox = desktop().startApplication(firefoxProgram(profile.path(), FORM_PAGE));
  StopWhenDone stop{firefox};
  expectTheSameWalks(firefox, {"Pay now", "Reload"});
  expectNoIdentifierAsked(20);
}

TEST_F(ReadAheadOnEveryToolkit, LibreOffice) {
  AppOptions options = program({"libreoffice", "--writer", "--norestore", "--nologo"});
  options.title = "Untitled 1 - LibreOffice Writer";
  DesktopApp& writer = desktop().startApplication(options);
  StopWhenDone stop{writer};
  expectTheSameWalks(writer, {"Close Document"}, "soffice");
}

}  // namespace
}  // namespace kelp::test
