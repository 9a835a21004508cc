// Key codes, keysyms, text, keyboard mappings and wheel clicks, as plain values.
#include "platform/linux/input/key_codes.h"

#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "platform/platform.h"

namespace kelp::platform::linux_desktop {
namespace {

constexpr std::pair<std::uint16_t, Keysym> KEYSYM_OF_KEY_CODE[] = {
    // Letters, by the position of the key on an ANSI keyboard.
    {0, XK_a},   {1, XK_s},   {2, XK_d},   {3, XK_f},   {4, XK_h},   {5, XK_g},   {6, XK_z},
    {7, XK_x},   {8, XK_c},   {9, XK_v},   {11, XK_b},  {12, XK_q},  {13, XK_w},  {14, XK_e},
    {15, XK_r},  {16, XK_y},  {17, XK_t},  {31, XK_o},  {32, XK_u},  {34, XK_i},  {35, XK_p},
    {37, XK_l},  {38, XK_j},  {40, XK_k},  {45, XK_n},  {46, XK_m},
    // Digits and punctuation.
    {18, XK_1},  {19, XK_2},  {20, XK_3},  {21, XK_4},  {23, XK_5},  {22, XK_6},  {26, XK_7},
    {28, XK_8},  {25, XK_9},  {29, XK_0},  {27, XK_minus}, {24, XK_equal}, {43, XK_comma},
    {47, XK_period}, {44, XK_slash}, {41, XK_semicolon}, {39, XK_apostrophe}, {42, XK_backslash},
    {50, XK_grave}, {33, XK_bracketleft}, {30, XK_bracketright},
    // Editing and navigation. The Mac's "delete" erases backwards.
    {36, XK_Return}, {48, XK_Tab}, {49, XK_space}, {51, XK_BackSpace}, {53, XK_Escape},
    {117, XK_Delete}, {123, XK_Left}, {124, XK_Right}, {125, XK_Down}, {126, XK_Up},
    {115, XK_Home}, {119, XK_End}, {116, XK_Prior}, {121, XK_Next},
    // Function keys.
    {122, XK_F1}, {120, XK_F2}, {99, XK_F3},  {118, XK_F4},  {96, XK_F5},  {97, XK_F6},
    {98, XK_F7},  {100, XK_F8}, {101, XK_F9}, {109, XK_F10}, {103, XK_F11}, {111, XK_F12},
    // Keypad.
    {76, XK_KP_Enter}, {71, XK_Clear}, {81, XK_KP_Equal}, {67, XK_KP_Multiply}, {75, XK_KP_Divide},
    {69, XK_KP_Add}, {78, XK_KP_Subtract}, {65, XK_KP_Decimal},
    {82, XK_KP_0}, {83, XK_KP_1}, {84, XK_KP_2}, {85, XK_KP_3}, {86, XK_KP_4}, {87, XK_KP_5},
    {88, XK_KP_6}, {89, XK_KP_7}, {91, XK_KP_8}, {92, XK_KP_9},
};

bool isKeypadKeysym(Keysym keysym) { return keysym >= XK_KP_Space && keysym <= XK_KP_Equal; }

}  // namespace

// ---- keys ------------------------------------------------------------------

std::optional<Keysym> keysymForKeyCode(std::uint16_t keyCode) {
  for (const auto& [code, keysym] : KEYSYM_OF_KEY_CODE) {
    if (code == keyCode) return keysym;
  }
  return std::nullopt;
}

std::optional<std::uint16_t> keyCodeForKeysym(Keysym keysym) {
  // Letters come in either case; the key is the same.
  if (keysym >= XK_A && keysym <= XK_Z) keysym += XK_a - XK_A;
  for (const auto& [code, known] : KEYSYM_OF_KEY_CODE) {
    if (known == keysym) return code;
  }
  return std::nullopt;
}

std::vector<Keysym> modifierKeysyms(std::uint64_t flagMask) {
  std::vector<Keysym> keys;
  if (flagMask & flags::command) keys.push_back(XK_Super_L);
  if (flagMask & flags::control) keys.push_back(XK_Control_L);
  if (flagMask & flags::option) keys.push_back(XK_Alt_L);
  if (flagMask & flags::shift) keys.push_back(XK_Shift_L);
  return keys;
}

// ---- text ------------------------------------------------------------------

std::optional<Keysym> keysymForCharacter(char32_t character) {
  if (character == U'\n' || character == U'\r') return XK_Return;
  if (character == U'\t') return XK_Tab;
  if (character < 0x20 || (character >= 0x7f && character < 0xa0)) return std::nullopt;
  if ((character >= 0xd800 && character <= 0xdfff) || character > 0x10ffff) return std::nullopt;
  if (character <= 0xff) return static_cast<Keysym>(character);
  return 0x01000000u + static_cast<Keysym>(character);
}

void TextKeysyms::add(char32_t character, std::vector<Keysym>& out) {
  // A CR LF is one line break, as the text's author meant it.
  const bool lineFeedAfterReturn = character == U'\n' && afterCarriageReturn_;
  afterCarriageReturn_ = character == U'\r';
  if (lineFeedAfterReturn) return;
  if (const std::optional<Keysym> keysym = keysymForCharacter(character)) out.push_back(*keysym);
}

std::vector<Keysym> TextKeysyms::next(std::u16string_view chunk) {
  std::vector<Keysym> out;
  for (const char16_t unit : chunk) {
    const bool high = unit >= 0xd800 && unit <= 0xdbff;
    const bool low = unit >= 0xdc00 && unit <= 0xdfff;
    if (pendingHigh_ != 0) {
      const char16_t first = std::exchange(pendingHigh_, 0);
      if (low) {
        add(0x10000 + ((static_cast<char32_t>(first) - 0xd800) << 10) + (unit - 0xdc00), out);
        continue;
      }
      add(0xfffd, out);
    }
    if (high) {
      pendingHigh_ = unit;
    } else if (low) {
      add(0xfffd, out);
    } else {
      add(unit, out);
    }
  }
  return out;
}

void TextKeysyms::interrupt() {
  pendingHigh_ = 0;
  afterCarriageReturn_ = false;
}

// ---- keyboard mapping ------------------------------------------------------

StrokePlan planStrokes(const KeyboardLayout& layout, const std::vector<Lease>& leases,
                       const std::vector<Keysym>& keysyms, bool allowShift, std::int64_t nowMicros) {
  StrokePlan plan;
  // The plan's own view of the mapping, changed as keycodes are assigned, so
  // later keysyms find what earlier ones mapped and not what it replaced.
  std::vector<KeyRow> rows = layout.rows;
  const auto rowOf = [&](int keycode) -> KeyRow& { return rows[static_cast<std::size_t>(keycode - layout.minKeycode)]; };
  const auto inLayout = [&](int keycode) {
    return keycode >= layout.minKeycode && keycode - layout.minKeycode < static_cast<int>(rows.size());
  };

  std::set<int> leased;
  for (const Lease& lease : leases) {
    if (inLayout(lease.keycode)) leased.insert(lease.keycode);
  }
  // Keycodes this plan presses: theirs must not change under it.
  std::set<int> pinned;
  for (const Lease& lease : leases) {
    if (lease.held) pinned.insert(lease.keycode);
  }
  std::vector<Lease> reusable;
  for (const Lease& lease : leases) {
    if (!lease.held && inLayout(lease.keycode)) reusable.push_back(lease);
  }
  std::stable_sort(reusable.begin(), reusable.end(),
                   [](const Lease& a, const Lease& b) { return a.lastUseMicros < b.lastUseMicros; });

  const auto find = [&](auto matches) -> std::optional<int> {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (matches(rows[i], layout.minKeycode + static_cast<int>(i))) return layout.minKeycode + static_cast<int>(i);
    }
    return std::nullopt;
  };

