// The clipboard on a wlroots compositor, through its data control
// (zwlr_data_control_manager_v1), which lets a client without a window read
// and set the seat's selection.
//
// The clipboard has a Wayland connection of its own, dispatched from the
// GLib context that is the thread's default where it is made
// (ClipboardThread gives it a thread of its own), so that the compositor's
// requests for text this process copied are served at any time. Texts go
// through pipes, of any size: a reader that takes its time is written to
// from that context, piece by piece, never waited for.
#pragma once

#include <glib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/handles.h"
#include "platform/linux/wayland/connection.h"
#include "platform/platform.h"

struct wl_registry;
struct zwlr_data_control_manager_v1;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

namespace kelp::platform::linux_desktop::wayland {

class WaylandClipboard final : public Clipboard {
 public:
  // How long the clipboard's owner may take to start writing and to follow
  // each piece with the next, and all its writing together.
  static constexpr std::chrono::milliseconds ANSWER_WAIT{1000};
  static constexpr std::chrono::milliseconds READ_WAIT{10000};
  // A text read from another program may be at most this long: beyond it the
  // clipboard counts as holding no text.
  static constexpr std::size_t MAX_READ = std::size_t{64} << 20;

  WaylandClipboard();
  ~WaylandClipboard() override;
  WaylandClipboard(const WaylandClipboard&) = delete;
  WaylandClipboard& operator=(const WaylandClipboard&) = delete;

  // Whether the compositor offers data control for a seat.
  bool available() { return ready(); }
  // What this process holds while its offer is the selection, without
  // asking anyone; otherwise the owner's text through a pipe.
  std::optional<std::string> text() override;
  // True once the compositor took the offer as the selection.
  bool setText(const std::string& text) override;
  // How many times programs have asked for this process's text so far: a
  // paste shows as one more.
  std::uint64_t readsAsked() const { return readsAsked_; }

 private:
  // One text being written to a reader that could not take it at once.
  struct Delivery {
    WaylandClipboard* clipboard = nullptr;
    int fd = -1;
    std::shared_ptr<const std::string> text;
    std::size_t written = 0;
    GSourceOwner source;
  };
  struct Listeners;

  // The connection, the manager and a device for the seat, with the main
  // loop watching the connection; false where any cannot be had.
  bool ready();
  // Destroys every object of the connection, which is about to go.
  void forget();
  static gboolean readable(gint fd, GIOCondition condition, gpointer self);
  void send(zwlr_data_control_source_v1* source, int fd);
  static gboolean writable(gint fd, GIOCondition condition, gpointer delivery);
  void finish(Delivery* delivery);
  std::optional<std::string> read(zwlr_data_control_offer_v1* offer, const std::string& type);

  WaylandConnection connection_;
  std::uint64_t dropListener_ = 0;
  std::uint64_t generation_ = 0;  // the connection the objects below are on
  wl_display* display_ = nullptr;  // and that connection's display
  wl_registry* registry_ = nullptr;
  zwlr_data_control_manager_v1* manager_ = nullptr;
  zwlr_data_control_device_v1* device_ = nullptr;
  GSourceOwner watch_;
  // Offers the compositor introduced, with their types, and the one that is
  // the selection now.
  std::map<zwlr_data_control_offer_v1*, std::vector<std::string>> offers_;
  zwlr_data_control_offer_v1* selection_ = nullptr;
  // This process's offers not yet cancelled, and the one set last.
  std::map<zwlr_data_control_source_v1*, std::shared_ptr<const std::string>> sources_;
  zwlr_data_control_source_v1* owned_ = nullptr;
  std::list<Delivery> deliveries_;
  std::uint64_t readsAsked_ = 0;
};

}  // namespace kelp::platform::linux_desktop::wayland
