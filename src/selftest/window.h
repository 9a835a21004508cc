// The self-test's window, menu and typed texts: one table that every
// backend renders and the checks read.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/platform.h"

namespace kelp::selftest {

// The controls, in the order the window adds them.
enum Control : std::size_t { SAVE_BUTTON, NAME_FIELD, PAY_BUTTON, CARD_FIELD, LOCKED_LABEL };

inline constexpr std::string_view LOCKED_TEXT = "고칠 수 없는 칸";
inline constexpr std::string_view NAME_TYPED = "보고서.docx";
inline constexpr std::string_view LOCKED_TYPED = "여기엔 안 들어가야 해요";
// A public test card number.
inline constexpr std::string_view CARD_TYPED = "4111111111111111";
// The path to the export item; its title ends in "…", the path does not.
inline constexpr std::string_view EXPORT_MENU = "파일";
inline constexpr std::string_view EXPORT_ITEM = "PDF로 내보내기";

// The window: its controls in the order they are added, indexed as above.
const platform::TestWindowSpec& windowSpec();

}  // namespace kelp::selftest
