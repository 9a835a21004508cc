// Whole tasks in real applications, as an agent gives them: each is solved by
// requests to kelp-cua alone and judged by what the application wrote (its
// files, its settings, a server's log, the X server), never by the helper's
// own replies. One private X11 desktop per suite; each task starts its
// application with a profile of its own in a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/harness.h"

namespace kelp::test {

class TaskTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  DesktopSession& desktop() { return *desktop_; }
  // A scratch folder of this task, removed afterwards.
  const std::string& work() const { return work_->path(); }

  // Starts an application of the task; it is stopped when the task ends.
  DesktopApp& start(AppOptions options);

  // One request to the task's helper (one process for the whole task, as an
  // agent's parent keeps it) and its reply; a missing reply fails the task.
  Json ask(const Json& request);
  // The same, and the reply must be a success.
  Json askOk(const Json& request);
  // Asks until `done` holds of the reply, for at most `limit`.
  Json askUntil(const Json& request, const std::function<bool(const Json&)>& done,
                std::chrono::milliseconds limit = std::chrono::milliseconds(15000));
  // An "act" request, asked again while its element is not there yet (a
  // dialog's title shows before its controls do, and an agent looks again);
  // the element must be found and the action succeed.
  Json actOnceFound(const Json& request);
  // Acts on the first element of that role and label in the window in front.
  Json act(const Json& target, const std::string& role, const std::string& label, const Json& more = Json::object());

  // The ref of the first element of a tree or find reply with this role
  // whose label (or value) is `text` exactly; -1 when there is none.
  static long refOf(const Json& reply, const std::string& role, const std::string& text,
                    const char* field = "label");
  // The window titles of the application with this pid, front to back.
  std::vector<std::string> titlesOf(pid_t pid);
  // Waits until a window of that pid has a title holding `part`.
  bool awaitTitle(pid_t pid, const std::string& part, std::chrono::milliseconds limit = std::chrono::milliseconds(15000));

  // A file's contents; "" when it cannot be read.
  static std::string fileText(const std::string& path);
  // Writes a file of the task's, and its folders.
  static void writeFile(const std::string& path, const std::string& text);
  // One member of a zip archive (an OOXML or ODF document); "" when absent.
  std::string zipEntry(const std::string& archive, const std::string& entry);
  // Runs a program in the desktop and returns what it printed.
  RunResult run(std::vector<std::string> argv, const std::string& input = "");
  // Starts a program of the task's that shows no window (a server); it is
  // stopped when the task ends.
  Process& startProcess(std::vector<std::string> argv);

 private:
  static inline std::unique_ptr<DesktopSession> desktop_;
  static inline std::string failure_;
  std::unique_ptr<TempDir> work_;
  std::unique_ptr<HelperSession> helper_;
  std::vector<DesktopApp*> started_;
  std::vector<std::unique_ptr<Process>> processes_;
};

// The fields of a task's requests that look at the window in front without
// closed menus, as an agent does.
inline const Json IN_FRONT = {{"window", "front"}, {"menus", false}};

// `request` with the fields of `more` added.
inline Json with(Json request, const Json& more) {
  request.update(more);
  return request;
}

}  // namespace kelp::test
