// krevol-sandbox as a child process of the test: "--seed --serve" on a free port of 127.0.0.1,
// ended with SIGTERM when the object goes (and with the test process, should that die first).
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <string>

namespace krevol::test {

class SandboxChild {
  public:
    SandboxChild() = default;
    SandboxChild(const SandboxChild&) = delete;
    SandboxChild& operator=(const SandboxChild&) = delete;

    // Starts `program` seeding and serving `dataDir`; true once it says where it listens.
    bool start(const char* program, const std::string& dataDir, std::string& error) {
        int out[2];
        if (::pipe(out) != 0) return (error = "pipe"), false;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execl(program, program, "--seed", "--serve", "--quiet", "--data", dataDir.c_str(), "--port",
                    "0", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        if (pid_ < 0) return (error = "fork"), false;
        FILE* in = ::fdopen(out[0], "r");
        char line[512];
        static const std::regex listening("listening on 127\\.0\\.0\\.1:([0-9]+)");
        while (in != nullptr && std::fgets(line, sizeof line, in) != nullptr) {
            std::cmatch m;
            if (std::regex_search(line, m, listening)) {
                port_ = std::stoi(m[1].str());
                stdout_ = in;  // kept open so that the server's later lines do not fail
                return true;
            }
        }
        if (in != nullptr) std::fclose(in);
        error = "krevol-sandbox did not start serving";
        return false;
    }
    ~SandboxChild() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (stdout_ != nullptr) std::fclose(stdout_);
    }
    int port() const { return port_; }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    FILE* stdout_ = nullptr;
};

}  // namespace krevol::test
