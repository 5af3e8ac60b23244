// The single-instance lock "KrevolRegist".
//
// Linux: an exclusive, non-blocking flock() on the file "<name>.lock" in the user's runtime
// folder ($XDG_RUNTIME_DIR when it names a folder, otherwise /tmp/krevol-<uid>/, created with
// mode 0700 and refused when it is not a real folder owned by this user or is writable by others).
// The system drops the lock when the holding process dies, however it ends. The file itself is
// never removed (removing it would let two processes lock two different files). The descriptor
// is opened with O_CLOEXEC, so programs that this process starts do not inherit the lock.
// flock() locks belong to the open file, so two InstanceLock objects in one process also
// exclude each other.
//
// FolderLock: an exclusive flock() on the folder itself, waiting while another process holds it.
#pragma once

#include <cstdint>
#include <string>

namespace krevol {

inline constexpr const char* kInstanceLockName = "KrevolRegist";

enum class LockResult {
    Acquired,       // this process holds the lock now
    HeldElsewhere,  // another process (or another lock object) holds it
    Failed,         // the lock cannot be created; the run goes on as if no other instance ran
};

// The folder holding the lock files of this user (without a trailing separator); empty when
// no usable folder exists.
std::string runtimeLockFolder();

class InstanceLock {
  public:
    // `folder` empty: runtimeLockFolder().
    explicit InstanceLock(std::string name, std::string folder = {});
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Tries once, without waiting. Acquiring again while held returns Acquired.
    LockResult acquire();
    // Gives the lock up (nothing happens when it is not held).
    void release();
    bool held() const { return fd_ >= 0; }
    // The lock file's path; empty when no folder could be found.
    std::string filePath() const;

  private:
    std::string name_;
    std::string folder_;
    int fd_ = -1;
};

// An exclusive lock on a folder shared by the processes of this computer, held for the object's
// life; no lock file is left behind. The constructor waits while another process (or another
// FolderLock) holds it. A folder that cannot be opened gives no lock: the caller goes on without.
class FolderLock {
  public:
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return handle_ >= 0; }

  private:
    std::intptr_t handle_ = -1;
};

// The process-wide lock "KrevolRegist" of the normal run, so that restartProgram can let go
// of it before the new instance starts.
InstanceLock& programLock();

}  // namespace krevol
