// krevolctl format and eject on the demo tool's folder card, against `krevol-sandbox --seed
// --serve` as a separate process: the reset cache is filled first, a package the server cannot
// send refuses the format with the card unchanged, the eject moves the tool aside and
// scripts/plug-in-demo-tool plugs it in again.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "app/messages.h"
#include "device/volume_fixture.h"
#include "support/command_run.h"
#include "support/file_bytes.h"
#include "support/sandbox_child.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::CommandRun;

std::set<std::string> entries(const std::string& root) {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(root))
        names.insert(fs::relative(e.path(), root).generic_string());
    return names;
}

class KrevolctlFormat : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sandbox_.start(KREVOL_SANDBOX_PROGRAM, data_.str(), error)) << error;
        volumes_ = data_.str() + "/volumes";
        card_ = volumes_ + "/KREVOL-SD";
        ASSERT_TRUE(fs::is_directory(card_));
    }

    CommandRun run(const std::string& args, int port = 0) const {
        return test::runCommand(
            "echo demo-pass-1 | KREVOL_VOLUMES='" + volumes_ +
            "' KREVOL_API_HOST=127.0.0.1:" + std::to_string(port != 0 ? port : sandbox_.port()) +
            " no_proxy=127.0.0.1 NO_PROXY=127.0.0.1 KREVOL_USER=demo@krevol.test " + KREVOLCTL_PATH + " " +
            args + " 2>/dev/null");
    }
    void fault(const std::string& body) const {
        const std::string command = "curl -s --noproxy '*' -X POST -d '" + body +
                                    "' http://127.0.0.1:" + std::to_string(sandbox_.port()) +
                                    "/admin/fault >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    test::FixtureFolder data_;
    test::SandboxChild sandbox_;
    std::string volumes_, card_;
    const fs::path cache_ = fs::path(KREVOLCTL_PATH).parent_path() / "KrevolCache";
};

// The whole walk: refused while the packages cannot be saved, formatted once they can, ejected,
// plugged in again. One test, since the cache folder beside krevolctl is shared.
TEST_F(KrevolctlFormat, CacheFirstThenFormatEjectAndPlugInAgain) {
    fs::remove_all(cache_);
    struct RemoveCache {
        fs::path path;
        ~RemoveCache() { fs::remove_all(path); }
    } removeCache{cache_};
    const std::set<std::string> before = entries(card_);
    ASSERT_TRUE(before.count("DEVINFO.INI"));

    // Packages cannot be downloaded: the format is refused, the card keeps its data.
    fault("{\"path\":\"download/*\",\"status\":503}");
    CommandRun r = run("format --yes");
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("result: false\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("touched: false\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("message: " + loadText(434, kLanguageEnglish)), std::string::npos) << r.out;
    EXPECT_EQ(entries(card_), before);
    fault("{\"path\":\"download/*\"}");  // switched off again

    // Without --yes the question is answered no.
    r = run("format");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("message: " + loadText(271, kLanguageEnglish)), std::string::npos) << r.out;
    EXPECT_EQ(entries(card_), before);

    r = run("format --yes");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("result: true\ndrive: " + card_ +
                         "\nserial: 1001202412345678\ncached: 4\n"
                         "cacheResult: 200\ntouched: true\nmount: " +
                         card_ + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("message: " + loadText(272, kLanguageEnglish)), std::string::npos) << r.out;
    EXPECT_EQ(entries(card_), (std::set<std::string>{"obdtool", "obdtool/sys"}));
    int packages = 0;
    for (const auto& e : fs::recursive_directory_iterator(cache_))
        if (e.path().filename() == "package.ok") ++packages;
    EXPECT_EQ(packages, 4);

    // A formatted card has no DEVINFO.INI: the known drive without serial, formatted without cache.
    // No serial to load a catalogue for, so no cache: formatted as the window does.
    r = run("format --yes");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("result: true\ndrive: " + card_ + "\nserial: \ncached: 0\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(entries(card_), (std::set<std::string>{"obdtool", "obdtool/sys"}));

    r = run("eject");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, "result: 0\ndrive: " + card_ +
                         "\nejected: true\ndiagnostic: isremovable:1\ndiagnostic: Success\n");
    EXPECT_FALSE(fs::exists(card_));
    r = run("detect");
    EXPECT_NE(r.out.find("outcome: 0\n"), std::string::npos) << r.out;

    const CommandRun plug =
        test::runCommand(std::string("sh '") + KREVOL_PLUG_IN_SCRIPT + "' '" + volumes_ + "' 2>&1");
    EXPECT_EQ(plug.exitCode, 0) << plug.out;
    EXPECT_TRUE(fs::is_directory(card_ + "/obdtool/sys"));
    EXPECT_FALSE(fs::exists(volumes_ + ".ejected/KREVOL-SD"));
    // The tool writes its DEVINFO.INI again when it starts on the fresh card; so does the script.
    EXPECT_EQ(test::fileBytes(card_ + "/DEVINFO.INI"), "SN:1001202412345678\r\nMODEL:K1 Pro\r\n");
    r = run("detect");
    EXPECT_NE(r.out.find("serial: 1001202412345678\n"), std::string::npos) << r.out;
}

TEST_F(KrevolctlFormat, NoToolUnreachableServerAndUsage) {
    const std::set<std::string> before = entries(card_);
    // The server cannot be reached: the sign-in fails before anything else, the card is unchanged.
    const CommandRun r = run("format --yes", 1);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_EQ(entries(card_), before);

    EXPECT_EQ(run("format --bogus").exitCode, 2);
    EXPECT_EQ(run("eject a b").exitCode, 2);
    const CommandRun unknown = run("eject /nowhere");
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(unknown.out,
              "result: -1\ndrive: /nowhere\nejected: false\ndiagnostic: GetDrivesDevInstDiskNumber failed\n");

    fs::remove_all(card_);  // no tool at all
    const CommandRun none = run("format --yes");
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.out.find("message: " + loadText(144, kLanguageEnglish)), std::string::npos) << none.out;
    const CommandRun noEject = run("--json eject");
    EXPECT_EQ(noEject.exitCode, 1);
    EXPECT_NE(noEject.out.find("\"result\":-1"), std::string::npos) << noEject.out;
}

}  // namespace
}  // namespace krevol
