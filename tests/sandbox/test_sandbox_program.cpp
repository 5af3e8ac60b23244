// krevol-sandbox as a child process, as the demo script and end-to-end tests start it.
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "sandbox/demo_seed.h"
#include "sandbox_test_support.h"

extern char** environ;

namespace krevol::sandbox {
namespace {

// A started program with its standard output on a pipe (standard error goes to /dev/null).
class Child {
  public:
    explicit Child(std::vector<std::string> args) {
        args.insert(args.begin(), KREVOL_SANDBOX_PROGRAM);
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        fd_ = out[0];
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) close(fd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }

    // Reads standard output until `done` says so, the pipe closes or 30 s pass.
    std::string readUntil(const std::function<bool(const std::string&)>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done(output_) && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0) continue;
            char buf[4096];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            output_.append(buf, static_cast<std::size_t>(n));
        }
        return output_;
    }
    std::string readAll() {
        return readUntil([](const std::string&) { return false; });
    }

    // Waits for the exit (30 s at most) and gives the exit code, -1 for a signal or time-out.
    int wait() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    void signal(int sig) { kill(pid_, sig); }

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string output_;
};

int listeningPort(const std::string& output) {
    std::smatch m;
    static const std::regex line("listening on 127\\.0\\.0\\.1:([0-9]+)\n");
    return std::regex_search(output, m, line) ? std::stoi(m[1].str()) : 0;
}

TEST(SandboxProgram, HelpDocumentsTheOptions) {
    Child child({"--help"});
    ASSERT_TRUE(child.started());
    const std::string text = child.readAll();
    EXPECT_EQ(child.wait(), 0);
    for (const char* option :
         {"--data", "--seed", "--serve", "--port", "--host", "--public-url", "--fault", "--code-ttl",
          "--max-upload", "/admin/fault", "outbox.txt", "dieAfterBytes", "stallAfterBytes", "stallMs",
          "garbage", "emptyBody", "hugeBody", kDemoEmail, kDemoPassword}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
    }
}

TEST(SandboxProgram, RefusesUnknownOptions) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"--port"}, {"--port", "70000"}, {"--fault", "x:what=1"}}) {
        Child child(args);
        ASSERT_TRUE(child.started());
        EXPECT_EQ(child.wait(), 2) << args[0];
    }
}

TEST(SandboxProgram, SeedsServesOnAFreePortAndStopsOnSigterm) {
    test::TempDir dir;
    Child child({"--seed", "--serve", "--quiet", "--data", dir.path().string(), "--port", "0"});
    ASSERT_TRUE(child.started());
    const std::string out = child.readUntil([](const std::string& o) { return listeningPort(o) != 0; });
    const int port = listeningPort(out);
    ASSERT_GT(port, 0) << out;
    EXPECT_NE(out.find("seeded"), std::string::npos) << out;

    httplib::Client client("127.0.0.1", port);
    auto health = client.Get("/admin/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
    EXPECT_NE(health->body.find("\"port\":" + std::to_string(port)), std::string::npos);
    auto login =
        client.Post("/krevol-manager-api/user/login",
                    test::fill(test::kUserPassword, {kDemoEmail, kDemoPassword}), "application/json");
    ASSERT_TRUE(login);
    EXPECT_EQ(test::statusOf(login->body), 200);

    std::ifstream ini(volumesPath(dir.path()) / kDemoVolumeName / "DEVINFO.INI", std::ios::binary);
    std::string firstLine;
    std::getline(ini, firstLine);
    EXPECT_EQ(firstLine, std::string("SN:") + kDemoSerial + "\r");
    EXPECT_TRUE(std::filesystem::is_directory(volumesPath(dir.path()) / kDemoVolumeName / "obdtool" / "sys"));
    EXPECT_TRUE(std::filesystem::is_directory(volumesPath(dir.path()) / kDemoVolumeName / "obdtool" / "log"));

    child.signal(SIGTERM);
    EXPECT_EQ(child.wait(), 0);
}

// A SIGTERM right after "listening on", before the server has begun to serve, still ends it (it was
// lost once, and a test waiting for its sandbox hung).
TEST(SandboxProgram, ASigtermAtOnceAfterStartingEndsIt) {
    for (int i = 0; i < 20; ++i) {
        test::TempDir dir;
        Child child({"--quiet", "--data", dir.path().string(), "--port", "0"});
        ASSERT_TRUE(child.started());
        ASSERT_GT(listeningPort(child.readUntil([](const std::string& o) { return listeningPort(o) != 0; })),
                  0);
        child.signal(SIGTERM);
        EXPECT_EQ(child.wait(), 0) << "attempt " << i;
    }
}

TEST(SandboxProgram, ReportsAPortInUse) {
    test::TempDir dir;
    Child first({"--quiet", "--data", dir.path().string(), "--port", "0"});
    const int port =
        listeningPort(first.readUntil([](const std::string& o) { return listeningPort(o) != 0; }));
    ASSERT_GT(port, 0);
    Child second({"--quiet", "--data", (dir.path() / "second").string(), "--port", std::to_string(port)});
    EXPECT_EQ(second.wait(), 1);
    first.signal(SIGINT);
    EXPECT_EQ(first.wait(), 0);
}

}  // namespace
}  // namespace krevol::sandbox
