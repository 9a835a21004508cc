// GoogleTest first: the AT-SPI headers bring X11's macros (None, Bool, ...).
#include <gtest/gtest.h>

#include "platform/linux/atspi/channels.h"

namespace kelp::platform::linux_desktop {
namespace {

Toolkit toolkit(const std::string& name, std::string_view version) { return {name, majorVersion(version)}; }

// Identifiers are left unasked only where the toolkit is known to have none:
// GTK 3's bridge ("gtk") also serves LibreOffice, whose controls have them.
TEST(ToolkitTest, IdentifiersAreLeftUnaskedOnlyWhereTheToolkitHasNone) {
  const struct {
    const char* name;
    const char* version;
    bool givesNone;
  } cases[] = {
      {"GTK", "4.8.3", true},      {"GTK", "5.0", false},
      {"gtk", "3.24.38", false},   {"Gecko", "153.8.0", true},
      {"Gecko", "154.0.1", false}, {"Qt", "5.15.8", false},
      {"Chromium", "1.0", false},  {"", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toolkit(c.name, c.version).givesNoIdentifiers(), c.givesNone) << c.name << " " << c.version;
  }
}

TEST(ToolkitTest, TheMajorVersionIsTheLeadingNumber) {
  EXPECT_EQ(majorVersion("4.8.3"), 4);
  EXPECT_EQ(majorVersion("153.8.0esr"), 153);
  EXPECT_EQ(majorVersion("1.0"), 1);
  EXPECT_EQ(majorVersion(""), 0);
  EXPECT_EQ(majorVersion("v2"), 0);
}

}  // namespace
}  // namespace kelp::platform::linux_desktop
