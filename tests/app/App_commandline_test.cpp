#include "App_commandline.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using TArgs = TStringDynArray;

TEST(CommandLine, OptionsActOnlyBeforeTheFirstDoubleDash)
{
    // A document literally named --help, given after "--".
    TCommandLine line = ParseCommandLine({"a.txt", "--", "--help", "-platform", "--"});
    EXPECT_EQ(line.Action, TCommandLineAction::Run);
    EXPECT_EQ(line.Leading, TArgs{"a.txt"});
    EXPECT_EQ(line.Trailing, (TArgs{"--help", "-platform", "--"}));

    line = ParseCommandLine({"a.txt", "--help", "--", "b.txt"});
    EXPECT_EQ(line.Action, TCommandLineAction::Help);

    // The first of the two wins, wherever the other stands.
    EXPECT_EQ(ParseCommandLine({"--version", "--help"}).Action, TCommandLineAction::Version);
    EXPECT_EQ(ParseCommandLine({"--help", "--version"}).Action, TCommandLineAction::Help);

    line = ParseCommandLine({"--"});
    EXPECT_TRUE(line.Leading.empty());
    EXPECT_TRUE(line.Trailing.empty());
}

TEST(CommandLine, EverythingElseStaysInOrderForTheToolkitAndTheList)
{
    // Qt's options, look-alikes of ours and a shell glob's dash-names are not
    // ours to judge: Qt takes its own, the list gets the rest.
    const TArgs arguments{"-platform", "wayland", "--helpme", "-h", "--version=2", "-", "", "x y"};
    const TCommandLine line = ParseCommandLine(arguments);
    EXPECT_EQ(line.Action, TCommandLineAction::Run);
    EXPECT_EQ(line.Leading, arguments);
    EXPECT_TRUE(line.Trailing.empty());
}

TEST(CommandLine, UsageNamesTheSettingsFileThisCopyUses)
{
    const std::string usage = UsageText("/opt/dorvane dir/Settings.ini");
    EXPECT_EQ(usage.rfind("Usage: dorvane ", 0), 0u);
    EXPECT_NE(usage.find("\n  /opt/dorvane dir/Settings.ini\n"), std::string::npos);
    EXPECT_THAT(VersionText(), testing::MatchesRegex("Dorvane [0-9]+\\.[0-9]+\\.[0-9]+\n"));
}

} // namespace
