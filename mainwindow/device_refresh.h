// The device refresh without the window: detection, deletion of the tool's obdtool/sys/app.ini,
// the owner query and the device list, in that order, with the device panel's resulting state.
//
// Runs on any thread (the main window calls it through runInBackground and applies the result on
// its UI thread). Error boxes of the queries are shown through the message presenter while it runs;
// everything else is returned.
#pragma once

#include <string>

#include "device/detection.h"
#include "device/volumes.h"
#include "mainwindow/device_ownership.h"

namespace krevol {

struct DeviceRefreshInput {
    std::string userId;
    std::string token;
    std::string email;
    int devicesTrackLength = 0;  // length of the Other Devices thumb track, pixels
};

struct DeviceRefreshOutcome {
    DeviceIdentity identity;  // driveLetter, driveRoot, deviceSerial, deviceKind after detection
    DetectionStep detection;
    bool ownerQueried = false;  // detection found a tool, so the owner query ran
    OwnerQueryOutcome owner;
    MyDevicesOutcome devices;  // always run

    // The device panel after the refresh, in the window's terms.
    bool toolReady = false;  // the tool is one of the user's: statusShown = 0, arm timers 1001 then 1003
    bool statusShown = true;
    int statusMessageId = 0;  // the status text (see below); 0 only when toolReady
    bool ownershipLinkShown = false;
    std::string panelSerial;  // the serial label's text
    std::string panelModel;   // the model text
};

// The refresh. The status text, when the tool is not ready, is the first that applies of:
//  - the detection's message (144, 145, 146, 286) when no single tool was found;
//  - 165 "Unknown device." when the kind is neither 1 nor 2;
//  - the owner query's status (287, 288, 166);
//  - 167 "Query failed" when one of the queries failed (its error box was shown);
//  - otherwise (the server knows the tool, no other account has it, but it is not in the user's
//    list): 246, which says so, rather than leaving an older text on the panel.
DeviceRefreshOutcome refreshDeviceCore(const VolumeSource& volumes, const DeviceRefreshInput& input);

}  // namespace krevol
