// Tasks in LibreOffice, each on a file the task makes, judged by what
// LibreOffice wrote: the saved document's XML, or its settings file.
#include <sys/stat.h>

#include <regex>

#include "tasks/task.h"

namespace kelp::test {
namespace {

class OfficeTasks : public TaskTest {
 protected:
  // A profile without the tip of the day, the first-run bars and the
  // desktop's file dialogs, so that LibreOffice opens as a person's would
  // after its first days.
  std::string profile(const std::string& name) {
    const std::string folder = work() + "/" + name;
    std::string items;
    for (const auto& [path, prop, value] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"/org.openoffice.Office.Common/Misc", "ShowTipOfTheDay", "false"},
             {"/org.openoffice.Office.Common/Misc", "FirstRun", "false"},
             {"/org.openoffice.Office.Common/Misc", "UseSystemFileDialog", "false"},
             {"/org.openoffice.Setup/Product", "ooSetupLastVersion", "7.4"},
             {"/org.openoffice.Setup/Product", "LastTimeGetInvolvedShown", std::to_string(::time(nullptr))},
             {"/org.openoffice.Setup/Product", "LastTimeDonateShown", std::to_string(::time(nullptr))},
             {"/org.openoffice.Setup/Office", "ooSetupInstCompleted", "true"}}) {
      items += "<item oor:path=\"" + path + "\"><prop oor:name=\"" + prop + "\" oor:op=\"fuse\"><value>" + value +
               "</value></prop></item>\n";
    }
    writeFile(folder + "/user/registrymodifications.xcu",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
              "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n" +
                  items + "</oor:items>\n");
    return folder;
  }
  // `text` written to NAME.txt or NAME.csv and converted to `format` by a
  // LibreOffice of its own; the converted file's path.
  std::string document(const std::string& source, const std::string& text, const std::string& format,
                       const std::string& extension) {
    writeFile(work() + "/" + source, text);
    const RunResult converted = run({"soffice", "-env:UserInstallation=file://" + profile("converter"), "--headless",
                                     "--convert-to", format, "--outdir", work(), work() + "/" + source});
    EXPECT_TRUE(converted.status.success()) << converted.err;
    return work() + "/" + source.substr(0, source.rfind('.')) + "." + extension;
  }
  // LibreOffice on `arguments` with a profile of the task's, and the
  // process that shows its windows (the one started hands over to it).
  Json open(const std::vector<std::string>& arguments, const std::string& title) {
    AppOptions options = program({"soffice", "-env:UserInstallation=file://" + profile("profile"), "--norestore",
                                  "--nologo"});
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.title = title;
    start(options);
    // The window's process: the one started hands over to soffice.bin.
    pid_t shown = 0;
    EXPECT_TRUE(eventually(
        [&] {
          const Json titles = ask({{"cmd", "windowtitles"}});
          for (const Json& window : titles["result"]["windows"]) {
            if (window.value("title", "") == title) shown = window.value("pid", 0);
          }
          return shown != 0;
        },
        std::chrono::milliseconds(20000)));
    pid_ = shown;
    return {{"pid", shown}};
  }
  // The element's ref in the window in front (or the one titled `window`),
  // once it shows; -1 when it does not.
  long shown(const std::string& role, const std::string& label, const std::string& window = "front") {
    const Json reply = askUntil(
        {{"cmd", "find"}, {"pid", pid_}, {"q", label}, {"window", window}, {"menus", false}, {"max", 3000}},
        [&](const Json& found) {
          for (const Json& node : found["result"]["elements"]) {
            if (node.value("role", "") == role && node.value("label", "") == label && node.contains("frame"))
              return true;
          }
          return false;
        });
    for (const Json& node : reply["result"]["elements"]) {
      if (node.value("role", "") == role && node.value("label", "") == label && node.contains("frame"))
        return node.value("ref", -1L);
    }
    return -1;
  }
  Json act(const Json& request, const std::string& window = "front") {
    return actOnceFound(
        with(request, {{"cmd", "act"}, {"pid", pid_}, {"window", window}, {"menus", false}, {"max", 3000}}));
  }
  Json clickShown(const std::string& role, const std::string& label, const std::string& window = "front") {
    const long ref = shown(role, label, window);
    EXPECT_GE(ref, 0) << role << " " << label << " did not show";
    return act({{"ref", ref}}, window);
  }
  // A menu item, again while LibreOffice still greys it out just after it
  // opened a document.
  void choose(const std::vector<std::string>& path) {
    askUntil({{"cmd", "menu"}, {"pid", pid_}, {"path", path}}, [](const Json& reply) { return reply.value("ok", false); });
  }
  // Whether a window titled with one of `parts` shows (or, with `shows`
  // false, none does any more) within 20 s.
  bool windowShows(const std::vector<std::string>& parts, bool shows = true) {
    return eventually(
        [&] {
          bool found = false;
          for (const std::string& title : titlesOf(pid_)) {
            for (const std::string& part : parts) found = found || title.find(part) != std::string::npos;
          }
          return found == shows;
        },
        std::chrono::milliseconds(20000));
  }
  bool windowShows(const std::string& part, bool shows = true) { return windowShows(std::vector{part}, shows); }
  static long modified(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mtim.tv_sec * 1000000000L + info.st_mtim.tv_nsec : 0;
  }
  // Saving in a format of Microsoft's asks whether to keep it.
  void keepFormat(const std::string& button) {
    ASSERT_TRUE(windowShows(std::vector<std::string>{"Keep current format", "Confirm File Format"}));
    const Json found = ask({{"cmd", "find"}, {"pid", pid_}, {"q", button}, {"window", "front"}, {"menus", false}});
    long ref = -1;
    for (const Json& node : found["result"]["elements"]) {
      if (node.value("role", "") == "AXButton" && node.value("label", "").starts_with(button)) ref = node["ref"];
    }
    ASSERT_GE(ref, 0) << found.dump();
    act({{"ref", ref}});
  }

