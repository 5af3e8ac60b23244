// The device refresh, as data for the main window.
#include "mainwindow/device_refresh.h"

#include "app/messages.h"

namespace krevol {

DeviceRefreshOutcome refreshDeviceCore(const VolumeSource& volumes, const DeviceRefreshInput& input) {
    DeviceRefreshOutcome out;
    out.statusShown = true;
    out.ownershipLinkShown = false;

    out.detection = detectDevice(volumes, out.identity);
    if (out.detection.showSerial) out.panelSerial = out.identity.deviceSerial;
    out.panelModel.clear();  // every detection clears the model text

    if (!out.detection.found) {
        out.statusMessageId = out.detection.statusMessageId;
        out.devices =
            refreshMyDevices(input.userId, input.token, out.identity.deviceSerial, input.devicesTrackLength);
        if (out.devices.toolListed) {
            out.panelSerial = out.devices.panelSerial;
            out.panelModel = out.devices.panelModel;
        }
        return out;
    }

    deleteToolAppIni(out.identity.driveLetter);

    out.ownerQueried = true;
    out.owner = queryOwner(out.identity.deviceSerial, input.email);
    if (out.owner.modelSet) out.panelModel = out.owner.model;
    out.ownershipLinkShown = out.owner.ownershipLinkShown;

    out.devices =
        refreshMyDevices(input.userId, input.token, out.identity.deviceSerial, input.devicesTrackLength);
    if (out.devices.toolListed) {
        out.panelSerial = out.devices.panelSerial;
        out.panelModel = out.devices.panelModel;
    }

    if (out.devices.result == 1) {
        out.toolReady = true;
        out.statusShown = false;
        out.statusMessageId = 0;
        out.ownershipLinkShown = false;
        return out;
    }
    if (out.identity.deviceKind != 1 && out.identity.deviceKind != 2)
        out.statusMessageId = msgId(165);
    else if (out.owner.statusMessageId != 0)
        out.statusMessageId = out.owner.statusMessageId;
    else if (out.owner.errorMessageId != 0 || out.devices.errorMessageId != 0)
        out.statusMessageId = msgId(167);  // a query failed; its error box was shown
    else
        out.statusMessageId = msgId(246);  // the server knows the tool, but it is not in the user's list
    return out;
}

}  // namespace krevol