  for (const Keysym keysym : keysyms) {
    std::optional<Stroke> stroke;
    if (keysym != 0) {
      if (auto plain = find([&](const KeyRow& row, int) { return row.plain == keysym && !row.modifier; })) {
        stroke = Stroke{*plain, false};
      } else if (allowShift) {
        // Level 2 of a keypad key belongs to Num Lock, not to Shift.
        auto shifted = find([&](const KeyRow& row, int keycode) {
          return row.shifted == keysym && !row.modifier && !isKeypadKeysym(row.plain) && !leased.contains(keycode);
        });
        if (shifted) stroke = Stroke{*shifted, true};
      }
      if (!stroke) {
        std::optional<int> keycode = find([](const KeyRow& row, int) { return row.unused; });
        if (!keycode) {
          auto it = std::find_if(reusable.begin(), reusable.end(),
                                 [&](const Lease& lease) { return !pinned.contains(lease.keycode); });
          if (it != reusable.end()) {
            keycode = it->keycode;
            plan.notBeforeMicros = std::max(plan.notBeforeMicros, it->lastUseMicros + LEASE_REUSE_GAP_MICROS);
            reusable.erase(it);
          }
        }
        if (keycode) {
          KeyRow& row = rowOf(*keycode);
          row = KeyRow{keysym, keysym, false, false};
          leased.insert(*keycode);
          plan.remaps.push_back(Lease{*keycode, keysym, nowMicros, false});
          stroke = Stroke{*keycode, false};
        }
      }
    }
    if (!stroke) break;
    pinned.insert(stroke->keycode);
    plan.strokes.push_back(*stroke);
    ++plan.consumed;
  }
  if (plan.notBeforeMicros <= nowMicros) plan.notBeforeMicros = 0;
  return plan;
}

