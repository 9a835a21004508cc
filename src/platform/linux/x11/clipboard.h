// The X clipboard (the CLIPBOARD selection) as text, on a connection and a
// hidden window of its own. The owner's side is served from the GLib context
// that is the thread's default where it is made (ClipboardThread gives it a
// thread of its own), so other programs can paste what this process copied
// at any time; reading asks the owner and waits a bounded time.
//
// Texts of any size go both ways: one larger than a request carries travels
// in pieces (the ICCCM's INCR). Targets answered: TARGETS, TIMESTAMP,
// UTF8_STRING, text/plain;charset=utf-8, STRING (ISO 8859-1) and TEXT; not
// MULTIPLE, which today's toolkits do not ask for.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/handles.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

class XClipboard final : public Clipboard {
 public:
  // How long an owner may take to answer, and each piece of an incremental
  // transfer to follow the one before.
  static constexpr std::chrono::milliseconds ANSWER_WAIT{1000};
  // A text read from another program may be at most this long: beyond it the
  // clipboard counts as holding no text.
  static constexpr std::size_t MAX_READ = std::size_t{64} << 20;

  XClipboard() = default;
  ~XClipboard() override;
  XClipboard(const XClipboard&) = delete;
  XClipboard& operator=(const XClipboard&) = delete;

  // Whether there is an X display to hold a clipboard (opening the
  // connection if need be).
  bool available() { return ready(); }
  // What this process holds while it owns the clipboard, without asking
  // anyone; otherwise the owner's UTF8_STRING (else its STRING), read into a
  // property of the window while requests from others are still served.
  std::optional<std::string> text() override;
  // Owns the clipboard from a fresh server time on and checks that the
  // server agrees; the text is served until another program takes it.
  bool setText(const std::string& text) override;

 private:
  struct Atoms {
    Atom clipboard, targets, timestamp, incr, utf8, textPlainUtf8, text, receive, stamp;
  };
  // One text on its way to a requestor in pieces.
  struct Outgoing {
    Window requestor = None;
    Atom property = None;
    Atom type = None;
    std::shared_ptr<const std::string> data;
    std::size_t sent = 0;
    std::chrono::steady_clock::time_point lastStep;
  };
  struct EventSource;

  // Opens the connection, the window and the main loop's source when there
  // are none (or the connection broke); false without a display.
  bool ready();
  void close();
  static void onConnectionLost(Display*, void* self);
  std::optional<Time> serverTime();
  // Handles every event there is without waiting for more.
  void serveQueued();
  // The next event, waiting until `deadline` at most.
  bool nextEvent(XEvent& event, std::chrono::steady_clock::time_point deadline);
  void handle(const XEvent& event);
  void answer(const XSelectionRequestEvent& request);
  // Puts the clipboard converted to `target` into `property`; false when it
  // cannot be converted to that target.
  bool convert(Window requestor, Atom target, Atom property);
  void put(Window requestor, Atom property, Atom type, std::shared_ptr<const std::string> data);
  void advance(const XPropertyEvent& event);
  void forgetStaleTransfers();
  void stopWatchingIfDone(Window requestor);
  std::optional<std::string> receive(Atom target, Time time, std::chrono::steady_clock::time_point& deadline,
                                     bool& refused);
  // The receiving property's value, deleted as it is read.
  struct Read {
    Atom type = None;
    int format = 0;
    std::string bytes;
  };
  std::optional<Read> takeProperty();

  DisplayOwner display_;
  bool lost_ = false;
  Atoms atoms_{};
  Window window_ = None;
  std::size_t pieceSize_ = 0;
  GSourceOwner source_;
  // The text served while this process owns the clipboard, and since when.
  std::shared_ptr<const std::string> held_;
  Time ownedSince_ = CurrentTime;
  std::vector<Outgoing> outgoing_;
};

}  // namespace kelp::platform::linux_desktop