  pid_t pid_ = 0;
};

const std::string SALES = "Item,Amount\nApples,120\nPears,45\nPlums,300\nFigs,12\nKiwis,80\nLimes,150\n";

TEST_F(OfficeTasks, CalcSumsAColumnInACellAndKeepsTheWorkbookXlsx) {
  const std::string sheet = document("sales.csv", SALES, "xlsx", "xlsx");
  open({sheet}, "sales.xlsx - LibreOffice Calc");
  const long before = modified(sheet);
  // Into the cell by a click, as a person goes there.
  ASSERT_GE(shown("AXCell", "B8"), 0);
  clickShown("AXCell", "B8");
  askOk({{"cmd", "typetext"}, {"pid", pid_}, {"text", "=SUM(B2:B7)"}});
  askOk({{"cmd", "key"}, {"pid", pid_}, {"key", "return"}});
  const Json total = askUntil({{"cmd", "find"}, {"pid", pid_}, {"q", "707"}, {"window", "front"}, {"menus", false}, {"max", 3000}},
                              [](const Json& reply) { return refOf(reply, "AXCell", "B8") >= 0; });
  EXPECT_GE(refOf(total, "AXCell", "B8"), 0) << "B8 shows the sum";
  askOk({{"cmd", "key"}, {"pid", pid_}, {"key", "s"}, {"mods", {"ctrl"}}});
  keepFormat("Use Excel");
  ASSERT_TRUE(eventually([&] { return modified(sheet) != before; }, std::chrono::milliseconds(15000)));
  const std::string cells = zipEntry(sheet, "xl/worksheets/sheet1.xml");
  EXPECT_TRUE(std::regex_search(cells, std::regex(R"re(<c r="B8"[^>]*><f[^>]*>SUM\(B2:B7\)</f>)re"))) << cells;
}

