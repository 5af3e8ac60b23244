// Restarting in place: the restarted program runs in the same process, without the descriptors
// and the arguments of the run before, and takes the single-instance lock as a normal start.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/restart.h"
#include "support/command_run.h"
#include "temp_folder.h"

namespace krevol {
namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The value of "key=" in a probe line.
std::string field(const std::string& line, const std::string& key) {
    const std::size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) return {};
    const std::size_t start = at + key.size() + 2;
    return line.substr(start, line.find(' ', start) - start);
}

TEST(Restart, ReplacesTheProgramInPlaceKeepingTheProcessId) {
    test::TempFolder dir;
    const std::string out = dir / "runs.txt";
    // The lock file goes to the test's own folder, away from a suite that may be running.
    const test::CommandRun run =
        test::runCommand("XDG_RUNTIME_DIR='" + dir.str() + "' KREVOL_RESTART_PROBE_OUT='" + out + "' '" +
                         std::string(KREVOL_RESTART_PROBE) + "' --some arguments");

    EXPECT_EQ(run.exitCode, 7) << "the process that was started is the one that ended as the restarted run";
    EXPECT_EQ(run.out, "written before the restart") << "buffered output is written before the exec";
    const std::vector<std::string> runs = lines(test::fileBytes(out));
    ASSERT_EQ(runs.size(), 2u) << test::fileBytes(out);
    EXPECT_EQ(runs[0].rfind("first ", 0), 0u) << runs[0];
    EXPECT_EQ(runs[1].rfind("restarted ", 0), 0u) << runs[1];
    EXPECT_EQ(field(runs[0], "pid"), field(runs[1], "pid"));
    EXPECT_EQ(field(runs[0], "ppid"), field(runs[1], "ppid"));
    EXPECT_EQ(field(runs[0], "argc"), "3");
    EXPECT_EQ(field(runs[1], "argc"), "1") << "the restarted program has an empty command line";
    EXPECT_EQ(field(runs[0], "lock"), "0");
    EXPECT_EQ(field(runs[1], "lock"), "0") << "the lock was let go before the restart";
    EXPECT_EQ(field(runs[1], "fd"), "closed") << "descriptors of the first run were passed on";
}

TEST(Restart, ArgumentsAreTheProgramNameOnly) {
    using namespace std::string_literals;
    EXPECT_EQ(restartArguments("KrevolRegist\0Twice\0"s, "/opt/k/KrevolRegist"),
              std::vector<std::string>{"KrevolRegist"});
    EXPECT_EQ(restartArguments("/opt/k/KrevolRegist\0"s, "/x"),
              std::vector<std::string>{"/opt/k/KrevolRegist"});
    EXPECT_EQ(restartArguments("", "/opt/k/KrevolRegist"), std::vector<std::string>{"/opt/k/KrevolRegist"});
    EXPECT_EQ(restartArguments("\0Once\0"s, "/opt/k/KrevolRegist"),
              std::vector<std::string>{"/opt/k/KrevolRegist"});
}

}  // namespace
}  // namespace krevol
