// krevolctl as scripts use it: the real binary against an API server in this process.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "app/messages.h"
#include "support/command_run.h"
#include "support/recording_api_server.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;

using test::CommandRun;

class Krevolctl : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "krevolctl-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
        server_.http().Get("/files/pack.zip", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(3000, 'z'), "application/zip");
        });
        server_.http().Get("/files/chunked.zip", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("application/zip", [](size_t, httplib::DataSink& sink) {
                sink.done();
                return true;
            });
        });
        server_.start();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Runs krevolctl with `args` (already quoted for the shell) and `input` on standard input.
    CommandRun run(const std::string& args, const std::string& input = "") {
        const fs::path inputFile = dir_ / "stdin.txt";
        { std::ofstream(inputFile, std::ios::binary) << input; }
        const std::string command =
            std::string(KREVOLCTL_PATH) + " " + args + " < '" + inputFile.string() + "' 2>/dev/null";
        return test::runCommand(command);
    }

    fs::path dir_;
    test::RecordingApiServer server_;
};

TEST_F(Krevolctl, LoginSucceedsWithThePasswordFromStandardInput) {
    server_.answerWith("{\"statuscode\":200,\"data\":{\"id\":17,\"token\":\"tk\",\"x\":0}}");

    const CommandRun r = run("login a@b.com", "s3cret\n");

    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              "result: 200\n"
              "status: 200\n"
              "answer: {\"statuscode\":200,\"data\":{\"id\":17,\"token\":\"tk\",\"x\":0}}\n"
              "signedIn: true\n"
              "userId: 17\n"
              "token: \"tk\"\n");
    const auto sent = server_.bodies();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_NE(sent[0].find("\"password\" : \"s3cret\""), std::string::npos) << sent[0];
}

TEST_F(Krevolctl, RefusedLoginPrintsTheMessageAndFails) {
    const struct {
        std::string answer;
        int messageId;
        std::string suffix;
    } cases[] = {
        {"{\"statuscode\":3,\"data\":{}}", 140, ""},
        {"{\"statuscode\":200,\"data\":{\"id\":17,\"token\":\"tk\"}}", 143, ""},  // no readable token
        {"{\"statuscode\":42,\"data\":{}}", 141, ":42"},
    };
    for (const auto& c : cases) {
        server_.answerWith(c.answer);
        const CommandRun r = run("login a@b.com", "pw");
        EXPECT_EQ(r.exitCode, 1) << c.answer;
        EXPECT_EQ(r.out.rfind("result: 200\nstatus: ", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("\nsignedIn: false\nmessage: " + loadText(c.messageId) + c.suffix + "\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.find("token:"), std::string::npos) << r.out;
    }
}

TEST_F(Krevolctl, LoginAsJson) {
    server_.answerWith("{\"statuscode\": -6,\"data\":{}}");

    const CommandRun r = run("--json login a@b.com", "pw");

    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out,
              "{\"result\":200,\"status\":-6,\"answer\":\"{\\\"statuscode\\\": -6,\\\"data\\\":{}}\","
              "\"signedIn\":false,\"message\":[\"" +
                  loadText(142) + "\"]}\n");
}

TEST_F(Krevolctl, PostPrintsTheAnswerAsTheProgramSeesIt) {
    server_.answerWith("{\"statuscode\":200,\r\n\"data\":[]}\n");
    { std::ofstream(dir_ / "body.json", std::ios::binary) << "{\"statuscode\": 0}"; }

    const CommandRun text = run("post tooluser/selectContentBySn '" + (dir_ / "body.json").string() + "'");
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_EQ(text.out, "result: 200\nstatus: 200\nanswer: {\"statuscode\":200,\r\"data\":[]}\nurl: http://" +
                            server_.hostPort() + "/krevol-manager-api/tooluser/selectContentBySn\n");

    const CommandRun json = run("post --json tooluser/selectContentBySn -", "{}");
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.out,
              "{\"result\":200,\"status\":200,\"answer\":\"{\\\"statuscode\\\":200,\\r\\\"data\\\":[]}\","
              "\"url\":\"http://" +
                  server_.hostPort() + "/krevol-manager-api/tooluser/selectContentBySn\",\"message\":[]}\n");
    const auto sent = server_.bodies();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], "{\"statuscode\": 0}");
    EXPECT_EQ(sent[1], "{}");

    server_.answerWith("missing", 404);
    const CommandRun missing = run("post user/none -", "{}");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out.rfind("result: 4\nanswer: \n", 0), 0u) << missing.out;
}

TEST_F(Krevolctl, DownloadPrintsTheWrittenPath) {
    const CommandRun ok = run("download " + server_.url("/files/pack.zip") + " '" + dir_.string() + "'");
    EXPECT_EQ(ok.exitCode, 0);
    EXPECT_EQ(ok.out, "result: 200\nlength: 3000\npath: " + dir_.string() + "/pack.zip\n");
    EXPECT_EQ(fs::file_size(dir_ / "pack.zip"), 3000u);

    const CommandRun noLength =
        run("download --json " + server_.url("/files/chunked.zip") + " '" + dir_.string() + "/'");
    EXPECT_EQ(noLength.exitCode, 1);
    EXPECT_EQ(noLength.out, "{\"result\":77,\"length\":\"\",\"path\":\"" + dir_.string() +
                                "/chunked.zip\",\"message\":[]}\n");

    // An empty FOLDER is handed on as it is and names no folder.
    const CommandRun noFolder = run("download " + server_.url("/files/pack.zip") + " ''");
    EXPECT_EQ(noFolder.exitCode, 1);
    EXPECT_EQ(noFolder.out.rfind("result: 6\n", 0), 0u) << noFolder.out;
    EXPECT_FALSE(fs::exists("/pack.zip"));
}

// One failure, one box: the transport's own (cannot connect, with code 5); message 127 with the
// same code would only repeat it.
TEST_F(Krevolctl, UnreachableServerShowsTheTransportsMessageOnly) {
    ::setenv("KREVOL_API_HOST", "127.0.0.1:1", 1);
    const CommandRun r = run("login a@b.com", "pw");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.rfind("result: 5\nanswer: \nsignedIn: false\nmessage: " + loadText(340), 0), 0u) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 3), ":5\n") << r.out;
    EXPECT_EQ(r.out.find("message: "), r.out.rfind("message: ")) << r.out;
}

TEST_F(Krevolctl, UsageAndLocalErrors) {
    const struct {
        std::string args;
        int exitCode;
    } cases[] = {
        {"", 2},
        {"--help", 0},
        {"help post", 0},
        {"login --help", 0},
        {"bogus", 2},
        {"--bogus login a@b.com", 2},
        {"login", 2},
        {"login a@b.com extra", 2},
        {"login --verbose a@b.com", 2},
        {"post user/login", 2},
        {"download http://127.0.0.1:1/x", 2},
        {"post user/login /nonexistent/body.json", 3},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.args).exitCode, c.exitCode) << c.args;
    EXPECT_NE(run("--help").out.find("usage: krevolctl"), std::string::npos);
    EXPECT_TRUE(server_.bodies().empty());
}

}  // namespace
}  // namespace krevol
