#include "selftest/window.h"

namespace kelp::selftest {
namespace {

constexpr double CONTENT_WIDTH = 320;
constexpr double CONTENT_HEIGHT = 160;

// Laid out as on a Mac, where y grows upwards from the bottom of the
// content: the frames are turned over into top-left ones, sizes kept.
platform::TestControl control(platform::TestControl::Kind kind, double x, double bottomY, double w, double h,
                              std::string text, std::string placeholder, std::string identifier) {
  return {kind, x, CONTENT_HEIGHT - bottomY - h, w, h, std::move(text), std::move(placeholder), std::move(identifier)};
}

}  // namespace

const platform::TestWindowSpec& windowSpec() {
  using Kind = platform::TestControl::Kind;
  static const platform::TestWindowSpec spec{
      "kelp-cua-selftest",
      CONTENT_WIDTH,
      CONTENT_HEIGHT,
      {
          control(Kind::button, 20, 20, 120, 32, "저장하기", "", "save-btn"),
          control(Kind::textField, 20, 80, 260, 24, "", "파일 이름", "name-field"),
          control(Kind::button, 160, 20, 120, 32, "결제하기", "", ""),
          control(Kind::textField, 20, 115, 260, 24, "", "카드번호", ""),
          control(Kind::label, 20, 50, 260, 22, std::string(LOCKED_TEXT), "", "locked-field"),
      },
      {
          {"selftest", {}},
          {std::string(EXPORT_MENU), {std::string(EXPORT_ITEM) + "\u2026"}},
      },
  };
  return spec;
}

}  // namespace kelp::selftest
