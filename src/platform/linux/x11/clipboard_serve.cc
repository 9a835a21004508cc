// Serving the X clipboard to other programs while this process owns it:
// answering their requests, in pieces (INCR) where a text is long.
#include "platform/linux/x11/clipboard.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <climits>

namespace kelp::platform::linux_desktop {
namespace {

using Clock = std::chrono::steady_clock;

// A requestor that takes no piece of a long text for this long has given
// up; its transfer is dropped.
constexpr std::chrono::seconds TRANSFER_STALL{5};

// STRING is ISO 8859-1: a character it lacks becomes '?', or makes the
// conversion fail when `strict`.
std::optional<std::string> latin1FromUtf8(const std::string& text, bool strict) {
  std::string latin1;
  latin1.reserve(text.size());
  const char* at = text.data();
  const char* end = at + text.size();
  while (at < end) {
    const gunichar c = g_utf8_get_char_validated(at, end - at);
    const bool valid = c < 0x110000;
    if (valid && c <= 0xff) {
      latin1 += static_cast<char>(c);
    } else if (strict) {
      return std::nullopt;
    } else {
      latin1 += '?';
    }
    at = valid ? g_utf8_next_char(at) : at + 1;
  }
  return latin1;
}

}  // namespace

void XClipboard::serveQueued() {
  Display* x = display_.get();
  while (!lost_ && XPending(x) > 0) {
    XEvent event;
    XNextEvent(x, &event);
    handle(event);
  }
  forgetStaleTransfers();
  if (!lost_) XFlush(x);
}

void XClipboard::handle(const XEvent& event) {
  switch (event.type) {
    case SelectionRequest:
      answer(event.xselectionrequest);
      break;
    case SelectionClear:
      // A clear from before the latest taking is stale.
      if (event.xselectionclear.window == window_ && event.xselectionclear.selection == atoms_.clipboard &&
          event.xselectionclear.time >= ownedSince_) {
        held_.reset();
      }
      break;
    case PropertyNotify:
      if (event.xproperty.state == PropertyDelete) advance(event.xproperty);
      break;
    default:
      break;
  }
}

void XClipboard::answer(const XSelectionRequestEvent& request) {
  // Clients from before the ICCCM name no property: the target is used.
  const Atom property = request.property != None ? request.property : request.target;
  // A request from before this process took the clipboard asked about
  // an earlier owner.
  const bool current = held_ && request.selection == atoms_.clipboard && request.owner == window_ &&
                       (request.time == CurrentTime || request.time >= ownedSince_);
  XEvent reply{};
  reply.xselection.type = SelectionNotify;
  reply.xselection.display = display_.get();
  reply.xselection.requestor = request.requestor;
  reply.xselection.selection = request.selection;
  reply.xselection.target = request.target;
  reply.xselection.time = request.time;
  reply.xselection.property = current && convert(request.requestor, request.target, property) ? property : None;
  XSendEvent(display_.get(), request.requestor, False, NoEventMask, &reply);
  XFlush(display_.get());
}

bool XClipboard::convert(Window requestor, Atom target, Atom property) {
  Display* x = display_.get();
  if (target == atoms_.targets) {
    const Atom targets[] = {atoms_.targets, atoms_.timestamp, atoms_.utf8, atoms_.textPlainUtf8, XA_STRING,
                            atoms_.text};
    XChangeProperty(x, requestor, property, XA_ATOM, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(targets),
                    static_cast<int>(std::size(targets)));
    return true;
  }
  if (target == atoms_.timestamp) {
    const long time = static_cast<long>(ownedSince_);
    XChangeProperty(x, requestor, property, XA_INTEGER, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&time), 1);
    return true;
  }
  if (target == atoms_.utf8 || target == atoms_.textPlainUtf8) {
    put(requestor, property, target, held_);
    return true;
  }
  if (target == XA_STRING) {
    put(requestor, property, XA_STRING, std::make_shared<const std::string>(*latin1FromUtf8(*held_, false)));
    return true;
  }
  // TEXT lets the owner choose: STRING where it holds all characters, for
  // the old programs that ask for TEXT.
  if (target == atoms_.text) {
    if (std::optional<std::string> latin1 = latin1FromUtf8(*held_, true)) {
      put(requestor, property, XA_STRING, std::make_shared<const std::string>(std::move(*latin1)));
    } else {
      put(requestor, property, atoms_.utf8, held_);
    }
    return true;
  }
  return false;
}

void XClipboard::put(Window requestor, Atom property, Atom type, std::shared_ptr<const std::string> data) {
  Display* x = display_.get();
  if (data->size() <= pieceSize_) {
    XChangeProperty(x, requestor, property, type, 8, PropModeReplace, reinterpret_cast<const unsigned char*>(data->data()),
                    static_cast<int>(data->size()));
    return;
  }
  // The requestor deleting the property asks for each next piece.
  std::erase_if(outgoing_, [&](const Outgoing& o) { return o.requestor == requestor && o.property == property; });
  XSelectInput(x, requestor, PropertyChangeMask);
  const long size = static_cast<long>(std::min<std::size_t>(data->size(), LONG_MAX));
  XChangeProperty(x, requestor, property, atoms_.incr, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&size), 1);
  outgoing_.push_back({requestor, property, type, std::move(data), 0, Clock::now()});
}

void XClipboard::advance(const XPropertyEvent& event) {
  auto it = std::find_if(outgoing_.begin(), outgoing_.end(),
                         [&](const Outgoing& o) { return o.requestor == event.window && o.property == event.atom; });
  if (it == outgoing_.end()) return;
  const std::size_t length = std::min(pieceSize_, it->data->size() - it->sent);
  XChangeProperty(display_.get(), it->requestor, it->property, it->type, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(it->data->data() + it->sent), static_cast<int>(length));
  it->sent += length;
  it->lastStep = Clock::now();
  // The empty piece, written when all was taken, ends the transfer.
  if (length == 0) {
    const Window requestor = it->requestor;
    outgoing_.erase(it);
    stopWatchingIfDone(requestor);
  }
  XFlush(display_.get());
}

void XClipboard::forgetStaleTransfers() {
  const auto now = Clock::now();
  std::vector<Window> dropped;
  std::erase_if(outgoing_, [&](const Outgoing& o) {
    if (now - o.lastStep < TRANSFER_STALL) return false;
    dropped.push_back(o.requestor);
    return true;
  });
  for (const Window requestor : dropped) stopWatchingIfDone(requestor);
}

void XClipboard::stopWatchingIfDone(Window requestor) {
  const bool busy =
      std::any_of(outgoing_.begin(), outgoing_.end(), [&](const Outgoing& o) { return o.requestor == requestor; });
  if (!busy && !lost_) XSelectInput(display_.get(), requestor, NoEventMask);
}

}  // namespace kelp::platform::linux_desktop
