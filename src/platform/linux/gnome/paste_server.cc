// Answering Mutter's requests for the offered text.
#include "platform/linux/gnome/paste_server.h"

#include <fcntl.h>
#include <gio/gunixfdlist.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/linux/session_bus.h"

namespace kelp::platform::linux_desktop::gnome {
namespace {

constexpr const char* MUTTER_REMOTE_DESKTOP = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* SESSION_INTERFACE = "org.gnome.Mutter.RemoteDesktop.Session";
// Mutter reads the pipe from its main loop; one that stops reading for this
// long gets what was written so far.
constexpr int WRITE_TIMEOUT_MS = 1000;

bool writeWithin(int fd, const std::string& text, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t done = 0;
  while (done < text.size()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd ready{fd, POLLOUT, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(left));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
    if (written < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

PasteServer::PasteServer(GRef<GDBusConnection> bus, std::string sessionPath)
    : bus_(std::move(bus)), sessionPath_(std::move(sessionPath)), context_(g_main_context_new()) {
  thread_ = std::thread([this] { run(); });
  // Transfers asked for before the subscription would go unanswered.
  std::unique_lock lock(mutex_);
  servedChanged_.wait(lock, [this] { return subscribed_; });
}

PasteServer::~PasteServer() {
  stopping_ = true;
  g_main_context_wakeup(context_.get());
  thread_.join();
}

void PasteServer::run() {
  g_main_context_push_thread_default(context_.get());
  // Signals are dispatched on the context that was the thread's default
  // when they were subscribed to: this thread's.
  const guint subscription = g_dbus_connection_signal_subscribe(
      bus_.get(), MUTTER_REMOTE_DESKTOP, SESSION_INTERFACE, "SelectionTransfer", sessionPath_.c_str(), nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, onTransfer, this, nullptr);
  {
    std::lock_guard lock(mutex_);
    subscribed_ = true;
  }
  servedChanged_.notify_all();
  while (!stopping_) g_main_context_iteration(context_.get(), TRUE);
  g_dbus_connection_signal_unsubscribe(bus_.get(), subscription);
  g_main_context_pop_thread_default(context_.get());
}

void PasteServer::onTransfer(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                             GVariant* parameters, gpointer self) {
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(su)"))) return;
  const gchar* mimeType = nullptr;
  guint32 serial = 0;
  g_variant_get(parameters, "(&su)", &mimeType, &serial);
  static_cast<PasteServer*>(self)->serve(mimeType ? mimeType : "", serial);
}

void PasteServer::serve(const std::string&, std::uint32_t serial) {
  // Only text is offered, as UTF-8, whichever of its names is asked for.
  std::string text;
  {
    std::lock_guard lock(mutex_);
    text = text_;
  }
  GUnixFDList* fds = nullptr;
  GVariantOwner reply(g_dbus_connection_call_with_unix_fd_list_sync(
      bus_.get(), MUTTER_REMOTE_DESKTOP, sessionPath_.c_str(), SESSION_INTERFACE, "SelectionWrite",
      g_variant_new("(u)", serial), G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, DBUS_CALL_TIMEOUT_MS,
      nullptr, &fds, nullptr, nullptr));
  GRef<GUnixFDList> fdList = GRef<GUnixFDList>::adopt(fds);
  bool written = false;
  if (reply && fdList) {
    gint32 handle = -1;
    g_variant_get(reply.get(), "(h)", &handle);
    const int fd = g_unix_fd_list_get(fdList.get(), handle, nullptr);
    if (fd >= 0) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      written = writeWithin(fd, text, WRITE_TIMEOUT_MS);
      ::close(fd);
    }
  }
  GVariantOwner done(g_dbus_connection_call_sync(bus_.get(), MUTTER_REMOTE_DESKTOP, sessionPath_.c_str(),
                                                 SESSION_INTERFACE, "SelectionWriteDone",
                                                 g_variant_new("(ub)", serial, written ? TRUE : FALSE), nullptr,
                                                 G_DBUS_CALL_FLAGS_NO_AUTO_START, DBUS_CALL_TIMEOUT_MS, nullptr,
                                                 nullptr));
  if (!written || !done) return;
  {
    std::lock_guard lock(mutex_);
    ++served_;
  }
  servedChanged_.notify_all();
}

std::uint64_t PasteServer::offer(std::string text) {
  std::lock_guard lock(mutex_);
  text_ = std::move(text);
  return served_;
}

bool PasteServer::waitServed(std::uint64_t before, int timeoutMs) {
  std::unique_lock lock(mutex_);
  return servedChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return served_ > before; });
}

}  // namespace kelp::platform::linux_desktop::gnome
