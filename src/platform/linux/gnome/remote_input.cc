// Input through Mutter's remote desktop.
#include "platform/linux/gnome/remote_input.h"

namespace kelp::platform::linux_desktop::gnome {

RemoteDesktopInput::RemoteDesktopInput(RunLoop& runLoop) : poster_(*this, runLoop) {}
RemoteDesktopInput::~RemoteDesktopInput() { poster_.finish(); }
std::optional<Point> RemoteDesktopInput::pointerLocation() { return std::nullopt; }
std::optional<std::uint64_t> RemoteDesktopInput::session() { return std::nullopt; }
KeyboardLayout RemoteDesktopInput::keyboardLayout() { return {}; }
bool RemoteDesktopInput::mapKeysyms(const KeyboardLayout&, const std::vector<Lease>&) { return false; }
void RemoteDesktopInput::key(int, bool) {}
std::optional<Point> RemoteDesktopInput::devicePoint(Point) { return std::nullopt; }
void RemoteDesktopInput::moveTo(Point) {}
void RemoteDesktopInput::button(Button, bool) {}
void RemoteDesktopInput::wheel(const WheelGesture::Clicks&) {}
bool RemoteDesktopInput::flush() { return false; }

}  // namespace kelp::platform::linux_desktop::gnome
