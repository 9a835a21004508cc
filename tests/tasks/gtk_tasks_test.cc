// Tasks in GTK applications: folders made and renamed in Files (GTK 4), a
// pipeline in a terminal, a file opened and a note saved through the file
// choosers of GTK 3 and GTK 4. Judged by the files on disk, the X server's
// window titles and what the terminal wrote.
#include <filesystem>

#include "tasks/task.h"

namespace kelp::test {
namespace {

namespace fs = std::filesystem;

class GtkTasks : public TaskTest {
 protected:
  // The first element of that role and label in the window in front, once
  // it shows; null when it does not.
  Json awaitElement(const Json& target, const std::string& role, const std::string& label) {
    Json element;
    askUntil(with({{"cmd", "find"}, {"q", label}}, with(target, IN_FRONT)), [&](const Json& reply) {
      for (const Json& node : reply["result"]["elements"]) {
        if (node.value("role", "") == role && node.value("label", "") == label) element = node;
      }
      return !element.is_null();
    });
    return element;
  }
};

TEST_F(GtkTasks, FilesMakesAFolderAndRenamesIt) {
  const std::string folder = work() + "/work";
  writeFile(folder + "/existing.txt", "x\n");
  const DesktopApp& files = start(program({"nautilus", "--new-window", folder}));
  const Json target = {{"pid", files.pid()}};
  ASSERT_FALSE(awaitElement(target, "AXCell", "existing.txt").is_null());
  askOk({{"cmd", "key"}, {"pid", files.pid()}, {"key", "n"}, {"mods", {"ctrl", "shift"}}});
  ASSERT_TRUE(awaitTitle(files.pid(), "New Folder"));
  act(target, "AXTextArea", "Folder name", {{"action", "type"}, {"text", "Reports 2024"}});
  ASSERT_TRUE(eventually([&] { return awaitElement(target, "AXButton", "Create").value("enabled", false); }));
  act(target, "AXButton", "Create");
  ASSERT_TRUE(eventually([&] { return fs::is_directory(folder + "/Reports 2024"); }));
  act(target, "AXCell", "Reports 2024");
  askOk({{"cmd", "key"}, {"pid", files.pid()}, {"key", "f2"}});
  ASSERT_FALSE(awaitElement(target, "AXTextArea", "New Filename").is_null());
  act(target, "AXTextArea", "New Filename", {{"action", "type"}, {"text", "Archive ünïcode"}});
  act(target, "AXButton", "Rename");
  ASSERT_TRUE(eventually([&] { return fs::is_directory(folder + "/Archive ünïcode"); }));
  std::vector<std::string> listing;
  for (const auto& entry : fs::directory_iterator(folder)) listing.push_back(entry.path().filename());
  std::sort(listing.begin(), listing.end());
  EXPECT_EQ(listing, (std::vector<std::string>{"Archive ünïcode", "existing.txt"}));
}

TEST_F(GtkTasks, ATerminalRunsAPipelineWhoseOutputIsReadBack) {
  const DesktopApp& terminal = start(program({"xfce4-terminal", "--disable-server", "--working-directory=" + work()}));
  const Json target = {{"pid", terminal.pid()}};
  ASSERT_FALSE(awaitElement(target, "AXTextArea", "Terminal").is_null());
  const std::string command = "printf 'kelp %s\\n' $((6*7)) | tee " + work() + "/out.txt";
  const Json typed = askOk({{"cmd", "typetext"}, {"pid", terminal.pid()}, {"text", command}});
  EXPECT_EQ(typed["result"]["landed"], true) << typed.dump();
  askOk({{"cmd", "key"}, {"pid", terminal.pid()}, {"key", "return"}});
  // The output line, read back from what the terminal shows.
  const Json shown = askUntil(with({{"cmd", "find"}, {"q", "\nkelp 42\n"}}, with(target, IN_FRONT)),
                              [](const Json& reply) { return !reply["result"]["elements"].empty(); });
  ASSERT_FALSE(shown["result"]["elements"].empty()) << shown.dump();
  EXPECT_TRUE(eventually([&] { return fileText(work() + "/out.txt") == "kelp 42\n"; }));
}

TEST_F(GtkTasks, AFileOpensThroughTheGtk3FileChooser) {
  const std::string path = work() + "/docs/notes-kelp.txt";
  writeFile(path, "Buy milk\nCall Ada\n");
  const DesktopApp& editor = start(program({"mousepad"}));
  const Json target = {{"pid", editor.pid()}};
  askOk({{"cmd", "key"}, {"pid", editor.pid()}, {"key", "o"}, {"mods", {"ctrl"}}});
  ASSERT_TRUE(awaitTitle(editor.pid(), "Open File"));
  askOk({{"cmd", "key"}, {"pid", editor.pid()}, {"key", "l"}, {"mods", {"ctrl"}}});
  ASSERT_FALSE(awaitElement(target, "AXTextField", "Location").is_null());
  act(target, "AXTextField", "Location", {{"action", "type"}, {"text", path}});
  act(target, "AXButton", "Open");
  // The X server's title of the window, and the text it shows.
  EXPECT_TRUE(awaitTitle(editor.pid(), path + " - Mousepad"));
  const Json tree = ask(with({{"cmd", "tree"}}, with(target, IN_FRONT)));
  EXPECT_GE(refOf(tree, "AXTextArea", "Buy milk\nCall Ada\n", "value"), 0) << tree.dump();
}

TEST_F(GtkTasks, ANoteIsSavedThroughTheGtk4FileChooser) {
  const DesktopApp& editor = start(program({"gnome-text-editor", "--standalone"}));
  const Json target = {{"pid", editor.pid()}};
  ASSERT_TRUE(eventually(
      [&] {
        const Json tree = ask(with({{"cmd", "tree"}}, with(target, IN_FRONT)));
        for (const Json& node : tree["result"]["elements"]) {
          if (node.value("role", "") == "AXTextArea") return true;
        }
        return false;
      },
      std::chrono::milliseconds(15000)));
  const Json typed = askOk({{"cmd", "typetext"}, {"pid", editor.pid()}, {"text", "Shopping list\nmilk"}});
  EXPECT_EQ(typed["result"]["landed"], true) << typed.dump();
  askOk({{"cmd", "key"}, {"pid", editor.pid()}, {"key", "s"}, {"mods", {"ctrl", "shift"}}});
  ASSERT_TRUE(awaitTitle(editor.pid(), "Save As"));
  // The name field holds a suggested name, which the full path replaces.
  const std::string path = work() + "/notes/list.txt";
  fs::create_directories(work() + "/notes");
  act(target, "AXTextArea", "Name:", {{"action", "type"}, {"text", path}});
  act(target, "AXButton", "Save");
  EXPECT_TRUE(eventually([&] { return fileText(path) == "Shopping list\nmilk\n"; })) << fileText(path);
}

}  // namespace
}  // namespace kelp::test
