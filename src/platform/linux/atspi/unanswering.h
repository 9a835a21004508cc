// Applications that stopped answering, remembered from one request to the
// next. A stopped or hung application would otherwise cost the AT-SPI
// timeout to every request that meets it, several times over (its name in
// the list of applications, the route to its socket, each burst of reads),
// also requests about other applications. Once it let one call time out,
// calls to it fail at once, and a ping (org.freedesktop.DBus.Peer) stays in
// flight on the accessibility bus: once that is answered, the application is
// asked as before. The ping completes on the main loop, between requests;
// nobody waits for it.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/linux/handles.h"

namespace kelp::platform::linux_desktop {

class UnansweringApplications {
 public:
  // Whether calls to the application at unique name `bus` are to fail at once.
  bool holds(const std::string& bus);
  // The application let a call time out or went away.
  void note(const std::string& bus);

  // The last name the application told, for lists that show it while it is silent.
  void rememberName(const std::string& bus, const std::string& name) { names_[bus] = name; }
  std::optional<std::string> rememberedName(const std::string& bus) const;

 private:
  void ping(const std::string& bus);
  // A null ping: the application is gone (a unique name never comes back).
  std::map<std::string, DBusPendingCallOwner, std::less<>> pings_;
  std::map<std::string, std::string, std::less<>> names_;
};

// The one memory of this process, like libatspi's own state. Main thread only.
UnansweringApplications& unansweringApplications();

}  // namespace kelp::platform::linux_desktop
