// Applications as desktop entries: finding the entry that opens an
// application, and starting one and telling when it is up.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/window_server.h"

namespace kelp::platform::linux_desktop {

// The file of the desktop entry that opens the application called `name`:
// the entry with that id (with or without ".desktop"); else one whose Name,
// plain or localized, equals it ignoring case; else one whose program's file
// name does. Entries that ask not to be shown (NoDisplay, or meant for other
// desktops) come after all others, so that a helper entry never wins over
// the application it belongs to; ties go to the smaller id.
std::optional<std::string> desktopEntryPath(const std::string& name);

// The folders desktop entries are installed in: the system's data folders'
// "applications" in their order, then the user's.
std::vector<std::string> desktopEntryFolders();

// The command an entry's Exec line runs when no files are given: field codes
// expanded as GLib expands them (%i, %c, %k; %f, %u and the like to
// nothing), then split as a shell would. None when the line does not parse
// or names no program.
std::optional<std::vector<std::string>> commandLineOf(std::string_view exec, const std::string& name,
                                                      const std::string& icon, const std::string& entryPath);

// What a Launcher shares with the threads watching its launches.
struct LaunchWatches;

// Starts applications from desktop entries and watches each on a thread of
// its own until it is up.
class Launcher {
 public:
  // `newWindowServer` gives each watch a connection of its own to the
  // window server, to see the new process's window come up.
  explicit Launcher(std::function<std::unique_ptr<WindowServer>()> newWindowServer);
  // Ends the watches: each still running reports failure and ends soon
  // after, without touching anything of this object.
  ~Launcher();
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;

  // Starts the desktop entry at `path` and calls `done` with the outcome:
  // true once the new process (or one it started) has a managed window, or
  // has ended without error (handing over to an instance already running),
  // or is still running long after anyone waited; false when the entry
  // cannot be started or the process ends in failure first. `done` is
  // called once, on the calling thread when the start fails and on the
  // watching thread otherwise.
  // `environment` is added to this process's own for the new one.
  void open(const std::string& path, const std::vector<std::pair<std::string, std::string>>& environment,
            std::function<void(bool)> done);

 private:
  std::function<std::unique_ptr<WindowServer>()> newWindowServer_;
  std::shared_ptr<LaunchWatches> watches_;
};

}  // namespace kelp::platform::linux_desktop
