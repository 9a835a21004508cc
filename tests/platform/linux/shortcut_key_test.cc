#include "platform/linux/shortcut_key.h"

#include <gtest/gtest.h>

namespace kelp::platform::linux_desktop {
namespace {

TEST(ShortcutKeyTest, GtkBindingsGiveTheKeyOfTheShortcutNotOfTheMnemonic) {
  // As mousepad's menu items report them.
  EXPECT_EQ(shortcutKey("s;<Alt>f:s;<Primary>s"), "S");
  EXPECT_EQ(shortcutKey("w;<Alt>f:w;<Primary><Shift>n"), "N") << "modifiers are not part of it";
  EXPECT_EQ(shortcutKey("o;<Alt>e:r:o;<Primary><Alt>u"), "U");
  EXPECT_EQ(shortcutKey("<Alt>f;<Alt>f;"), "") << "a menu bar item has a mnemonic only";
  EXPECT_EQ(shortcutKey("e;<Alt>f:e;"), "");
  EXPECT_EQ(shortcutKey(""), "");
  EXPECT_EQ(shortcutKey("<Control>q"), "Q") << "a shortcut alone";
  EXPECT_EQ(shortcutKey("Alt+F;<Control>s"), "S");
  EXPECT_EQ(shortcutKey("<Primary"), "") << "cut off";
}

TEST(ShortcutKeyTest, KeysThatTypeACharacterAreThatCharacter) {
  EXPECT_EQ(shortcutKey("<Primary>plus"), "+");
  EXPECT_EQ(shortcutKey("<Primary>comma"), ",");
  EXPECT_EQ(shortcutKey("<Primary>bracketleft"), "[");
  EXPECT_EQ(shortcutKey("<Primary>0"), "0");
  EXPECT_EQ(shortcutKey("<Primary>KP_Add"), "+");
  EXPECT_EQ(shortcutKey("<Primary>udiaeresis"), "\u00dc");
  EXPECT_EQ(shortcutKey("<Primary>\u00e9"), "\u00c9");
}

TEST(ShortcutKeyTest, OtherKeysGoByTheNamesTheCorePressesThemBy) {
  EXPECT_EQ(shortcutKey("f;<Alt>v:f;F11"), "F11");
  EXPECT_EQ(shortcutKey("u;<Alt>e:m:u;<Alt>Up"), "Up");
  EXPECT_EQ(shortcutKey("<Primary>Page_Down"), "PageDown");
  EXPECT_EQ(shortcutKey("<Primary>Return"), "Return");
  EXPECT_EQ(shortcutKey("<Primary>space"), "Space");
  // X's Delete deletes forwards; the core's delete is the Mac's, BackSpace.
  EXPECT_EQ(shortcutKey("d;<Alt>e:d;Delete"), "ForwardDelete");
  EXPECT_EQ(shortcutKey("<Primary>BackSpace"), "Delete");
  EXPECT_EQ(shortcutKey("<Shift>Insert"), "Insert") << "no name of the core's: the keysym's";
}

TEST(ShortcutKeyTest, QtStyleShortcutsToo) {
  EXPECT_EQ(shortcutKey("Ctrl+S"), "S");
  EXPECT_EQ(shortcutKey("Ctrl+Shift+s"), "S");
  EXPECT_EQ(shortcutKey("Ctrl++"), "+") << "the key may be the separator";
  EXPECT_EQ(shortcutKey("+"), "+");
  EXPECT_EQ(shortcutKey("Ctrl+K, Ctrl+C"), "K") << "a sequence: its first stroke";
  EXPECT_EQ(shortcutKey("F5"), "F5");
  EXPECT_EQ(shortcutKey("Ctrl+Del"), "ForwardDelete");
  EXPECT_EQ(shortcutKey("Alt+PgUp"), "PageUp");
}

}  // namespace
}  // namespace kelp::platform::linux_desktop
