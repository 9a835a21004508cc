// Tasks in the browsers: forms filled and sent to a server of the test's,
// judged by what the server received; a setting changed, judged by the
// profile Firefox writes.
#include <filesystem>
#include <sstream>

#include "tasks/task.h"

namespace kelp::test {
namespace {

class BrowserTasks : public TaskTest {
 protected:
  // Serves `page` (HTML) at /form.html of a server of the task's and gives
  // its address; what the server receives goes to submissions().
  std::string serve(const std::string& page) {
    writeFile(work() + "/site/form.html", page);
    startProcess({"python3", std::string(KELP_SOURCE_DIR) + "/tests/tasks/formserver.py", work() + "/site",
                  work() + "/received.jsonl", work() + "/port"});
    EXPECT_TRUE(eventually([&] { return !fileText(work() + "/port").empty(); }, std::chrono::milliseconds(10000)));
    return "http://127.0.0.1:" + fileText(work() + "/port") + "/form.html";
  }
  std::vector<Json> submissions() {
    std::vector<Json> received;
    std::istringstream lines(fileText(work() + "/received.jsonl"));
    for (std::string line; std::getline(lines, line);) received.push_back(Json::parse(line));
    return received;
  }

  DesktopApp& chromium(const std::string& url) {
    // Only as root, which the tests may run as: the product never does this.
    return start(program({"chromium", "--no-sandbox", "--force-renderer-accessibility",
                          "--user-data-dir=" + work() + "/chromium", "--no-first-run",
                          "--disable-background-networking", "--disable-component-update", "--disable-sync",
                          "--password-store=basic", url}));
  }
  // Firefox with a profile of its own, without its first-run pages.
  DesktopApp& firefox(const std::string& url) {
    std::string prefs;
    for (const char* pref :
         {"\"browser.shell.checkDefaultBrowser\", false", "\"browser.startup.homepage_override.mstone\", \"ignore\"",
          "\"startup.homepage_welcome_url\", \"\"", "\"browser.aboutwelcome.enabled\", false",
          "\"datareporting.policy.dataSubmissionEnabled\", false", "\"toolkit.telemetry.reportingpolicy.firstRun\", false",
          "\"app.update.auto\", false", "\"browser.tabs.warnOnClose\", false", "\"signon.rememberSignons\", false",
          "\"browser.formfill.enable\", false", "\"browser.safebrowsing.malware.enabled\", false",
          "\"browser.safebrowsing.phishing.enabled\", false", "\"network.captive-portal-service.enabled\", false",
          "\"network.connectivity-service.enabled\", false", "\"browser.translations.automaticallyPopup\", false"}) {
      prefs += std::string("user_pref(") + pref + ");\n";
    }
    writeFile(profile() + "/user.js", prefs);
    return start(program({"firefox-esr", "--no-remote", "--profile", profile(), url}));
  }
  std::string profile() const { return work() + "/firefox"; }

