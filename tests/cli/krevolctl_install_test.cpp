// krevolctl install against `krevol-sandbox --seed --serve` as a separate process, with the demo
// tool's folder card.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "app/messages.h"
#include "device/volume_fixture.h"
#include "support/command_run.h"
#include "support/file_bytes.h"
#include "support/sandbox_child.h"
#include "upgrade/copy_tree.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::CommandRun;
using test::fileBytes;

// Every file below `seedFolder` is on the card under the same path, byte for byte.
void expectOnCard(const fs::path& seedFolder, const fs::path& card) {
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(seedFolder)) {
        if (!e.is_regular_file()) continue;
        ++files;
        const fs::path relative = fs::relative(e.path(), seedFolder);
        EXPECT_TRUE(fileBytes(card / relative) == fileBytes(e.path())) << relative << " differs on the card";
    }
    EXPECT_GT(files, 0) << seedFolder;
}

std::vector<std::string> temporaryFilesBelow(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (isCopyTemporaryName(e.path().filename().string())) found.push_back(e.path().string());
    return found;
}

class KrevolctlInstall : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sandbox_.start(KREVOL_SANDBOX_PROGRAM, data_.str(), error)) << error;
        volumes_ = data_.str() + "/volumes";
        card_ = volumes_ + "/KREVOL-SD";
        ASSERT_TRUE(fs::is_directory(card_));
    }

    std::string commandLine(const std::string& args) const {
        return "KREVOL_VOLUMES='" + volumes_ +
               "' KREVOL_API_HOST=127.0.0.1:" + std::to_string(sandbox_.port()) +
               " no_proxy=127.0.0.1 NO_PROXY=127.0.0.1 KREVOL_USER=demo@krevol.test '" + program_ + "' " +
               args + " 2>/dev/null";
    }

    CommandRun run(const std::string& args) const {
        return test::runCommand("echo demo-pass-1 | " + commandLine(args));
    }

    test::FixtureFolder data_;
    test::SandboxChild sandbox_;
    std::string volumes_, card_;
    const fs::path seed_ = fs::path(KREVOL_SANDBOX_SEED_DIR) / "packages";
    const fs::path softFolder_ = fs::path(KREVOLCTL_PATH).parent_path() / "KrevolSoft";
    std::string program_ = KREVOLCTL_PATH;
};

// The value of the "key: value" line of a krevolctl report, "" when there is none.
std::string reportValue(const std::string& out, const std::string& key) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(key + ": ", 0) == 0) return line.substr(key.size() + 2);
    return {};
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST_F(KrevolctlInstall, AllUpgradesLandOnTheCardAndTheCatalogueShowsThemUpToDate) {
    // The card holds VW-AUDI 3.00, up to date: a copy of our own shows whether it is installed again.
    const fs::path upToDate = fs::path(card_) / "obdtool/vehicle/VWAUDI/VWAUDI.ini";
    ASSERT_TRUE(fs::is_regular_file(upToDate));
    test::writeFixtureFile(upToDate.string(), "card copy");
    const CommandRun r = run("install --all");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    // No terminal: plain progress lines (maybe none for small packages), then the report.
    const std::string report = "result: 200\nstatus: 200\ndrive: " + card_ +
                               "\nserial: 1001202412345678\nqueued: 3\n"
                               "item: BENZ Key Programming: Succeeded\n"
                               "item: TOYOTA Smart Key: Succeeded\n"
                               "item: K1 Pro Firmware: Succeeded\n"
                               "end: " +
                               loadText(179, kLanguageEnglish) + "\nstopped: false\n";
    EXPECT_NE(r.out.find(report), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("message:"), std::string::npos) << r.out;

    expectOnCard(seed_ / "benz", card_);
    expectOnCard(seed_ / "toyota", card_);
    expectOnCard(seed_ / "firmware", card_);
    EXPECT_EQ(fileBytes(upToDate), "card copy") << "an up-to-date entry was installed";
    EXPECT_TRUE(fs::is_regular_file(fs::path(card_) / "obdtool/sys/dev"));
    EXPECT_EQ(temporaryFilesBelow(card_), std::vector<std::string>());
    EXPECT_FALSE(fs::exists(softFolder_));

    const CommandRun after = run("catalogue");
    ASSERT_EQ(after.exitCode, 0) << after.out;
    int items = 0;
    std::istringstream lines(after.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("item: ", 0) != 0) continue;
        ++items;
        EXPECT_EQ(line.substr(line.size() - 4), " | 3") << line;  // up to date
    }
    EXPECT_EQ(items, 4) << after.out;

    // Nothing left to do: message 263 and success.
    const CommandRun again = run("install --all");
    EXPECT_EQ(again.exitCode, 0) << again.out;
    EXPECT_NE(again.out.find("queued: 0\nmessage: " + loadText(263, kLanguageEnglish)), std::string::npos)
        << again.out;
}

