// Ejecting the tool's drive after a format, as the desktop's "safely remove" does: the drive's file
// systems are unmounted and the drive is powered off, so that the tool can restart on its fresh card.
//
// ejectDrive(mountPoint) returns 0 when it ran to the end (ejected, or every attempt refused) and -1
// when the drive could not be identified; an empty mount point returns 0 at once. Nothing is shown
// to the user; diagnostic lines go to `diagnostics` (standard output by default), for a developer's
// console:
//   "uninstallusb createfile failed error:%d\n"  the disk service cannot be reached (the errno)
//   "GetDrivesDevInstDiskNumber failed\n"       no drive has a file system mounted there
//   "isremovable:%d\n"                          the drive reports itself removable (1) or not (0)
//   "Success\n\n"                               ejected
//   "failed\n"                                  three attempts refused (busy, not authorised ...)
//
// Linux (eject_linux.cpp), through udisks2 (the bus as in device/format.h, KREVOL_UDISKS_BUS):
// Filesystem.Unmount of every mounted file system of the drive, then Drive.PowerOff (Drive.Eject
// when the drive cannot be powered off). A refused attempt is tried again after 200 ms, three
// attempts in all. Bounded in time: the whole call ends within about 20 seconds (each D-Bus call gets
// what is left of that budget).
//
// Folder volumes (KREVOL_VOLUMES): the tool's folder <volumes>/<name> is moved aside to
// <volumes>.ejected/<name> (a sibling folder, so that it is no drive itself); the watcher then
// reports the tool's removal. scripts/plug-in-demo-tool moves it back ("plugs it in again").
//
// Caveat: blocks the calling thread; run it on a background task in a window.
#pragma once

#include <iosfwd>
#include <string>

#include "device/volumes.h"

namespace krevol {

// The whole budget of one eject.
constexpr int kEjectBudgetSeconds = 20;

int ejectDrive(const std::string& mountPoint);
int ejectDrive(const std::string& mountPoint, std::ostream& diagnostics);

// The two variants, exposed for tests.
int ejectFolderVolume(const std::string& mountPoint, const std::string& volumesFolder,
                      std::ostream& diagnostics);
int ejectUdisksVolume(const std::string& mountPoint, std::ostream& diagnostics);

// Where ejectFolderVolume puts a tool folder: <volumesFolder>.ejected (no trailing separator).
std::string ejectedFolderOf(const std::string& volumesFolder);

}  // namespace krevol
