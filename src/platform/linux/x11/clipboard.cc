// Owning and reading the X clipboard, on a connection of its own; serving
// it to others is in clipboard_serve.cc.
#include "platform/linux/x11/clipboard.h"

#include <X11/Xatom.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <iterator>

#include "platform/linux/x11/display.h"

namespace kelp::platform::linux_desktop {
namespace {

using Clock = std::chrono::steady_clock;

int ignoreXError(Display*, XErrorEvent*) { return 0; }
int ignoreXIOError(Display*) { return 0; }

// Requests about a requestor's window fail when it goes away meanwhile, and
// Xlib's default reactions to that and to a broken connection print and end
// the process. Quiet handlers go in only where nobody (the main display, or
// GTK with its error traps) has put handlers of their own: the current
// handler is the default one when setting the default hands it back.
void installQuietHandlers() {
  const XErrorHandler error = XSetErrorHandler(nullptr);
  const XErrorHandler defaultError = XSetErrorHandler(error);
  if (error == defaultError) XSetErrorHandler(ignoreXError);
  const XIOErrorHandler ioError = XSetIOErrorHandler(nullptr);
  const XIOErrorHandler defaultIOError = XSetIOErrorHandler(ioError);
  if (ioError == defaultIOError) XSetIOErrorHandler(ignoreXIOError);
}

std::string utf8FromLatin1(const std::string& latin1) {
  std::string text;
  text.reserve(latin1.size() * 2);
  for (const char byte : latin1) {
    const auto c = static_cast<unsigned char>(byte);
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else {
      text += static_cast<char>(0xc0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3f));
    }
  }
  return text;
}

// The seam's text is UTF-8; an owner may send anything.
std::string validUtf8(const std::string& bytes) {
  if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return bytes;
  const GCharOwner valid(g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size())));
  return valid.get();
}

}  // namespace

struct XClipboard::EventSource {
  GSource base;
  XClipboard* clipboard;
  gpointer fd;

  // Xlib reads events into its own queue during any request that waits for
  // a reply, where the descriptor no longer shows them: the queue is looked
  // at as well as the descriptor. Requests queued by the last dispatch go
  // out before the loop sleeps.
  static gboolean prepare(GSource* source, gint* timeout) {
    *timeout = -1;
    XClipboard* self = reinterpret_cast<EventSource*>(source)->clipboard;
    if (self->lost_) return TRUE;
    XFlush(self->display_.get());
    return XEventsQueued(self->display_.get(), QueuedAlready) > 0;
  }

  static gboolean check(GSource* source) {
    auto* events = reinterpret_cast<EventSource*>(source);
    XClipboard* self = events->clipboard;
    if (self->lost_) return TRUE;
    return g_source_query_unix_fd(source, events->fd) != 0 ||
           XEventsQueued(self->display_.get(), QueuedAlready) > 0;
  }

  static gboolean dispatch(GSource* source, GSourceFunc, gpointer) {
    XClipboard* self = reinterpret_cast<EventSource*>(source)->clipboard;
    if (!self->lost_) self->serveQueued();
    // A broken connection is closed at the next use; until then it must not
    // be polled.
    return self->lost_ ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
  }

  static GSourceFuncs funcs;
};

GSourceFuncs XClipboard::EventSource::funcs = {&EventSource::prepare, &EventSource::check, &EventSource::dispatch,
                                               nullptr, nullptr, nullptr};

XClipboard::~XClipboard() { close(); }

void XClipboard::onConnectionLost(Display*, void* self) { static_cast<XClipboard*>(self)->lost_ = true; }

