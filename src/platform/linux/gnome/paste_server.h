// The clipboard of a Mutter remote desktop session, served from a thread of
// its own: when an application pastes, Mutter asks the session for the text
// (SelectionTransfer) and it is written into the pipe Mutter hands over
// (SelectionWrite). Served apart from the main thread, an application that
// pastes between requests, or long after, gets its text at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/linux/handles.h"

namespace kelp::platform::linux_desktop::gnome {

class PasteServer {
 public:
  // `bus` is the connection that made the session at `sessionPath`: Mutter
  // takes the session's calls from it alone.
  PasteServer(GRef<GDBusConnection> bus, std::string sessionPath);
  ~PasteServer();
  PasteServer(const PasteServer&) = delete;
  PasteServer& operator=(const PasteServer&) = delete;

  // The text for transfers from now on; the count of transfers served
  // before it, for waitServed.
  std::uint64_t offer(std::string text);
  // Whether a transfer after the first `before` was served within
  // `timeoutMs`.
  bool waitServed(std::uint64_t before, int timeoutMs);

 private:
  void run();
  static void onTransfer(GDBusConnection* bus, const gchar* sender, const gchar* path, const gchar* interface,
                         const gchar* signal, GVariant* parameters, gpointer self);
  void serve(const std::string& mimeType, std::uint32_t serial);

  GRef<GDBusConnection> bus_;
  const std::string sessionPath_;
  GMainContextOwner context_;
  std::atomic<bool> stopping_{false};

  std::mutex mutex_;
  std::condition_variable servedChanged_;
  std::string text_;
  std::uint64_t served_ = 0;
  bool subscribed_ = false;

  std::thread thread_;  // last: started once everything else is made
};

}  // namespace kelp::platform::linux_desktop::gnome