TEST_F(OfficeTasks, CalcInsertsASheetNamedSummaryAndSavesTheSpreadsheet) {
  const std::string sheet = document("sales.csv", SALES, "ods", "ods");
  open({sheet}, "sales.ods - LibreOffice Calc");
  ASSERT_GE(shown("AXCell", "A1"), 0);
  choose({"Sheet", "Insert Sheet..."});
  ASSERT_TRUE(windowShows("Insert Sheet"));
  act({{"locator", {{"role", "AXTextField"}, {"label", "Name:"}}}, {"action", "type"}, {"text", "Summary"}});
  clickShown("AXButton", "OK");
  ASSERT_TRUE(windowShows("Insert Sheet", false));
  const long before = modified(sheet);
  choose({"File", "Save"});
  ASSERT_TRUE(eventually([&] { return modified(sheet) != before; }, std::chrono::milliseconds(15000)));
  const std::string content = zipEntry(sheet, "content.xml");
  std::vector<std::string> names;
  const std::regex table(R"re(<table:table table:name="([^"]*)")re");
  for (auto it = std::sregex_iterator(content.begin(), content.end(), table); it != std::sregex_iterator(); ++it) {
    names.push_back((*it)[1]);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Summary", "sales"}));
}

TEST_F(OfficeTasks, WriterMakesOneWordBoldAndKeepsTheDocumentDocx) {
  const std::string letter = document("letter.txt", "Dear team,\nThis line has an important word in it.\nBest wishes\n",
                                      "docx:MS Word 2007 XML", "docx");
  open({letter}, "letter.docx - LibreOffice Writer");
  ASSERT_GE(shown("AXCheckBox", "Bold"), 0);
  // The word found and selected as a person does, through Find and Replace.
  askOk({{"cmd", "key"}, {"pid", pid_}, {"key", "h"}, {"mods", {"ctrl"}}});
  ASSERT_TRUE(windowShows("Find and Replace"));
  const Json typed = askOk({{"cmd", "typetext"}, {"pid", pid_}, {"text", "important"}, {"replace", true}});
  EXPECT_EQ(typed["result"]["landed"], true) << typed.dump();
  ASSERT_TRUE(eventually([&] {
    const Json found = ask({{"cmd", "find"}, {"pid", pid_}, {"q", "Find Next"}, {"window", "front"}, {"menus", false}});
    for (const Json& node : found["result"]["elements"]) {
      if (node.value("label", "") == "Find Next" && node.value("enabled", false)) return true;
    }
    return false;
  }));
  clickShown("AXButton", "Find Next");
  clickShown("AXButton", "Close");
  ASSERT_TRUE(windowShows("Find and Replace", false));
  askOk({{"cmd", "key"}, {"pid", pid_}, {"key", "b"}, {"mods", {"ctrl"}}});
  const long before = modified(letter);
  askOk({{"cmd", "key"}, {"pid", pid_}, {"key", "s"}, {"mods", {"ctrl"}}});
  keepFormat("Use Word");
  ASSERT_TRUE(eventually([&] { return modified(letter) != before; }, std::chrono::milliseconds(15000)));
  const std::string body = zipEntry(letter, "word/document.xml");
  std::string bold;
  const std::regex runs(R"re(<w:r>(.*?)</w:r>)re");
  for (auto it = std::sregex_iterator(body.begin(), body.end(), runs); it != std::sregex_iterator(); ++it) {
    const std::string inner = (*it)[1];
    std::smatch text;
    if (inner.find("<w:b/>") != std::string::npos && std::regex_search(inner, text, std::regex(R"re(<w:t[^>]*>([^<]*)</w:t>)re")))
      bold += text[1];
  }
  EXPECT_EQ(bold, "important") << body;
}

TEST_F(OfficeTasks, WriterReplacesEveryCatWithDogAndSavesTheText) {
  const std::string story = document("story.txt", "My cat sleeps all day.\nThe cat and another cat play.\nA bird is not a pet.\n",
                                     "odt", "odt");
  open({story}, "story.odt - LibreOffice Writer");
  // The menus take clicks once the document shows.
  ASSERT_GE(shown("AXTextArea", "My cat sleeps all day."), 0);
  choose({"Edit", "Find and Replace..."});
  ASSERT_TRUE(windowShows("Find and Replace"));
  const std::string dialog = "Find and Replace";
  act({{"locator", {{"role", "AXComboBox"}, {"label", "Find:"}}}, {"action", "type"}, {"text", "cat"}}, dialog);
  act({{"locator", {{"role", "AXComboBox"}, {"label", "Replace:"}}}, {"action", "type"}, {"text", "dog"}}, dialog);
  const Json replaced = clickShown("AXButton", "Replace All", dialog);
  clickShown("AXButton", "Close", dialog);
  ASSERT_TRUE(windowShows(dialog, false));
  const long before = modified(story);
  choose({"File", "Save"});
  ASSERT_TRUE(eventually([&] { return modified(story) != before; }, std::chrono::milliseconds(15000)));
  const std::string content = zipEntry(story, "content.xml");
  std::string text;
  const std::regex paragraph(R"re(<text:p[^>]*>([^<]*)</text:p>)re");
  for (auto it = std::sregex_iterator(content.begin(), content.end(), paragraph); it != std::sregex_iterator(); ++it) {
    text += std::string((*it)[1]) + "\n";
  }
  EXPECT_EQ(text, "My dog sleeps all day.\nThe dog and another dog play.\nA bird is not a pet.\n")
      << replaced.dump();
}

TEST_F(OfficeTasks, OptionsTakeTheUsersNameThroughTheTreeOfPages) {
  open({"--writer"}, "Untitled 1 - LibreOffice Writer");
  choose({"Tools", "Options..."});
  ASSERT_TRUE(windowShows("Options - LibreOffice"));
  // A fresh profile opens on User Data: another page first, so that the
  // click on its item is what brings it back.
  clickShown("AXCell", "General");
  ASSERT_TRUE(windowShows("Options - LibreOffice - General"));
  clickShown("AXCell", "User Data");
  ASSERT_TRUE(windowShows("Options - LibreOffice - User Data"));
  act({{"locator", {{"role", "AXTextField"}, {"label", "First name"}}}, {"action", "type"}, {"text", "Ada"}});
  act({{"locator", {{"role", "AXTextField"}, {"label", "Last name"}}}, {"action", "type"}, {"text", "Lovelace"}});
  clickShown("AXButton", "OK");
  const std::string settings = work() + "/profile/user/registrymodifications.xcu";
  const auto saved = [&](const std::string& key, const std::string& value) {
    return fileText(settings).find("<item oor:path=\"/org.openoffice.UserProfile/Data\"><prop oor:name=\"" + key +
                                   "\" oor:op=\"fuse\"><value>" + value + "</value>") != std::string::npos;
  };
  EXPECT_TRUE(eventually([&] { return saved("givenname", "Ada") && saved("sn", "Lovelace"); },
                         std::chrono::milliseconds(10000)))
      << fileText(settings);
}

TEST_F(OfficeTasks, OptionsSaveAutoRecoveryEveryThreeMinutes) {
  open({"--writer"}, "Untitled 1 - LibreOffice Writer");
  choose({"Tools", "Options..."});
  ASSERT_TRUE(windowShows("Options - LibreOffice"));
  clickShown("AXCell", "Load/Save");
  // The item is chosen; its first page opens as a person's keys open it.
  askOk({{"cmd", "key"}, {"pid", pid_}, {"key", "right"}});
  askOk({{"cmd", "key"}, {"pid", pid_}, {"key", "down"}});
  ASSERT_TRUE(windowShows("Options - Load/Save - General"));
  const Json check = clickShown("AXCheckBox", "Save AutoRecovery information every:");
  const Json minutes =
      ask({{"cmd", "find"}, {"pid", pid_}, {"q", "time interval"}, {"window", "front"}, {"menus", false}});
  long ref = -1;
  for (const Json& node : minutes["result"]["elements"]) {
    if (node.value("role", "") == "AXIncrementor" && node.contains("frame")) ref = node["ref"];
  }
  ASSERT_GE(ref, 0) << minutes.dump();
  act({{"ref", ref}, {"action", "type"}, {"text", "3"}});
  clickShown("AXButton", "OK");
  const std::string settings = work() + "/profile/user/registrymodifications.xcu";
  const auto saved = [&](const std::string& key, const std::string& value) {
    return fileText(settings).find("<prop oor:name=\"" + key + "\" oor:op=\"fuse\"><value>" + value + "</value>") !=
           std::string::npos;
  };
  EXPECT_TRUE(eventually([&] { return saved("AutoSave", "true") && saved("AutoSaveTimeIntervall", "3"); },
                         std::chrono::milliseconds(10000)))
      << check.dump() << fileText(settings);
}

}  // namespace
}  // namespace kelp::test
