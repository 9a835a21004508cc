// The RECORD tap's connection, its decoding and its place in the main loop.
#include "platform/linux/x11/record.h"

#include <X11/Xproto.h>
#include <glib-unix.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace kelp::platform::linux_desktop {
namespace {

namespace type = eventType;

constexpr unsigned LEFT_BUTTON = 1;
constexpr unsigned RIGHT_BUTTON = 3;
constexpr unsigned FIRST_WHEEL_BUTTON = 4;
constexpr unsigned LAST_WHEEL_BUTTON = 7;

// ---- XSETTINGS ----------------------------------------------------------------------

// Reads the settings manager's binary format: byte order, serial, count,
// then per setting its type, name, serial and value, each padded to 4 bytes.
class SettingsReader {
 public:
  explicit SettingsReader(std::basic_string_view<unsigned char> data) : data_(data) {}
  bool skip(std::size_t count) {
    if (data_.size() - at_ < count) return false;
    at_ += count;
    return true;
  }
  bool pad() { return skip((4 - at_ % 4) % 4); }
  std::optional<std::uint32_t> card(std::size_t size) {
    if (data_.size() - at_ < size) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint32_t byte = data_[at_ + (msbFirst_ ? i : size - 1 - i)];
      value = (value << 8) | byte;
    }
    at_ += size;
    return value;
  }
  std::optional<std::string> text(std::size_t length) {
    if (data_.size() - at_ < length) return std::nullopt;
    std::string result(reinterpret_cast<const char*>(data_.data() + at_), length);
    at_ += length;
    return result;
  }
  void setMsbFirst(bool msbFirst) { msbFirst_ = msbFirst; }

 private:
  std::basic_string_view<unsigned char> data_;
  std::size_t at_ = 0;
  bool msbFirst_ = false;
};

std::optional<Window> selectionOwner(Display* display, const char* name) {
  const Atom selection = XInternAtom(display, name, False);
  const Window owner = XGetSelectionOwner(display, selection);
  if (owner == None) return std::nullopt;
  return owner;
}

// The raw xEvent of an intercepted reply.
std::optional<RawInput> rawInputOf(const XRecordInterceptData& data) {
  if (data.category != XRecordFromServer || data.data_len * 4 < sizeof(xEvent)) return std::nullopt;
  xEvent event;
  std::memcpy(&event, data.data, sizeof event);
  RawInput input;
  input.type = event.u.u.type & 0x7f;
  input.detail = event.u.u.detail;
  input.state = event.u.keyButtonPointer.state;
  input.rootX = event.u.keyButtonPointer.rootX;
  input.rootY = event.u.keyButtonPointer.rootY;
  input.timeMillis = event.u.keyButtonPointer.time;
  return input;
}

// Xlib's reaction to a broken connection would end the process; the tap's
// connections are given up instead, with the recording.
int keepGoing(Display*) { return 0; }
void markTapLost(Display*, void* lost) { *static_cast<bool*>(lost) = true; }

}  // namespace

// ---- translation ----------------------------------------------------------------------

