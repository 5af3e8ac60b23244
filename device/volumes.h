// Removable volumes: which ones are mounted now, and a watcher that reports arrivals and removals.
//
// On Linux a volume's mount point plays the role of a drive letter: it names the tool's drive in
// DeviceIdentity::driveLetter, and the arrival/removal events carry it so that the main window can
// gate them exactly as it gates drive letters.
//
// Two sources:
//  - LinuxVolumeSource (volumes_linux.cpp): the mounted file systems of /proc/self/mountinfo whose
//    block device is removable: the disk's sysfs attribute `removable` is 1, or the disk sits on the
//    USB bus (its sysfs device path contains "/usb"). A partition counts for its parent disk. Loop
//    devices, fixed disks and file systems without a block device (tmpfs, proc, network, fuse...)
//    do not count, nor do optical drives (sr*: on Windows they are CD-ROM drives, not removable
//    ones). A device mounted at several places (bind mounts) yields one volume per mount point.
//  - FolderVolumeSource (folder_volumes.cpp): every sub-folder of one folder is a removable drive,
//    for demos and tests; chosen by createVolumeSource() when KREVOL_VOLUMES names a folder.
//
// Caveats:
//  - Only mounted volumes are seen; a card that the desktop has not mounted (yet) is not a drive.
//  - Linux: a bind mount of a removable file system counts as one more volume (like a second drive
//    letter on Windows). A volume whose mount point cannot be reached by this process is still listed.
//  - Linux watching polls /proc/self/mountinfo (the kernel flags POLLPRI|POLLERR on every change of the
//    mount table of this process's mount namespace) and diffs the volume lists; a change of the sysfs
//    `removable` attribute without a mount or unmount is not noticed until the next mount change.
//  - Folder watching uses inotify on the folder, backed by a 500 ms rescan; a sub-folder renamed in
//    place is a removal of the old name and an arrival of the new one.
//  - The callback runs on the watcher's own thread, never on the caller's: marshal to the UI thread.
//    Destroying the watcher stops and joins that thread, so it must not be destroyed from inside its
//    own callback. One event per volume; a change of several volumes gives several events, removals
//    first, each group in mount-point order.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krevol {

struct RemovableVolume {
    std::string mountPoint;  // "/media/user/CARD"; the drive's name (the role of a drive letter)
    std::string rootPath;    // mountPoint + "/" (just "/" for the root file system)
};

enum class VolumeEventKind { Arrival, Removal };

struct VolumeEvent {
    VolumeEventKind kind = VolumeEventKind::Arrival;
    std::string mountPoint;
};

using VolumeEventCallback = std::function<void(const VolumeEvent&)>;

// A running watch; the destructor stops it (and waits for its thread).
class VolumeWatcher {
  public:
    virtual ~VolumeWatcher() = default;
};

class VolumeSource {
  public:
    virtual ~VolumeSource() = default;
    // The mounted removable volumes, ordered by mount point (byte order). Safe on any thread.
    virtual std::vector<RemovableVolume> listVolumes() const = 0;
    // Starts watching; `callback` gets every arrival/removal from now on, on the watcher's thread.
    // The source must outlive the watcher. Returns nullptr when watching cannot be set up.
    virtual std::unique_ptr<VolumeWatcher> watch(VolumeEventCallback callback) const = 0;
};

class LinuxVolumeSource : public VolumeSource {
  public:
    // The mount table file and the sysfs root are parameters so that tests can feed fixture trees.
    explicit LinuxVolumeSource(std::string mountInfoPath = "/proc/self/mountinfo",
                               std::string sysRoot = "/sys");
    std::vector<RemovableVolume> listVolumes() const override;
    std::unique_ptr<VolumeWatcher> watch(VolumeEventCallback callback) const override;

  private:
    std::string mountInfoPath_;
    std::string sysRoot_;
};

class FolderVolumeSource : public VolumeSource {
  public:
    explicit FolderVolumeSource(std::string folder);
    std::vector<RemovableVolume> listVolumes() const override;
    std::unique_ptr<VolumeWatcher> watch(VolumeEventCallback callback) const override;

  private:
    std::string folder_;
};

// KREVOL_VOLUMES set and not empty: a FolderVolumeSource on that folder; otherwise the Linux source.
std::unique_ptr<VolumeSource> createVolumeSource();

// The events that turn the list `before` into `after` (both ordered by mount point): removals first,
// then arrivals. Shared by the watchers; exposed for tests.
std::vector<VolumeEvent> diffVolumes(const std::vector<RemovableVolume>& before,
                                     const std::vector<RemovableVolume>& after);

// Helpers of the Linux source, exposed for tests.
struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string mountPoint;  // unescaped (\040 -> blank, \011, \012, \134 ...)
    std::string source;      // mount source field, unescaped ("/dev/sdb1", "tmpfs")
};
// Parses the text of a mountinfo file; malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(const std::string& text);
// Undoes the octal escapes (\ooo) that the kernel writes into mount table fields.
std::string unescapeMountField(const std::string& field);

}  // namespace krevol
