#include <gtest/gtest.h>

#include "platform/linux/launch.h"

namespace kelp::platform::linux_desktop {
namespace {

using Words = std::vector<std::string>;

std::optional<Words> commandOf(std::string_view exec) {
  return commandLineOf(exec, "Text Editor", "accessories-text-editor",
                       "/usr/share/applications/editor.desktop");
}

TEST(CommandLineTest, FileCodesVanishWithoutFiles) {
  EXPECT_EQ(commandOf("mousepad %U"), Words{"mousepad"});
  EXPECT_EQ(commandOf("viewer --new %f --fullscreen"), (Words{"viewer", "--new", "--fullscreen"}));
  EXPECT_EQ(commandOf("old %d %D %n %N %v %m %F %u"), Words{"old"}) << "deprecated codes are dropped too";
}

TEST(CommandLineTest, EntryCodesBecomeSingleWords) {
  EXPECT_EQ(commandOf("editor --class %c"), (Words{"editor", "--class", "Text Editor"}));
  EXPECT_EQ(commandOf("editor %i"), (Words{"editor", "--icon", "accessories-text-editor"}));
  EXPECT_EQ(commandLineOf("editor %i", "Editor", "", "/e.desktop"), Words{"editor"}) << "no icon, no option";
  EXPECT_EQ(commandOf("editor %k"), (Words{"editor", "/usr/share/applications/editor.desktop"}));
  EXPECT_EQ(commandLineOf("editor %c", "it's \"quoted\" $HOME", "", ""),
            (Words{"editor", "it's \"quoted\" $HOME"}));
}

TEST(CommandLineTest, QuotingAndPercentSignsFollowTheShell) {
  EXPECT_EQ(commandOf("sh -c 'echo %% done'"), (Words{"sh", "-c", "echo % done"}));
  EXPECT_EQ(commandOf("\"/opt/My App/run\" --x"), (Words{"/opt/My App/run", "--x"}));
  EXPECT_EQ(commandOf("trailing %"), (Words{"trailing", "%"}));
  EXPECT_EQ(commandOf("broken 'quote"), std::nullopt);
  EXPECT_EQ(commandOf(""), std::nullopt);
  EXPECT_EQ(commandOf("%f %U"), std::nullopt) << "no program left";
}

}  // namespace
}  // namespace kelp::platform::linux_desktop