std::optional<std::vector<int>> modifierKeycodes(const KeyboardLayout& layout, std::uint64_t flagMask) {
  std::vector<int> keycodes;
  for (const Keysym keysym : modifierKeysyms(flagMask)) {
    std::optional<int> found;
    for (std::size_t i = 0; i < layout.rows.size() && !found; ++i) {
      if (layout.rows[i].modifier && layout.rows[i].plain == keysym) found = layout.minKeycode + static_cast<int>(i);
    }
    if (!found) return std::nullopt;
    keycodes.push_back(*found);
  }
  return keycodes;
}

// ---- scrolling -------------------------------------------------------------

std::int64_t WheelGesture::Axis::step(double delta) {
  if (!std::isfinite(delta) || delta == 0) return 0;
  // Turning back starts over: what went the other way is done with.
  if ((delta > 0) != (pixels > 0) && pixels != 0) {
    pixels = 0;
    clicks = 0;
  }
  pixels += delta;
  const double magnitude = std::abs(pixels);
  const double rounded = std::floor(magnitude / PIXELS_PER_WHEEL_CLICK + 0.5);
  const double wanted = std::max(1.0, std::min(rounded, 1e15));
  std::int64_t more = static_cast<std::int64_t>(wanted) - std::abs(clicks);
  if (more <= 0) return 0;
  more = std::min(more, MAX_WHEEL_CLICKS_PER_STEP);
  const std::int64_t signedMore = pixels > 0 ? more : -more;
  clicks += signedMore;
  return signedMore;
}

WheelGesture::Clicks WheelGesture::step(double dx, double dy) {
  Clicks clicks;
  clicks.vertical = vertical_.step(dy);
  clicks.horizontal = horizontal_.step(dx);
  return clicks;
}

int wheelButton(bool vertical, std::int64_t clicks) {
  if (vertical) return clicks > 0 ? 4 : 5;
  return clicks > 0 ? 6 : 7;
}

void WheelGesture::end() {
  vertical_ = {};
  horizontal_ = {};
}

Lease* leaseOf(std::vector<Lease>& leases, int keycode) {
  auto it = std::find_if(leases.begin(), leases.end(), [&](const Lease& lease) { return lease.keycode == keycode; });
  return it == leases.end() ? nullptr : &*it;
}

void touchLease(std::vector<Lease>& leases, int keycode, bool held, std::int64_t nowMicros) {
  if (Lease* lease = leaseOf(leases, keycode)) {
    lease->lastUseMicros = nowMicros;
    lease->held = held;
  }
}

void dropStaleLeases(const KeyboardLayout& layout, std::vector<Lease>& leases) {
  std::erase_if(leases, [&](const Lease& lease) {
    const int index = lease.keycode - layout.minKeycode;
    if (index < 0 || index >= static_cast<int>(layout.rows.size())) return true;
    return layout.rows[static_cast<std::size_t>(index)].plain != lease.keysym;
  });
}

void recordRemaps(const StrokePlan& plan, KeyboardLayout& layout, std::vector<Lease>& leases) {
  for (const Lease& remap : plan.remaps) {
    const int index = remap.keycode - layout.minKeycode;
    if (index < 0 || index >= static_cast<int>(layout.rows.size())) continue;
    layout.rows[static_cast<std::size_t>(index)] = KeyRow{remap.keysym, remap.keysym, false, false};
    if (Lease* lease = leaseOf(leases, remap.keycode)) {
      *lease = remap;
    } else {
      leases.push_back(remap);
    }
  }
}

}  // namespace kelp::platform::linux_desktop