std::optional<ClickSettings> clickSettingsFrom(std::basic_string_view<unsigned char> settings) {
  SettingsReader reader(settings);
  const std::optional<std::uint32_t> order = reader.card(1);
  if (!order || *order > 1) return std::nullopt;
  reader.setMsbFirst(*order == 1);
  if (!reader.skip(3) || !reader.card(4)) return std::nullopt;
  const std::optional<std::uint32_t> count = reader.card(4);
  if (!count) return std::nullopt;
  ClickSettings found;
  for (std::uint32_t i = 0; i < *count; ++i) {
    const std::optional<std::uint32_t> kind = reader.card(1);
    if (!kind || !reader.skip(1)) return std::nullopt;
    const std::optional<std::uint32_t> nameLength = reader.card(2);
    if (!nameLength) return std::nullopt;
    const std::optional<std::string> name = reader.text(*nameLength);
    if (!name || !reader.pad() || !reader.card(4)) return std::nullopt;
    if (*kind == 0) {  // integer
      const std::optional<std::uint32_t> value = reader.card(4);
      if (!value) return std::nullopt;
      const auto number = static_cast<std::int32_t>(*value);
      if (*name == "Net/DoubleClickTime" && number > 0) found.timeMillis = number;
      if (*name == "Net/DoubleClickDistance" && number >= 0) found.distance = number;
    } else if (*kind == 1) {  // string
      const std::optional<std::uint32_t> length = reader.card(4);
      if (!length || !reader.skip(*length) || !reader.pad()) return std::nullopt;
    } else if (*kind == 2) {  // colour: four 16-bit channels
      if (!reader.skip(8)) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  return found;
}

std::int64_t ClickCounter::press(unsigned button, int x, int y, std::uint32_t timeMillis) {
  const bool continues = count_ > 0 && button == lastButton_ &&
                         static_cast<std::uint32_t>(timeMillis - lastTime_) <=
                             static_cast<std::uint32_t>(settings_.timeMillis) &&
                         std::abs(x - lastX_) <= settings_.distance && std::abs(y - lastY_) <= settings_.distance;
  count_ = continues ? count_ + 1 : 1;
  lastButton_ = button;
  lastX_ = x;
  lastY_ = y;
  lastTime_ = timeMillis;
  return count_;
}

std::uint64_t flagsFromState(unsigned state) {
  std::uint64_t result = 0;
  if (state & ShiftMask) result |= flags::shift;
  if (state & ControlMask) result |= flags::control;
  if (state & Mod1Mask) result |= flags::option;
  if (state & Mod4Mask) result |= flags::command;
  return result;
}

std::optional<TappedEvent> translateInput(const RawInput& input, ClickCounter& clicks,
                                          const std::function<Keysym(unsigned keycode, unsigned state)>& keysymOf,
                                          Point origin) {
  TappedEvent event;
  event.location = {input.rootX - origin.x, input.rootY - origin.y};
  event.flags = flagsFromState(input.state);
  switch (input.type) {
    case KeyPress: {
      const Keysym keysym = keysymOf(input.detail, input.state);
      // A modifier alone is no key press on a Mac either: it only changes flags.
      if (IsModifierKey(keysym)) return std::nullopt;
      event.type = type::keyDown;
      event.keyCode = keyCodeForKeysym(keysym).value_or(UNNAMED_KEY_CODE);
      return event;
    }
    case ButtonPress:
      if (input.detail >= FIRST_WHEEL_BUTTON && input.detail <= LAST_WHEEL_BUTTON) {
        // One unit a wheel step, with the signs the backend scrolls by:
        // 4 up and 6 left are positive.
        event.type = type::scrollWheel;
        if (input.detail == 4) event.scrollDy = 1;
        if (input.detail == 5) event.scrollDy = -1;
        if (input.detail == 6) event.scrollDx = 1;
        if (input.detail == 7) event.scrollDx = -1;
        return event;
      }
      if (input.detail != LEFT_BUTTON && input.detail != RIGHT_BUTTON) return std::nullopt;
      event.type = input.detail == LEFT_BUTTON ? type::leftMouseDown : type::rightMouseDown;
      event.clickState = clicks.press(input.detail, input.rootX, input.rootY, input.timeMillis);
      return event;
    case ButtonRelease:
      if (input.detail != LEFT_BUTTON) return std::nullopt;
      event.type = type::leftMouseUp;
      event.clickState = clicks.release(input.detail);
      return event;
    case MotionNotify:
      if (!(input.state & Button1Mask)) return std::nullopt;
      event.type = type::leftMouseDragged;
      return event;
    default:
      return std::nullopt;
  }
}

// ---- the tap ----------------------------------------------------------------------

XRecordTap::~XRecordTap() { stop(); }

bool XRecordTap::start(std::uint64_t mask, std::function<void(const TappedEvent&)> onEvent) {
  stop();
  control_.reset(openDisplayQuietly());
  data_.reset(openDisplayQuietly());
  if (!control_ || !data_) {
    stop();
    return false;
  }
  lost_ = false;
  XSetIOErrorHandler(keepGoing);
  XSetIOErrorExitHandler(control_.get(), markTapLost, &lost_);
  XSetIOErrorExitHandler(data_.get(), markTapLost, &lost_);
  int major = 0;
  int minor = 0;
  if (!XRecordQueryVersion(control_.get(), &major, &minor)) {
    stop();
    return false;
  }
  XMemory<XRecordRange> range(XRecordAllocRange());
  if (!range) {
    stop();
    return false;
  }
  range->device_events.first = KeyPress;
  range->device_events.last = MotionNotify;
  XRecordRange* ranges[] = {range.get()};
  XRecordClientSpec clients = XRecordAllClients;
  context_ = XRecordCreateContext(control_.get(), 0, &clients, 1, ranges, 1);
  XSync(control_.get(), False);
  if (!context_ || lost_) {
    stop();
    return false;
  }
  if (!XRecordEnableContextAsync(data_.get(), context_, &XRecordTap::intercept, reinterpret_cast<XPointer>(this))) {
    stop();
    return false;
  }
  clicks_ = ClickCounter(clickSettings());
  mask_ = mask;
  onEvent_ = std::move(onEvent);
  source_.reset(g_unix_fd_source_new(ConnectionNumber(data_.get()),
                                     static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR)));
  g_source_set_callback(source_.get(), G_SOURCE_FUNC(&XRecordTap::readable), this, nullptr);
  g_source_attach(source_.get(), nullptr);
  // Replies that came with the enabling are already in Xlib's buffer.
  XRecordProcessReplies(data_.get());
  return true;
}

void XRecordTap::stop() {
  if (source_) g_source_destroy(source_.get());
  source_.reset();
  if (context_ && control_ && data_ && !lost_ && onEvent_) {
    // What the server recorded before now still counts: a round trip on the
    // control connection lets it send that, and it is read before the end.
    XSync(control_.get(), False);
    XRecordProcessReplies(data_.get());
  }
  if (context_ && control_ && !lost_) {
    XRecordDisableContext(control_.get(), context_);
    XRecordFreeContext(control_.get(), context_);
    XSync(control_.get(), False);
  }
  context_ = 0;
  data_.reset();
  control_.reset();
  onEvent_ = nullptr;
  mask_ = 0;
}

gboolean XRecordTap::readable(gint, GIOCondition condition, gpointer self) {
  auto* tap = static_cast<XRecordTap*>(self);
  if (!tap->data_ || tap->lost_ || (condition & (G_IO_HUP | G_IO_ERR))) return G_SOURCE_CONTINUE;
  XRecordProcessReplies(tap->data_.get());
  return G_SOURCE_CONTINUE;
}

void XRecordTap::intercept(XPointer self, XRecordInterceptData* data) {
  RecordDataOwner owned(data);
  if (!data) return;
  if (const std::optional<RawInput> input = rawInputOf(*data)) {
    reinterpret_cast<XRecordTap*>(self)->deliver(*input);
  }
}

void XRecordTap::deliver(const RawInput& input) {
  if (!onEvent_) return;
  const std::optional<TappedEvent> event = translateInput(
      input, clicks_, [this](unsigned keycode, unsigned state) { return keysymOf(keycode, state); }, origin());
  if (!event || event->type < 0 || event->type >= 64 || !((mask_ >> event->type) & 1u)) return;
  // A copy: the handler may stop the tap.
  auto handler = onEvent_;
  handler(*event);
}

Keysym XRecordTap::keysymOf(unsigned keycode, unsigned state) {
  // Asked of the server every time: the backend's own typing remaps spare
  // keycodes, and a mapping cached here would go stale.
  int perKeycode = 0;
  XMemory<KeySym> syms(XGetKeyboardMapping(control_.get(), static_cast<KeyCode>(keycode), 1, &perKeycode));
  if (!syms || perKeycode <= 0) return NoSymbol;
  // Each group takes two columns (its two levels) in the core mapping.
  const int group = static_cast<int>((state >> 13) & 3u);
  const int column = 2 * group < perKeycode ? 2 * group : 0;
  const KeySym keysym = syms.get()[column] != NoSymbol ? syms.get()[column] : syms.get()[0];
  return static_cast<Keysym>(keysym);
}

Point XRecordTap::origin() {
  const std::optional<std::vector<MonitorRect>> monitors = x_.monitors();
  return monitors ? accessibilityOrigin(*monitors) : Point{};
}

bool XRecordTap::available() {
  Display* display = x_.handle();
  int opcode = 0;
  int event = 0;
  int error = 0;
  return display && XQueryExtension(display, "RECORD", &opcode, &event, &error);
}

std::optional<Point> XRecordTap::pointerLocation() {
  Display* display = x_.handle();
  if (!display) return std::nullopt;
  struct {
    Window root = None, child = None;
    int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
    unsigned mask = 0;
  } pointer;
  if (!XQueryPointer(display, DefaultRootWindow(display), &pointer.root, &pointer.child, &pointer.rootX,
                     &pointer.rootY, &pointer.windowX, &pointer.windowY, &pointer.mask)) {
    return std::nullopt;
  }
  const Point at = origin();
  return Point{pointer.rootX - at.x, pointer.rootY - at.y};
}

ClickSettings XRecordTap::clickSettings() {
  Display* display = control_.get();
  const std::string selection = "_XSETTINGS_S" + std::to_string(DefaultScreen(display));
  const std::optional<Window> owner = selectionOwner(display, selection.c_str());
  if (!owner) return {};
  const Atom property = XInternAtom(display, "_XSETTINGS_SETTINGS", False);
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* raw = nullptr;
  const int status = XGetWindowProperty(display, *owner, property, 0, 1 << 16, False, property, &actualType, &format,
                                        &count, &after, &raw);
  XMemory<unsigned char> data(raw);
  if (status != Success || format != 8 || !data) return {};
  return clickSettingsFrom({data.get(), count}).value_or(ClickSettings{});
}

}  // namespace kelp::platform::linux_desktop
