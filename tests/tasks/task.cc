// The task fixture: one desktop per suite, a helper and a scratch folder per
// task, and the ways a task is judged from outside the helper.
#include "tasks/task.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kelp::test {

void TaskTest::SetUpTestSuite() {
  failure_.clear();
  try {
    desktop_ = std::make_unique<DesktopSession>();
  } catch (const std::exception& error) {
    failure_ = error.what();
  }
}

void TaskTest::TearDownTestSuite() { desktop_.reset(); }

void TaskTest::SetUp() {
  if (!desktop_) GTEST_FAIL() << failure_;
  work_ = std::make_unique<TempDir>("kelp-task");
  helper_ = desktop_->startHelper();
}

void TaskTest::TearDown() {
  if (helper_) {
    const std::optional<ExitStatus> status = helper_->finish();
    EXPECT_TRUE(status && status->success()) << (status ? status->describe() : "kelp-cua did not end");
    EXPECT_EQ(helper_->stderrText(), "");
  }
  for (auto it = started_.rbegin(); it != started_.rend(); ++it) {
    if ((*it)->process->running()) (*it)->process->terminate();
  }
  started_.clear();
  for (auto& process : processes_) {
    if (process->running()) process->terminate();
  }
  processes_.clear();
  reapOrphans();
}

DesktopApp& TaskTest::start(AppOptions options) {
  DesktopApp& app = desktop_->startApplication(std::move(options));
  started_.push_back(&app);
  return app;
}

Json TaskTest::ask(const Json& request) {
  const std::optional<Json> reply = helper_->request(request, Milliseconds(30000));
  EXPECT_TRUE(reply.has_value()) << "no reply to " << request.dump();
  return reply.value_or(Json::object());
}

Json TaskTest::askOk(const Json& request) {
  Json reply = ask(request);
  EXPECT_EQ(reply.value("ok", false), true) << request.dump() << " -> " << reply.dump();
  return reply;
}

Json TaskTest::askUntil(const Json& request, const std::function<bool(const Json&)>& done,
                        std::chrono::milliseconds limit) {
  Json reply;
  eventually(
      [&] {
        reply = ask(request);
        return done(reply);
      },
      limit);
  return reply;
}

Json TaskTest::actOnceFound(const Json& request) {
  const auto found = [](const Json& reply) {
    return reply.contains("result") && reply["result"].is_object() && reply["result"].value("found", false);
  };
  const Json reply = askUntil(request, found);
  EXPECT_TRUE(reply.value("ok", false) && found(reply)) << request.dump() << " -> " << reply.dump();
  return reply;
}

Json TaskTest::act(const Json& target, const std::string& role, const std::string& label, const Json& more) {
  const Json request =
      with({{"cmd", "act"}, {"locator", {{"role", role}, {"label", label}}}}, with(target, IN_FRONT));
  return actOnceFound(with(request, more));
}

long TaskTest::refOf(const Json& reply, const std::string& role, const std::string& text, const char* field) {
  if (!reply.contains("result") || !reply["result"].contains("elements")) return -1;
  for (const Json& node : reply["result"]["elements"]) {
    if (node.value("role", "") == role && node.value(field, "") == text) return node.value("ref", -1L);
  }
  return -1;
}

std::vector<std::string> TaskTest::titlesOf(pid_t pid) {
  std::vector<std::string> titles;
  for (const unsigned long window : desktop_->clientWindows()) {
    if (desktop_->windowPid(window) == pid) titles.push_back(desktop_->windowTitle(window));
  }
  return titles;
}

bool TaskTest::awaitTitle(pid_t pid, const std::string& part, std::chrono::milliseconds limit) {
  return eventually(
      [&] {
        for (const std::string& title : titlesOf(pid)) {
          if (title.find(part) != std::string::npos) return true;
        }
        return false;
      },
      limit);
}

std::string TaskTest::fileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void TaskTest::writeFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

Process& TaskTest::startProcess(std::vector<std::string> argv) {
  ProcessOptions options;
  options.argv = std::move(argv);
  options.environment = desktop_->environment();
  options.in = Stream::discarded();
  options.out = Stream::discarded();
  options.err = Stream::discarded();
  processes_.push_back(std::make_unique<Process>(std::move(options)));
  return *processes_.back();
}

std::string TaskTest::zipEntry(const std::string& archive, const std::string& entry) {
  const RunResult unzipped = run({"unzip", "-p", archive, entry});
  return unzipped.status.success() ? unzipped.out : std::string();
}

RunResult TaskTest::run(std::vector<std::string> argv, const std::string& input) {
  ProcessOptions options;
  options.argv = std::move(argv);
  options.environment = desktop_->environment();
  return runProgram(std::move(options), input, Milliseconds(30000));
}

}  // namespace kelp::test
