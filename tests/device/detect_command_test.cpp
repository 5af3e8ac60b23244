// krevolctl detect: the real binary on fixture volume sets given by KREVOL_VOLUMES.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/messages.h"
#include "support/command_run.h"
#include "volume_fixture.h"

namespace krevol {
namespace {

using test::FixtureFolder;
using test::writeFixtureFile;

using test::CommandRun;

// Runs "krevolctl detect ARGS" with KREVOL_VOLUMES set to `volumes` (fixture paths have no quotes).
CommandRun runDetect(const std::string& volumes, const std::string& args) {
    const std::string command = "KREVOL_VOLUMES='" + volumes + "' " + std::string(KREVOLCTL_PATH) +
                                " detect " + args + " 2>/dev/null";
    return test::runCommand(command);
}

TEST(DetectCommand, PrintsWhatTheWindowSees) {
    FixtureFolder root;
    writeFixtureFile(root / "E/DEVINFO.INI", "SN:9000123456789012\r\n");
    writeFixtureFile(root / "E/obdtool/sys/app.ini", "x");
    const CommandRun run = runDetect(root.str(), "");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "outcome: 1\ndrive: " + (root / "E") + "\nserial: 9000123456789012\nkind: 2\n");
    EXPECT_TRUE(std::filesystem::exists(root / "E/obdtool/sys/app.ini")) << "detect only reads the tool";

    const CommandRun json = runDetect(root.str(), "--json");
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.out, "{\"outcome\":1,\"drive\":\"" + (root / "E") +
                            "\",\"serial\":\"9000123456789012\",\"kind\":2,\"message\":[]}\n");
}

// Every outcome without a usable tool prints the device panel's status text as a message line.
TEST(DetectCommand, OutcomesWithoutAUsableTool) {
    const auto message = [](int id) { return "message: " + loadText(id, kLanguageEnglish) + "\n"; };

    FixtureFolder none;
    const CommandRun empty = runDetect(none.str(), "");
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_EQ(empty.out, "outcome: 0\ndrive: \nserial: \nkind: -1\n" + message(144));

    FixtureFolder bad;
    writeFixtureFile(bad / "card/DEVINFO.INI", "sn: \"quoted\"\\\n");
    const CommandRun json = runDetect(bad.str(), "--json");
    EXPECT_EQ(json.exitCode, 1);
    EXPECT_EQ(json.out, "{\"outcome\":3,\"drive\":\"" + (bad / "card") +
                            "\",\"serial\":\" \\\"quoted\\\"\\\\\",\"kind\":-1,\"message\":[\"" +
                            loadText(146, kLanguageEnglish) + "\"]}\n");

    FixtureFolder two;
    writeFixtureFile(two / "E/DEVINFO.INI", "SN:1000123456789012\n");
    std::filesystem::create_directories(two / "F");
    const CommandRun several = runDetect(two.str(), "");
    EXPECT_EQ(several.exitCode, 1);
    // Message 145 ends with a blank, which the line keeps.
    EXPECT_EQ(several.out, "outcome: 2\ndrive: \nserial: \nkind: -1\n" + message(145));

    FixtureFolder missing;
    std::filesystem::create_directories(missing / "stick");
    EXPECT_EQ(runDetect(missing.str(), "").out,
              "outcome: 4\ndrive: " + (missing / "stick") + "\nserial: \nkind: -1\n" + message(286));
}

TEST(DetectCommand, UnknownOptionIsAUsageError) {
    FixtureFolder none;
    const CommandRun run = runDetect(none.str(), "--xml");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace krevol
