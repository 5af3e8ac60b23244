#include "device/change_wait_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

namespace krevol {

namespace {

class DescriptorWait : public ChangeWait {
  public:
    DescriptorWait(int fd, short events, void (*drain)(int), int stopRead, int stopWrite)
        : fd_(fd), events_(events), drain_(drain), stopRead_(stopRead), stopWrite_(stopWrite) {}

    ~DescriptorWait() override {
        ::close(stopRead_);
        ::close(stopWrite_);
        if (fd_ >= 0) ::close(fd_);
    }

    bool wait(int timeoutMs) override {
        for (;;) {
            pollfd fds[2] = {{stopRead_, POLLIN, 0}, {fd_, events_, 0}};
            const nfds_t count = fd_ >= 0 ? 2 : 1;
            const int ready = ::poll(fds, count, timeoutMs);
            if (ready < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (fds[0].revents != 0) return false;  // stop requested
            if (count == 2 && (fds[1].revents & POLLNVAL) != 0) {
                fd_ = -1;  // closed under us: go on with the time-out alone
            } else if (count == 2 && fds[1].revents != 0 && drain_ != nullptr) {
                drain_(fd_);
            }
            return true;
        }
    }

    void stop() override {
        const char byte = 1;
        while (::write(stopWrite_, &byte, 1) < 0 && errno == EINTR) {
        }
    }

  private:
    int fd_;
    short events_;
    void (*drain_)(int);
    int stopRead_;
    int stopWrite_;
};

void drainInotify(int fd) {
    alignas(inotify_event) char buffer[4096];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

std::unique_ptr<ChangeWait> descriptorChangeWait(int fd, short events, void (*drain)(int fd)) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    return std::make_unique<DescriptorWait>(fd, events, drain, pipeFds[0], pipeFds[1]);
}

std::unique_ptr<ChangeWait> folderChangeWait(const std::string& folder) {
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd >= 0 && ::inotify_add_watch(fd, folder.c_str(),
                                       IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                           IN_MOVE_SELF | IN_ONLYDIR) < 0) {
        ::close(fd);
        fd = -1;  // the folder may appear later: the time-out still sees it
    }
    return descriptorChangeWait(fd, POLLIN, drainInotify);
}

}  // namespace krevol
