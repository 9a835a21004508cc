// How the seam's input vocabulary (macOS virtual key codes, modifier flag
// masks, UTF-16 text, scroll pixels) becomes X keysyms, keycodes and wheel
// clicks. Plain values in and out, no connection, so tests can check every
// decision; poster.h carries them out through either display server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kelp::platform::linux_desktop {

using Keysym = std::uint32_t;  // an X KeySym; every value in use fits 32 bits

// ---- keys ------------------------------------------------------------------

// The keysym a macOS virtual key code stands for, for the keys the core can
// name; none for any other code. The keypad's Clear key becomes XK_Clear:
// Apple's keyboards put it where others have Num Lock, and it clears rather
// than types.
std::optional<Keysym> keysymForKeyCode(std::uint16_t keyCode);

// The macOS virtual key code of the key that a keysym stands for: the
// inverse of keysymForKeyCode, any letter case alike. None for keysyms the
// core has no key for.
std::optional<std::uint16_t> keyCodeForKeysym(Keysym keysym);

// The modifier keys to hold for a flag mask, in the order they go down.
// Bits other than command, control, option and shift are ignored: X has no
// key for the Mac's device bits, and Caps Lock is a lock, not a held key.
std::vector<Keysym> modifierKeysyms(std::uint64_t flags);

// ---- text ------------------------------------------------------------------

// The keysym that types one character, or none for a control character with
// no key. Line feed and carriage return are Return and tab is Tab, as a
// person types them; Latin-1 has keysyms of the same value, everything else
// the Unicode keysym 0x01000000 + code point.
std::optional<Keysym> keysymForCharacter(char32_t character);

// The keysyms that type the text of consecutive text events. The core cuts
// text into chunks by UTF-16 length, so a surrogate pair or a CR LF may
// straddle two events; the decoder carries that over to the next chunk.
// An unpaired surrogate becomes U+FFFD.
class TextKeysyms {
 public:
  std::vector<Keysym> next(std::u16string_view chunk);
  // Something other than text was posted: what was carried over no longer
  // continues. A lone high surrogate left over is dropped, since no event
  // remains to type it with.
  void interrupt();

 private:
  void add(char32_t character, std::vector<Keysym>& out);
  char16_t pendingHigh_ = 0;
  bool afterCarriageReturn_ = false;
};

// ---- keyboard mapping ------------------------------------------------------

// One keycode's place on the keyboard mapping: the keysyms of its first
// group's two levels, as XGetKeyboardMapping lists them in its first two
// columns.
struct KeyRow {
  Keysym plain = 0;    // level 1, no modifier
  Keysym shifted = 0;  // level 2, with Shift
  bool modifier = false;  // in the modifier mapping
  bool unused = false;    // no keysym in any column and no modifier: free to borrow
};

struct KeyboardLayout {
  int minKeycode = 8;
  std::vector<KeyRow> rows;  // rows[keycode - minKeycode]
};

// A spare keycode this process has mapped to a keysym of its own.
struct Lease {
  int keycode = 0;
  Keysym keysym = 0;
  std::int64_t lastUseMicros = 0;  // when it last went down or up
  bool held = false;               // down now: must keep its keysym
};

// The lease of `keycode`, or null when it is no borrowed keycode.
Lease* leaseOf(std::vector<Lease>& leases, int keycode);
// A borrowed keycode went down or up at `nowMicros`; one held down keeps its
// keysym until it comes up.
void touchLease(std::vector<Lease>& leases, int keycode, bool held, std::int64_t nowMicros);
// Drops the leases whose keycode no longer carries their keysym in `layout`:
// another client remapped it, or the server is a new one.
void dropStaleLeases(const KeyboardLayout& layout, std::vector<Lease>& leases);

// How long a borrowed keycode keeps its keysym after its last use before it
// may be given another. Clients look the keysym up when they handle the key
// event, after the mapping notification that came before it; a keycode
// remapped before then would be read with the new keysym.
inline constexpr std::int64_t LEASE_REUSE_GAP_MICROS = 250'000;

struct Stroke {
  int keycode = 0;
  bool shift = false;  // press Shift around it: the keysym is on level 2
};

// The keystrokes for a run of keysyms and the keycodes to map first.
struct StrokePlan {
  std::size_t consumed = 0;     // keysyms covered, from the front
  std::vector<Stroke> strokes;  // one per covered keysym
  std::vector<Lease> remaps;    // keycode -> keysym to map before the strokes
  // The remaps reassign keycodes used until recently: not before this time.
  std::int64_t notBeforeMicros = 0;
};

// Plans keystrokes for `keysyms` from the front, as far as keycodes allow.
// A keysym on level 1 of some keycode uses it; with `allowShift`, one on
// level 2 of an ordinary (non-keypad) key uses it with Shift. Anything else
// gets a spare keycode: one of ours that already carries it, else an unused
// one, else the least recently used of ours not needed in this plan.
// `leases` must agree with `layout` (each lease's row carries its keysym).
// Stops before the first keysym that finds no keycode.
StrokePlan planStrokes(const KeyboardLayout& layout, const std::vector<Lease>& leases,
                       const std::vector<Keysym>& keysyms, bool allowShift, std::int64_t nowMicros);

// What the mapping holds once `plan`'s remaps are made: the rows take their
// keysyms, on level 1 alone, and the leases record them.
void recordRemaps(const StrokePlan& plan, KeyboardLayout& layout, std::vector<Lease>& leases);

// The keycodes of the modifier keys for `flags`, in the order they go down;
// none when one of them is not a modifier key on this mapping.
std::optional<std::vector<int>> modifierKeycodes(const KeyboardLayout& layout, std::uint64_t flags);

// ---- scrolling -------------------------------------------------------------

// One wheel click per this many pixels. A wheel click scrolls about this far
// in the common toolkits (GTK 3 by the page size to the power 2/3, Qt by
// three lines, Chromium by 53 px), so the distance the core asks for is
// roughly the distance scrolled.
inline constexpr double PIXELS_PER_WHEEL_CLICK = 50;
// More clicks than this in one step are left for the following steps.
inline constexpr std::int64_t MAX_WHEEL_CLICKS_PER_STEP = 100;

// The X button that makes one of `clicks` along an axis: 4 up, 5 down,
// 6 left, 7 right.
int wheelButton(bool vertical, std::int64_t clicks);

// Turns the pixel steps of one scroll gesture into wheel clicks. The seam
// uses the Mac's signs: positive dy scrolls up (X button 4, negative 5) and
// positive dx scrolls left (button 6, negative 7). A gesture of P pixels
// along an axis makes P / PIXELS_PER_WHEEL_CLICK clicks rounded to the
// nearest, but at least one, and the first one comes with the first step, so
// a short scroll is never lost and many small steps add up.
class WheelGesture {
 public:
  struct Clicks {
    std::int64_t vertical = 0;    // positive: up
    std::int64_t horizontal = 0;  // positive: left
  };
  Clicks step(double dx, double dy);
  // The next step starts a new gesture.
  void end();

 private:
  struct Axis {
    double pixels = 0;       // summed over the gesture, one direction
    std::int64_t clicks = 0;  // made so far, same sign
    std::int64_t step(double delta);
  };
  Axis vertical_;
  Axis horizontal_;
};

}  // namespace kelp::platform::linux_desktop
