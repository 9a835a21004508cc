// A clipboard served from a thread of its own. Another program may ask for
// the text this process copied at any moment, also while a request keeps
// the main thread busy (a paste that "key" ctrl+V caused, answered while
// "wait" watches for it to land); served from the main loop, it would wait
// until the request ended, and the application pasting it with it.
//
// The clipboard object is made, used and destroyed on that thread only,
// with the thread's GLib context as its default, so its sources are
// dispatched there; the main thread's calls are handed over and waited for.
#pragma once

#include <glib.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

template <typename Served>
class ClipboardThread final : public Clipboard {
 public:
  ClipboardThread() : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
    thread_ = std::thread([this] {
      g_main_context_push_thread_default(context_);
      g_main_loop_run(loop_);
      // Whatever the clipboard attached goes before the context does.
      clipboard_.reset();
      g_main_context_pop_thread_default(context_);
    });
  }

  ~ClipboardThread() override {
    onThread([this] {
      g_main_loop_quit(loop_);
      return true;
    });
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
  }

  ClipboardThread(const ClipboardThread&) = delete;
  ClipboardThread& operator=(const ClipboardThread&) = delete;

  bool available() {
    return onThread([this] { return served().available(); });
  }
  std::optional<std::string> text() override {
    return onThread([this] { return served().text(); });
  }
  bool setText(const std::string& text) override {
    return onThread([this, &text] { return served().setText(text); });
  }
  // `read(clipboard)` on the clipboard's thread, for what only a clipboard
  // of that kind can tell.
  template <typename Read>
  auto ask(Read read) -> decltype(read(std::declval<Served&>())) {
    return onThread([this, &read] { return read(served()); });
  }

 private:
  Served& served() {
    if (!clipboard_) clipboard_ = std::make_unique<Served>();
    return *clipboard_;
  }

  // Runs `work` on the clipboard's thread and waits for its result.
  template <typename Work>
  auto onThread(Work work) -> decltype(work()) {
    using Result = decltype(work());
    struct Call {
      Work* work;
      std::optional<Result> result;
      std::mutex mutex;
      std::condition_variable finished;
    } call{&work, std::nullopt, {}, {}};
    g_main_context_invoke(
        context_,
        [](gpointer data) -> gboolean {
          auto* pending = static_cast<Call*>(data);
          Result result = (*pending->work)();
          const std::lock_guard lock(pending->mutex);
          pending->result.emplace(std::move(result));
          pending->finished.notify_one();
          return G_SOURCE_REMOVE;
        },
        &call);
    std::unique_lock lock(call.mutex);
    call.finished.wait(lock, [&] { return call.result.has_value(); });
    return std::move(*call.result);
  }

  GMainContext* context_;
  GMainLoop* loop_;
  std::unique_ptr<Served> clipboard_;  // on the thread only
  std::thread thread_;
};

}  // namespace kelp::platform::linux_desktop
