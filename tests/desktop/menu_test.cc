// The menu command on mousepad's real menus: listing the bar and a menu,
// choosing an item that opens a dialog, and a title the menu lacks.
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/nodes.h"

namespace kelp::test {
namespace {

class DesktopMenu : public WidgetFactoryDesktop {
 protected:
  void SetUp() override {
    WidgetFactoryDesktop::SetUp();
    if (HasFatalFailure()) return;
    mousepad_ = &desktop().startApplication(program({"mousepad"}));
  }
  void TearDown() override {
    if (mousepad_ && mousepad_->process->running()) mousepad_->process->terminate();
  }
  Json menuRequest(Json fields) {
    fields["cmd"] = "menu";
    fields["pid"] = mousepad_->pid();
    return fields;
  }
  static std::vector<std::string> labels(const Json& reply) {
    std::vector<std::string> found;
    for (const Json& item : reply["result"]["items"]) found.push_back(item.value("label", ""));
    return found;
  }
  static const Json* item(const Json& reply, const std::string& label) {
    for (const Json& entry : reply["result"]["items"]) {
      if (entry.value("label", "") == label) return &entry;
    }
    return nullptr;
  }
  DesktopApp* mousepad_ = nullptr;
};

TEST_F(DesktopMenu, ListsTheMenuBarAndTheFileMenu) {
  std::vector<Json> replies = ask({menuRequest({{"id", 1}}), menuRequest({{"path", {"file"}}, {"list", true}})});
  ASSERT_EQ(replies.size(), 2u);
  const Json& bar = replies[0];
  EXPECT_EQ(bar["ok"], true) << bar.dump();
  EXPECT_EQ(bar["result"]["done"], false);
  const std::vector<std::string> titles = labels(bar);
  ASSERT_GE(titles.size(), 3u) << bar.dump();
  EXPECT_EQ(titles.front(), "File");
  EXPECT_EQ(titles.back(), "Help");
  for (const Json& entry : bar["result"]["items"]) EXPECT_EQ(entry.value("submenu", false), true) << entry.dump();

  const Json& file = replies[1];
  EXPECT_EQ(file["ok"], true) << file.dump();
  const Json* save = item(file, "Save");
  ASSERT_NE(save, nullptr) << file.dump();
  EXPECT_EQ(save->value("shortcut", ""), "S");
  EXPECT_FALSE(save->contains("submenu"));
  const Json* recent = item(file, "Open Recent");
  ASSERT_NE(recent, nullptr) << file.dump();
  EXPECT_EQ(recent->value("submenu", false), true);
}

TEST_F(DesktopMenu, ChoosingSaveAsOpensTheSaveDialog) {
  Json reply = askOne(menuRequest({{"id", 2}, {"path", {"File", "Save As"}}}));
  EXPECT_EQ(reply["ok"], true) << reply.dump();
  EXPECT_EQ(reply["result"]["done"], true);
  EXPECT_TRUE(contains(reply["result"].value("label", ""), "Save As")) << reply.dump();
  EXPECT_TRUE(reply["error"].is_null());

  // The dialog is one of mousepad's windows now.
  bool shown = eventually([&] {
    Json titles = askOne({{"cmd", "windowtitles"}});
    for (const Json& window : titles["result"]["windows"]) {
      if (window.value("pid", 0) == mousepad_->pid() && contains(window.value("title", ""), "Save As")) return true;
    }
    return false;
  });
  EXPECT_TRUE(shown);
}

TEST_F(DesktopMenu, AMissingTitleListsTheRealOnes) {
  Json reply = askOne(menuRequest({{"id", 3}, {"path", {"File", "Teleport"}}}));
  EXPECT_EQ(reply["ok"], false) << reply.dump();
  const std::string error = reply.value("error", "");
  const std::string start = "「Teleport」가 없어요. 여기 있는 것: ";
  EXPECT_EQ(error.substr(0, start.size()), start) << error;
  EXPECT_TRUE(contains(error, "Save · ")) << error;
  EXPECT_TRUE(contains(error, "Open Recent")) << error;
}

}  // namespace
}  // namespace kelp::test