  // Waits until the page's control with this role and label shows on screen.
  void awaitControl(const Json& target, const std::string& role, const std::string& label) {
    const Json reply = askUntil(with({{"cmd", "find"}, {"q", label}}, with(target, IN_FRONT)), [&](const Json& found) {
      for (const Json& node : found["result"]["elements"]) {
        if (node.value("role", "") == role && node.contains("frame")) return true;
      }
      return false;
    }, std::chrono::milliseconds(40000));
    ASSERT_GE(refOf(reply, role, label), 0) << "the page's " << label << " did not show: " << reply.dump();
  }
};

TEST_F(BrowserTasks, ChromiumFillsASignupFormAndSendsIt) {
  const std::string url = serve(R"(<!doctype html><html><head><meta charset=utf-8><title>Signup form</title></head>
<body><form method=post action=/submit>
<p><label for=name>Full name</label> <input id=name name=name type=text></p>
<p><label for=email>Email address</label> <input id=email name=email type=email></p>
<p><label for=color>Favourite colour</label> <select id=color name=color><option value="">Choose one</option>
<option value=red>Red</option><option value=green>Green</option><option value=blue>Blue</option></select></p>
<p><input id=news name=news type=checkbox value=yes> <label for=news>Send me the newsletter</label></p>
<p><button type=submit>Send form</button></p></form></body></html>)");
  const DesktopApp& browser = chromium(url);
  const Json target = {{"pid", browser.pid()}};
  awaitControl(target, "AXButton", "Send form");
  act(target, "AXTextField", "Full name", {{"action", "type"}, {"text", "Ada Lovelace"}});
  act(target, "AXTextField", "Email address", {{"action", "type"}, {"text", "ada@example.org"}});
  act(target, "AXMenuItem", "Green");
  act(target, "AXCheckBox", "Send me the newsletter");
  // What the agent sees before it sends: the colour chosen.
  const Json tree = ask(with({{"cmd", "tree"}}, with(target, IN_FRONT)));
  EXPECT_GE(refOf(tree, "AXPopUpButton", "Green", "value"), 0) << tree.dump();
  act(target, "AXButton", "Send form");
  ASSERT_TRUE(awaitTitle(browser.pid(), "Thanks"));
  const std::vector<Json> received = submissions();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0]["fields"], Json::parse(R"({"name":["Ada Lovelace"],"email":["ada@example.org"],
                                                   "color":["green"],"news":["yes"]})"));
}

TEST_F(BrowserTasks, FirefoxSendsFeedbackWithARatingAndLinesOfComments) {
  const std::string url = serve(R"(<!doctype html><html><head><meta charset=utf-8><title>Feedback form</title></head>
<body><form method=post action=/submit><fieldset><legend>How was your visit?</legend>
<p><input type=radio id=r1 name=rating value=good> <label for=r1>Good</label>
<input type=radio id=r2 name=rating value=okay> <label for=r2>Okay</label>
<input type=radio id=r3 name=rating value=poor> <label for=r3>Poor</label></p></fieldset>
<p><label for=comments>Comments</label><br><textarea id=comments name=comments rows=5 cols=40></textarea></p>
<p><input type=submit value="Send feedback"></p></form></body></html>)");
  const DesktopApp& browser = firefox(url);
  const Json target = {{"pid", browser.pid()}};
  awaitControl(target, "AXButton", "Send feedback");
  act(target, "AXRadioButton", "Okay");
  act(target, "AXTextArea", "Comments", {{"action", "type"}, {"text", "Friendly staff.\nWill come back!"}});
  act(target, "AXButton", "Send feedback");
  ASSERT_TRUE(awaitTitle(browser.pid(), "Thanks"));
  const std::vector<Json> received = submissions();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0]["fields"]["rating"], Json::parse(R"(["okay"])"));
  // Browsers send a text area's lines parted by CR LF.
  EXPECT_EQ(received[0]["fields"]["comments"], Json::parse(R"(["Friendly staff.\r\nWill come back!"])"));
}

TEST_F(BrowserTasks, FirefoxTurnsOnASettingThatItsProfileKeeps) {
  const DesktopApp& browser = firefox("about:preferences");
  const Json target = {{"pid", browser.pid()}};
  awaitControl(target, "AXRadioButton", "Tabs and browsing");
  act(target, "AXRadioButton", "Tabs and browsing");
  const std::string setting = "Ctrl+Tab cycles through tabs in recently used order";
  awaitControl(target, "AXCheckBox", setting);
  const std::string pref = "user_pref(\"browser.ctrlTab.sortByRecentlyUsed\", true);";
  EXPECT_EQ(fileText(profile() + "/prefs.js").find(pref), std::string::npos);
  // A plain click: the check box has an access key, which Firefox once died
  // of when its actions were asked for.
  act(target, "AXCheckBox", setting);
  EXPECT_TRUE(eventually([&] { return fileText(profile() + "/prefs.js").find(pref) != std::string::npos; },
                         std::chrono::milliseconds(10000)));
  EXPECT_TRUE(browser.process->running()) << "Firefox ended";
}

}  // namespace
}  // namespace kelp::test