TEST_F(KrevolctlInstall, ReinstallOfOneNamedEntryAndUsage) {
    const CommandRun r = run("--json install --reinstall 'VW-AUDI Immobilizer'");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    // The firmware with an upgrade on offer is queued as well, as the one-click button does.
    EXPECT_NE(
        r.out.find(
            "\"queued\":2,\"item\":[{\"id\":\"103\",\"name\":\"VW-AUDI Immobilizer\",\"installed\":true,"
            "\"text\":\"Succeeded\",\"state\":3},{\"id\":\"104\",\"name\":\"K1 Pro Firmware\","
            "\"installed\":true,\"text\":\"Succeeded\",\"state\":3}],"),
        std::string::npos)
        << r.out;
    expectOnCard(seed_ / "vwaudi", card_);
    expectOnCard(seed_ / "firmware", card_);
    EXPECT_FALSE(fs::exists(fs::path(card_) / "obdtool/vehicle/BENZ"));

    EXPECT_EQ(run("install").exitCode, 2);  // nothing named
    EXPECT_EQ(run("install --bogus x").exitCode, 2);
}

// The diagnostic log of a sign-in and an install names every server call and step, and holds
// neither the password nor the token. The program runs from a folder of its own: its working
// folder, and so its krevol.log, belong to this test alone.
TEST_F(KrevolctlInstall, TheDiagnosticLogOfASignInAndAnInstallHoldsNoSecret) {
    const fs::path bin = fs::path(data_.str()) / "bin";
    fs::create_directories(bin);
    fs::copy_file(KREVOLCTL_PATH, bin / "krevolctl");
    program_ = (bin / "krevolctl").string();

    const CommandRun login = run("login demo@krevol.test");
    ASSERT_EQ(login.exitCode, 0) << login.out;
    std::string token = reportValue(login.out, "token");
    if (token.size() >= 2 && token.front() == '"' && token.back() == '"')
        token = token.substr(1, token.size() - 2);
    ASSERT_GE(token.size(), 8u) << login.out;
    const CommandRun install = run("install --all");
    ASSERT_EQ(install.exitCode, 0) << install.out;

    const std::string log = fileBytes(bin / "krevol.log");
    const std::string api = "127.0.0.1:" + std::to_string(sandbox_.port()) + "/krevol-manager-api/";
    for (const std::string& expected : std::vector<std::string>{
             "] cli: krevolctl 4.3.0 login: start\n",
             "] server: POST " + api + "user/login -> 200, HTTP 200, ",
             "] cli: krevolctl login: exit status 0\n",
             "] device: detect: 1 found, drive \"" + card_ + "\", serial \"1001202412345678\", kind 1\n",
             "] server: POST " + api + "cartypesoft/synchCarSoft -> 200, HTTP 200, ",
             "] install: download: result 200, HTTP 200\n",
             "] install: unpack: done, ",
             "] install: copy onto " + card_ + "/: done, ",
             "] server: POST " + api + "cartypesoft/synchCarSoftVersion -> 200, HTTP 200, ",
             "] server: POST " + api + "tooluser/selectContentBySn -> 200, HTTP 200, ",
             "] install: run finished, content file written\n",
             "] cli: krevolctl install: exit status 0\n",
         })
        EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
    EXPECT_EQ(occurrences(log, "\": installed\n"), 3u) << log;
    EXPECT_EQ(occurrences(log, "] server: GET 127.0.0.1:" + std::to_string(sandbox_.port()) + "/"), 3u)
        << log;
    EXPECT_EQ(log.find("demo-pass-1"), std::string::npos) << log;
    EXPECT_EQ(log.find(token), std::string::npos) << token << "\n" << log;
}

TEST_F(KrevolctlInstall, CtrlCStopsTheRunAndLeavesNoTemporaryFolder) {
    // Every package answers after 3 s; the interrupt comes while the first download waits.
    const std::string fault =
        "curl -s --noproxy '*' -X POST -d "
        "'{\"path\":\"download/*\",\"delayMs\":3000}' http://127.0.0.1:" +
        std::to_string(sandbox_.port()) + "/admin/fault >/dev/null";
    ASSERT_EQ(std::system(fault.c_str()), 0);
    const fs::path outFile = fs::path(data_.str()) / "install.out";
    const fs::path inFile = fs::path(data_.str()) / "password.txt";
    { std::ofstream(inFile) << "demo-pass-1\n"; }
    std::string line = commandLine("install --all");
    line = "exec env " + line.substr(0, line.size() - std::string(" 2>/dev/null").size()) + " < '" +
           inFile.string() + "' > '" + outFile.string() + "' 2>/dev/null";
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(child, 0);
    // Wait until the run shows its first progress line: the first download is waiting for its answer.
    for (int i = 0; i < 1000 && fileBytes(outFile).find("progress: ") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(fileBytes(outFile).find("progress: BENZ Key Programming downloading"), std::string::npos);
    ::kill(child, SIGINT);  // Ctrl-C
    int status = 0;
    ::waitpid(child, &status, 0);
    const std::string out = fileBytes(outFile);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << "\n" << out;
    EXPECT_NE(out.find("end: " + loadText(259, kLanguageEnglish) + "\nstopped: true\n"), std::string::npos)
        << out;
    EXPECT_FALSE(fs::exists(softFolder_));
    EXPECT_FALSE(fs::exists(fs::path(card_) / "obdtool/vehicle/BENZ"));
    EXPECT_EQ(temporaryFilesBelow(card_), std::vector<std::string>());
}

}  // namespace
}  // namespace krevol
