#include "app/processes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace krevol {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string readSmallFile(const std::filesystem::path& path, size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string data(limit, '\0');
    in.read(data.data(), static_cast<std::streamsize>(limit));
    data.resize(static_cast<size_t>(in.gcount()));
    return data;
}

bool isProcessFolderName(const std::string& name) {
    if (name.empty()) return false;
    for (char c : name) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

bool processIsInstaller(const std::filesystem::path& folder) {
    // comm: the kernel's short name (at most 15 bytes, enough for "setup.exe"), with a newline.
    std::string comm = readSmallFile(folder / "comm", 64);
    while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\r')) comm.pop_back();
    if (isInstallerName(comm)) return true;

    std::error_code ec;
    std::string exe = std::filesystem::read_symlink(folder / "exe", ec).string();
    if (!ec) {
        constexpr std::string_view kDeleted = " (deleted)";
        if (exe.size() > kDeleted.size() && exe.ends_with(kDeleted)) exe.resize(exe.size() - kDeleted.size());
        if (isInstallerName(exe)) return true;
    }

    // argv[0]: up to the first NUL of cmdline (a program run under Wine shows its Windows path).
    const std::string cmdline = readSmallFile(folder / "cmdline", 4096);
    const std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
    return isInstallerName(argv0);
}

}  // namespace

bool isInstallerName(std::string_view name) {
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    return equalsIgnoringCase(name, kInstallerProcessName);
}

bool findInstallerProcessIn(const std::string& procRoot) {
    std::error_code ec;
    std::filesystem::directory_iterator it(procRoot, ec);
    if (ec) return false;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) return false;
        // Processes come and go during the walk: whatever cannot be read is skipped.
        if (!isProcessFolderName(it->path().filename().string())) continue;
        if (processIsInstaller(it->path())) return true;
    }
    return false;
}

bool findInstallerProcess() {
    return findInstallerProcessIn("/proc");
}

bool startProgram(const std::string& path, const std::vector<std::string>& arguments) {
    if (path.empty()) return false;

    // Everything the new processes use is prepared before fork(): after it only
    // async-signal-safe calls are made.
    std::vector<std::string> storage;
    storage.reserve(arguments.size() + 1);
    storage.push_back(path);
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(storage.size() + 1);
    for (std::string& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);

    // Highest descriptor to mark close-on-exec should close_range() be missing (kernels before 5.11).
    struct rlimit files {};
    int maxFd = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
        maxFd = static_cast<int>(std::min<rlim_t>(files.rlim_cur, 65536));

    // The grandchild reports a failed exec through this pipe; a successful exec closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;

    const pid_t middle = ::fork();
    if (middle < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (middle == 0) {
        ::close(report[0]);
        ::setsid();
        // _Fork: no fork handlers run here, whatever other threads of the parent held.
        const pid_t program = ::_Fork();
        if (program != 0) ::_exit(program < 0 ? 127 : 0);

        // The program starts with default signal handling and none of our descriptors.
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        ::sigemptyset(&standard.sa_mask);
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sig != SIGKILL && sig != SIGSTOP) ::sigaction(sig, &standard, nullptr);
        }
        if (::close_range(3, UINT_MAX, CLOSE_RANGE_CLOEXEC) != 0) {
            for (int fd = 3; fd < maxFd; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }

        ::execv(argv[0], argv.data());
        const int error = errno;
        ssize_t ignored = ::write(report[1], &error, sizeof error);
        (void)ignored;
        ::_exit(127);
    }

    ::close(report[1]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);

    const bool forked = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return forked && n == 0;
}

}  // namespace krevol