bool XClipboard::ready() {
  if (display_ && lost_) close();
  if (display_) return true;
  static const bool handlersInstalled = [] {
    installQuietHandlers();
    return true;
  }();
  (void)handlersInstalled;
  display_.reset(openDisplayQuietly());
  if (!display_) return false;
  Display* x = display_.get();
  XSetIOErrorExitHandler(x, &XClipboard::onConnectionLost, this);

  const char* names[] = {"CLIPBOARD", "TARGETS", "TIMESTAMP", "INCR", "UTF8_STRING", "text/plain;charset=utf-8",
                         "TEXT", "_KELP_CLIPBOARD", "_KELP_TIMESTAMP"};
  Atom interned[std::size(names)] = {};
  XInternAtoms(x, const_cast<char**>(names), static_cast<int>(std::size(names)), False, interned);
  atoms_ = {interned[0], interned[1], interned[2], interned[3], interned[4],
            interned[5], interned[6], interned[7], interned[8]};

  // Unmapped and input-only: it exists only to own the selection and to
  // receive properties.
  XSetWindowAttributes attributes{};
  attributes.event_mask = PropertyChangeMask;
  window_ = XCreateWindow(x, DefaultRootWindow(x), -1, -1, 1, 1, 0, 0, InputOnly, CopyFromParent, CWEventMask,
                          &attributes);
  // A ChangeProperty request's own fields take 24 bytes.
  pieceSize_ = static_cast<std::size_t>(XMaxRequestSize(x)) * 4 - 24;

  GSource* raw = g_source_new(&EventSource::funcs, sizeof(EventSource));
  source_.reset(raw);
  auto* events = reinterpret_cast<EventSource*>(raw);
  events->clipboard = this;
  events->fd = g_source_add_unix_fd(raw, ConnectionNumber(x), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
  g_source_attach(raw, g_main_context_get_thread_default());
  XFlush(x);
  if (lost_) {
    close();
    return false;
  }
  return true;
}

void XClipboard::close() {
  if (source_) g_source_destroy(source_.get());
  source_.reset();
  held_.reset();
  outgoing_.clear();
  window_ = None;
  // The window, and with it the selection, go with the connection.
  display_.reset();
  lost_ = false;
}

std::optional<Time> XClipboard::serverTime() {
  Display* x = display_.get();
  // The server stamps the notification of a property change with its time;
  // a zero-length append changes nothing else.
  XChangeProperty(x, window_, atoms_.stamp, XA_STRING, 8, PropModeAppend, nullptr, 0);
  XSync(x, False);
  std::optional<Time> time;
  XEvent event;
  while (!lost_ && XCheckTypedWindowEvent(x, window_, PropertyNotify, &event)) {
    if (event.xproperty.atom == atoms_.stamp) time = event.xproperty.time;
  }
  if (lost_) return std::nullopt;
  return time;
}

bool XClipboard::setText(const std::string& text) {
  if (!ready()) return false;
  Display* x = display_.get();
  const std::optional<Time> now = serverTime();
  if (!now) return false;
  XSetSelectionOwner(x, atoms_.clipboard, window_, *now);
  // The server refuses a time older than the selection's last change.
  if (XGetSelectionOwner(x, atoms_.clipboard) != window_ || lost_) {
    held_.reset();
    return false;
  }
  held_ = std::make_shared<const std::string>(text);
  ownedSince_ = *now;
  return true;
}

std::optional<std::string> XClipboard::text() {
  if (!ready()) return std::nullopt;
  const Window owner = XGetSelectionOwner(display_.get(), atoms_.clipboard);
  if (lost_ || owner == None) return std::nullopt;
  // Asking the server rather than trusting the last SelectionClear seen:
  // one may still be on its way.
  if (owner == window_) {
    if (!held_) return std::nullopt;
    return *held_;
  }
  const std::optional<Time> now = serverTime();
  if (!now) return std::nullopt;
  auto deadline = Clock::now() + ANSWER_WAIT;
  for (const Atom target : {atoms_.utf8, atoms_.textPlainUtf8, static_cast<Atom>(XA_STRING)}) {
    bool refused = false;
    std::optional<std::string> text = receive(target, *now, deadline, refused);
    // An owner that does not answer is not asked again.
    if (text || !refused) return text;
  }
  return std::nullopt;
}

std::optional<std::string> XClipboard::receive(Atom target, Time time, Clock::time_point& deadline, bool& refused) {
  Display* x = display_.get();
  XDeleteProperty(x, window_, atoms_.receive);
  XConvertSelection(x, atoms_.clipboard, target, atoms_.receive, window_, time);
  XFlush(x);
  bool incremental = false;
  Atom pieceType = None;
  std::string pieces;
  const auto decode = [&](Atom type, int format, const std::string& bytes) -> std::optional<std::string> {
    if (format == 8 && (type == atoms_.utf8 || type == atoms_.textPlainUtf8)) return validUtf8(bytes);
    if (format == 8 && type == XA_STRING) return utf8FromLatin1(bytes);
    refused = true;
    return std::nullopt;
  };
  XEvent event;
  while (nextEvent(event, deadline)) {
    const XSelectionEvent& notify = event.xselection;
    if (!incremental && event.type == SelectionNotify && notify.requestor == window_ &&
        notify.selection == atoms_.clipboard && notify.target == target &&
        (notify.time == time || notify.time == CurrentTime)) {
      if (notify.property == None) {
        refused = true;
        return std::nullopt;
      }
      std::optional<Read> read = takeProperty();
      if (!read) return std::nullopt;
      if (read->type != atoms_.incr) return decode(read->type, read->format, read->bytes);
      // Deleting the INCR property (done by reading it) asks for the first piece.
      incremental = true;
      deadline = Clock::now() + ANSWER_WAIT;
      continue;
    }
    const XPropertyEvent& change = event.xproperty;
    if (incremental && event.type == PropertyNotify && change.window == window_ && change.atom == atoms_.receive &&
        change.state == PropertyNewValue) {
      std::optional<Read> piece = takeProperty();
      if (!piece) return std::nullopt;
      // An empty piece ends the text.
      if (piece->bytes.empty()) return decode(pieceType, 8, pieces);
      if (piece->format != 8 || pieces.size() + piece->bytes.size() > MAX_READ) return std::nullopt;
      pieceType = piece->type;
      pieces += piece->bytes;
      deadline = Clock::now() + ANSWER_WAIT;
      continue;
    }
    handle(event);
  }
  return std::nullopt;
}

std::optional<XClipboard::Read> XClipboard::takeProperty() {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* raw = nullptr;
  const int status = XGetWindowProperty(display_.get(), window_, atoms_.receive, 0, (MAX_READ + 3) / 4, True,
                                        AnyPropertyType, &type, &format, &count, &remaining, &raw);
  const XMemory<unsigned char> data(raw);
  if (status != Success || lost_ || type == None) return std::nullopt;
  // Too long to take: the server kept it.
  if (remaining > 0) {
    XDeleteProperty(display_.get(), window_, atoms_.receive);
    return std::nullopt;
  }
  Read read{type, format, {}};
  if (format == 8 && data) read.bytes.assign(reinterpret_cast<const char*>(data.get()), count);
  return read;
}

bool XClipboard::nextEvent(XEvent& event, Clock::time_point deadline) {
  Display* x = display_.get();
  for (;;) {
    // XPending sends what is queued and reads what arrived, without waiting.
    if (lost_) return false;
    if (XPending(x) > 0) {
      XNextEvent(x, &event);
      return true;
    }
    if (lost_) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd connection{ConnectionNumber(x), POLLIN, 0};
    if (::poll(&connection, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX))) < 0 && errno != EINTR)
      return false;
  }
}

}  // namespace kelp::platform::linux_desktop
