// Input through KWin's fake input.
#include "platform/linux/kde/fake_input.h"

namespace kelp::platform::linux_desktop::kde {

FakeInput::FakeInput(wayland::WaylandConnection& wayland, RunLoop& runLoop) : wayland_(wayland), poster_(*this, runLoop) {}
FakeInput::~FakeInput() { poster_.finish(); }
std::optional<Point> FakeInput::pointerLocation() { return std::nullopt; }
std::optional<std::uint64_t> FakeInput::session() { return std::nullopt; }
KeyboardLayout FakeInput::keyboardLayout() { return {}; }
bool FakeInput::mapKeysyms(const KeyboardLayout&, const std::vector<Lease>&) { return false; }
void FakeInput::key(int, bool) {}
std::optional<Point> FakeInput::devicePoint(Point) { return std::nullopt; }
void FakeInput::moveTo(Point) {}
void FakeInput::button(Button, bool) {}
void FakeInput::wheel(const WheelGesture::Clicks&) {}
bool FakeInput::flush() { return false; }

}  // namespace kelp::platform::linux_desktop::kde
