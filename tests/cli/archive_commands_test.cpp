// krevolctl pack and unpack: the built binary on real folders, checked with Info-ZIP's unzip.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "support/command_run.h"
#include "support/file_bytes.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::CommandRun;
using test::fileBytes;

class ArchiveCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "krevolctl-archive-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    static void write(const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    CommandRun run(const std::string& args) {
        return test::runCommand("cd '" + dir_.string() + "' && " + KREVOLCTL_PATH + " " + args +
                                " 2>/dev/null");
    }
    fs::path dir_;
};

TEST_F(ArchiveCommands, PackThenUnpackRoundTrip) {
    write(dir_ / "log" / "a.txt", "alpha");
    write(dir_ / "log" / "sub" / "b.txt", std::string(100000, 'b'));
    fs::create_directories(dir_ / "log" / "empty");

    const CommandRun packed = run("pack log SERIAL.zip");
    EXPECT_EQ(packed.exitCode, 0);
    EXPECT_EQ(packed.out, "result: true\nerror: none\nentries: 5\nbytes: 100005\npath: SERIAL.zip\n");
    const CommandRun tested = test::runCommand("unzip -t '" + (dir_ / "SERIAL.zip").string() + "'");
    EXPECT_EQ(tested.exitCode, 0) << tested.out;

    const CommandRun unpacked = run("unpack SERIAL.zip out");
    EXPECT_EQ(unpacked.exitCode, 0);
    EXPECT_EQ(unpacked.out, "result: true\nerror: none\nfiles: 2\nbytes: 100005\npath: out\n");
    EXPECT_EQ(fileBytes(dir_ / "out" / "log" / "a.txt"), "alpha");
    EXPECT_EQ(fileBytes(dir_ / "out" / "log" / "sub" / "b.txt"), std::string(100000, 'b'));
    EXPECT_TRUE(fs::is_directory(dir_ / "out" / "log" / "empty"));

    const CommandRun json = run("--json unpack SERIAL.zip out2");
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.out,
              "{\"result\":true,\"error\":\"none\",\"files\":2,\"bytes\":100005,\"path\":\"out2\","
              "\"message\":[]}\n");
}

TEST_F(ArchiveCommands, FailuresExitWithOneAndLeaveNothingBehind) {
    const CommandRun missing = run("pack no-such-folder x.zip");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "result: false\nerror: read-source\nentries: 0\nbytes: 0\npath: x.zip\n");
    EXPECT_FALSE(fs::exists(dir_ / "x.zip"));  // the partial archive is deleted

    const CommandRun noFolder = run("pack . no/such/folder/x.zip");
    EXPECT_EQ(noFolder.exitCode, 1);
    EXPECT_NE(noFolder.out.find("error: open-archive\n"), std::string::npos) << noFolder.out;

    // An archive whose entry climbs out of the destination.
    const CommandRun made = test::runCommand(
        "cd '" + dir_.string() +
        "' && python3 -c \"import zipfile; z = zipfile.ZipFile('evil.zip', 'w'); z.writestr('../evil.txt', "
        "'x'); z.close()\"");
    ASSERT_EQ(made.exitCode, 0);
    const CommandRun evil = run("unpack evil.zip inner");
    EXPECT_EQ(evil.exitCode, 1);
    EXPECT_EQ(evil.out, "result: false\nerror: unsafe-name\nfiles: 0\nbytes: 0\npath: inner\n");
    EXPECT_FALSE(fs::exists(dir_ / "evil.txt"));

    write(dir_ / "junk.zip", "this is not a zip archive at all");
    const CommandRun junk = run("unpack junk.zip out");
    EXPECT_EQ(junk.exitCode, 1);
    EXPECT_NE(junk.out.find("error: open-archive\n"), std::string::npos) << junk.out;
}

TEST_F(ArchiveCommands, UsageErrorsExitWithTwo) {
    EXPECT_EQ(run("pack onlyone").exitCode, 2);
    EXPECT_EQ(run("unpack a b c").exitCode, 2);
    EXPECT_EQ(run("unpack --bogus a b").exitCode, 2);
    const CommandRun help = run("pack --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: krevolctl pack [--json] FOLDER ARCHIVE\n", 0), 0u) << help.out;
}

}  // namespace
}  // namespace krevol
