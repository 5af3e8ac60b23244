#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace krevol {
namespace {

struct ModeCase {
    std::string commandLine;
    StartMode mode;
};

class StartModeTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(StartModeTest, ChoosesTheModeFromTheWholeLine) {
    EXPECT_EQ(chooseStartMode(GetParam().commandLine), GetParam().mode)
        << '"' << GetParam().commandLine << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Words, StartModeTest,
    ::testing::Values(ModeCase{"", StartMode::Normal}, ModeCase{"Uninstall", StartMode::Uninstall},
                      ModeCase{"Uninstall ", StartMode::Normal}, ModeCase{" Uninstall", StartMode::Normal},
                      ModeCase{"uninstall", StartMode::Normal}, ModeCase{"UNINSTALL", StartMode::Normal},
                      ModeCase{"Uninstal", StartMode::Normal}, ModeCase{"Once", StartMode::Normal},
                      ModeCase{"Twice", StartMode::Normal},
                      // ".exe" must come after the first character.
                      ModeCase{".exe", StartMode::Normal}, ModeCase{".exe/folder", StartMode::Normal},
                      ModeCase{"a.exe", StartMode::UpgradeStep},
                      ModeCase{"/opt/Krevol PC Suite/KrevolRegist.exe", StartMode::UpgradeStep},
                      ModeCase{"C:\\Program Files\\Krevol\\KrevolRegist.exe", StartMode::UpgradeStep},
                      ModeCase{"\"C:\\Krevol\\KrevolRegist.exe\"", StartMode::UpgradeStep},
                      ModeCase{".exe.exe", StartMode::UpgradeStep},
                      // Case-sensitive, and the path test wins over the word.
                      ModeCase{"/opt/krevol/KrevolRegist.EXE", StartMode::Normal},
                      ModeCase{"Uninstall.exe", StartMode::UpgradeStep},
                      ModeCase{"/tmp/setup.exe.d/sub", StartMode::UpgradeStep},
                      ModeCase{"/opt/krevol/exe", StartMode::Normal}));

TEST(StartModeTest, AnyContentAndLength) {
    EXPECT_EQ(chooseStartMode(std::string("Uninstall\0", 10)), StartMode::Normal);
    EXPECT_EQ(chooseStartMode(std::string("\0.exe", 5)), StartMode::UpgradeStep);
    const std::string huge(4 << 20, 'x');
    EXPECT_EQ(chooseStartMode(huge), StartMode::Normal);
    EXPECT_EQ(chooseStartMode(huge + ".exe"), StartMode::UpgradeStep);
    EXPECT_EQ(chooseStartMode("\xff\xfe.ex"), StartMode::Normal);
}

TEST(JoinCommandLineTest, JoinsArgumentsAfterTheProgramNameWithSingleBlanks) {
    const char* none[] = {"KrevolRegist"};
    EXPECT_EQ(joinCommandLine(1, none), "");
    EXPECT_EQ(joinCommandLine(0, nullptr), "");

    const char* one[] = {"KrevolRegist", "Uninstall"};
    EXPECT_EQ(joinCommandLine(2, one), "Uninstall");

    // A path with blanks given as several arguments comes back whole; quotes stay.
    const char* split[] = {"KrevolRegist", "/opt/Krevol", "PC", "Suite/KrevolRegist.exe", "\"q\"", ""};
    EXPECT_EQ(joinCommandLine(6, split), "/opt/Krevol PC Suite/KrevolRegist.exe \"q\" ");

    EXPECT_EQ(joinCommandLine(std::vector<std::string>{"Uninstall", ""}), "Uninstall ");
    EXPECT_EQ(chooseStartMode(joinCommandLine(std::vector<std::string>{"Uninstall", ""})), StartMode::Normal);
}

}  // namespace
}  // namespace krevol
