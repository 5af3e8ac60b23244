// A small client of udisks2 (org.freedesktop.UDisks2) over D-Bus with sd-bus, shared by the format
// and the eject. Internal to device/.
//
// The bus: KREVOL_UDISKS_BUS "session" → the session bus; another non-empty text → that D-Bus
// address; unset or empty → the system bus. Interactive authorisation is allowed, so udisks2 and
// polkit may ask the desktop's authentication agent.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct sd_bus;

namespace krevol::udisks {

// A property value, reduced to what udisks2 needs here.
struct Value {
    std::string text;                // s, o, ay (the trailing NUL removed)
    std::vector<std::string> texts;  // as, ao, aay
    std::uint64_t number = 0;        // t, u, i, q, n, y, x; b as 0/1
};

using Properties = std::map<std::string, Value>;
struct Object {
    std::string path;
    std::map<std::string, Properties> interfaces;  // "org.freedesktop.UDisks2.Block" → properties
    bool has(const std::string& interfaceName) const;
    const Value* property(const std::string& interfaceName, const std::string& name) const;
    std::string text(const std::string& interfaceName, const std::string& name) const;
    std::vector<std::string> texts(const std::string& interfaceName, const std::string& name) const;
    std::uint64_t number(const std::string& interfaceName, const std::string& name) const;
};

inline constexpr const char* kBlock = "org.freedesktop.UDisks2.Block";
inline constexpr const char* kFilesystem = "org.freedesktop.UDisks2.Filesystem";
inline constexpr const char* kPartition = "org.freedesktop.UDisks2.Partition";
inline constexpr const char* kDrive = "org.freedesktop.UDisks2.Drive";

// An option of a method's a{sv} argument: a string list (mkfs-args) or a boolean.
struct Option {
    std::string name;
    std::vector<std::string> texts;
    bool isFlag = false;
    bool flag = false;
};

class Client {
  public:
    Client();
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Connects; false with lastError() when the bus cannot be reached.
    bool connect();
    // The time-out of the calls that take none of their own (objects, version); 0: 25 s.
    void setDefaultTimeout(std::uint64_t usec);
    // Every UDisks2 object (ObjectManager.GetManagedObjects). False on a call failure.
    bool objects(std::vector<Object>& out);
    // The daemon's version ("2.9.4"); empty when it cannot be read.
    std::string version();
    // Calls interface.method(options) on `path` (with a leading string argument when `first` is not
    // empty, as Block.Format's type); `reply` receives a string answer (Filesystem.Mount).
    // `timeoutUsec` 0: the bus default (25 s). False with lastError() on a refusal.
    bool call(const std::string& path, const std::string& interfaceName, const std::string& method,
              const std::string& first, const std::vector<Option>& options, std::uint64_t timeoutUsec,
              std::string* reply = nullptr);
    // "org.freedesktop.UDisks2.Error.DeviceBusy: Error unmounting ...", or a connection error.
    const std::string& lastError() const { return lastError_; }

  private:
    sd_bus* bus_ = nullptr;
    std::uint64_t defaultTimeout_ = 0;
    std::string lastError_;
};

// "/dev/sdb1" etc. of every file system of the drive `drivePath`, with the block objects.
std::vector<const Object*> blocksOfDrive(const std::vector<Object>& objects, const std::string& drivePath);
// The block object whose file system is mounted at `mountPoint`, null when none.
const Object* blockMountedAt(const std::vector<Object>& objects, const std::string& mountPoint);
const Object* findObject(const std::vector<Object>& objects, const std::string& path);
// "2.10.1" → {2, 10}; {0, 0} when unreadable.
std::pair<int, int> parseVersion(const std::string& version);

}  // namespace krevol::udisks
