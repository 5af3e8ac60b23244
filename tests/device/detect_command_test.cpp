// krevolctl detect: the lines (and the JSON object) for fixture volume sets given by KREVOL_VOLUMES.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "cli/detect_command.h"
#include "volume_fixture.h"

namespace krevol {
namespace {

using test::FixtureFolder;
using test::writeFixtureFile;

struct CommandRun {
    int exitCode;
    std::string out;
    std::string err;
};

CommandRun runDetect(const std::string& volumes, const std::vector<std::string>& args) {
    ::setenv("KREVOL_VOLUMES", volumes.c_str(), 1);
    std::ostringstream out, err;
    const int code = runDetectCommand(args, out, err);
    ::unsetenv("KREVOL_VOLUMES");
    return {code, out.str(), err.str()};
}

TEST(DetectCommand, PrintsWhatTheWindowSees) {
    FixtureFolder root;
    writeFixtureFile(root / "E/DEVINFO.INI", "SN:9000123456789012\r\n");
    writeFixtureFile(root / "E/obdtool/sys/app.ini", "x");
    const CommandRun run = runDetect(root.str(), {});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "outcome: 1\ndrive: " + (root / "E") + "\nserial: 9000123456789012\nkind: 2\n");
    EXPECT_TRUE(std::filesystem::exists(root / "E/obdtool/sys/app.ini")) << "detect only reads the tool";

    const CommandRun json = runDetect(root.str(), {"--json"});
    EXPECT_EQ(json.out, "{\"outcome\":1,\"drive\":\"" + (root / "E") +
                            "\",\"serial\":\"9000123456789012\",\"kind\":2}\n");
}

TEST(DetectCommand, OutcomesWithoutATool) {
    FixtureFolder none;
    EXPECT_EQ(runDetect(none.str(), {}).out, "outcome: 0\ndrive: \nserial: \nkind: -1\n");

    FixtureFolder bad;
    writeFixtureFile(bad / "card/DEVINFO.INI", "sn: \"quoted\"\\\n");
    const CommandRun json = runDetect(bad.str(), {"--json"});
    EXPECT_EQ(json.out, "{\"outcome\":3,\"drive\":\"" + (bad / "card") +
                            "\",\"serial\":\" \\\"quoted\\\"\\\\\",\"kind\":-1}\n");

    FixtureFolder two;
    std::filesystem::create_directories(two / "E");
    std::filesystem::create_directories(two / "F");
    EXPECT_EQ(runDetect(two.str(), {}).out, "outcome: 2\ndrive: \nserial: \nkind: -1\n");
}

TEST(DetectCommand, UnknownOptionIsAUsageError) {
    FixtureFolder none;
    const CommandRun run = runDetect(none.str(), {"--xml"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage"), std::string::npos);
}

}  // namespace
}  // namespace krevol
