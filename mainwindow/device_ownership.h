// Who owns the connected tool, and the signed-in user's list of tools ("Other Devices").
//
// Two server calls: the owner query "deviceuser/selectUserBySn" (owner e-mail and model of a serial)
// and the device-list query "deviceuser/selectDeviceByUserId" (all tools of the user). Both are
// blocking; the main window runs them off its UI thread. They show their error boxes themselves,
// through app/message_presenter.h (which reaches the UI thread on its own), and never touch a
// window: everything the window has to change is returned as data, to be applied in order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace krevol {

// One element of the device-list reply.
struct DeviceRecord {
    std::string type;       // model name, shown as model
    std::string name;       // read, not shown
    std::string sn;         // serial number
    std::string addedDate;  // createTime as "yyyy.mm.dd" in local time
};

// Results of parseDeviceRecord.
constexpr int kDeviceParseLast = 0;     // last element read
constexpr int kDeviceParseMore = 20;    // element read, more follow
constexpr int kDeviceParseNoName = 1;   // key "name":" missing
constexpr int kDeviceParseNameEnd = 2;  // its closing quote missing
constexpr int kDeviceParseNoSn = 3;
constexpr int kDeviceParseSnEnd = 4;
constexpr int kDeviceParseNoType = 5;
constexpr int kDeviceParseTypeEnd = 6;
constexpr int kDeviceParseNoCreateTime = 7;
constexpr int kDeviceParseCreateTimeEnd = 8;  // no ',' after the createTime value
constexpr int kDeviceParseNoElementEnd = 11;  // no '}' closing the element

// Reads one element from the front of `remaining` into `record`. Every key is searched from the
// start of `remaining`; values run to the first terminator, unescaped. On 20 `remaining` becomes the
// text after the first "},". Fields read before a failure stay in `record`.
int parseDeviceRecord(std::string& remaining, DeviceRecord& record);

// The createTime conversion: leading decimal digits = milliseconds since 1970-01-01 UTC, shown as
// "%d.%02d.%02d" in local time. A value before 1970 (a sign), beyond the year 3000, too large for
// 64 bits, without digits, or that the local-time conversion rejects gives kUnknownDate.
std::string formatCreateTime(std::string_view value);
inline constexpr const char* kUnknownDate = "----.--.--";

// The request bodies, exactly as sent (values inserted verbatim, without quotes).
std::string ownerQueryBody(const std::string& serial);
std::string deviceListQueryBody(const std::string& userId, const std::string& token);

// The two calls: the transport result (200, a transport code, or 888 when the serial / the user id
// or token is empty, in which case nothing is sent) and the answer text.
int postOwnerQuery(const std::string& serial, std::string& answer);
int postDeviceListQuery(const std::string& userId, const std::string& token, std::string& answer);

// What the owner query means for the device panel.
struct OwnerQueryOutcome {
    int result = 0;         // 1: the tool belongs to the signed-in user
    bool modelSet = false;  // statuscode 200: the model text becomes `model` (possibly empty)
    std::string model;
    int statusMessageId = 0;          // status text to put on the panel: 287, 288 or 166; 0 = unchanged
    bool ownershipLinkShown = false;  // 166: show the "OK" link (message 260) back to sign-in
    int errorMessageId = 0;           // the box that was shown (127, 224, 167), 0 for none
    int errorCode = 0;                // its code (0 = none)
};

// The owner query for `deviceSerial`, compared with the signed-in `email` (byte for byte). Shows its
// error box (127 with the transport result, 224, 167 with the statuscode) before returning.
OwnerQueryOutcome queryOwner(const std::string& deviceSerial, const std::string& email);

// What the device-list query means for the window.
struct MyDevicesOutcome {
    int result = 0;                 // 1 tool listed, 2 list without it (or no tool), 0 empty/failure
    std::vector<std::string> rows;  // otherDeviceRows: type$sn$addedDate, in reply order
    bool toolListed = false;        // the connected tool is in the list:
    std::string panelSerial;        //   the panel's serial text becomes this
    std::string panelModel;         //   and its model text this (the record's type)
    int errorMessageId = 0;         // the box that was shown (127, 224, 167), 0 for none
    int errorCode = 0;              // its code (transport result, statuscode, -1, parse code)
    bool scrollActive = false;      // devicesScrollActive (five or more rows)
    int scrollStep = 0;             // devicesScrollStep; the thumb starts at the top
};

// The device-list query. The window empties its Other Devices list first, then replaces it with
// `rows` (which keeps the rows read before a malformed element). `trackLength` is the length in
// pixels of the scroll thumb's track. An empty `deviceSerial` (no tool) never matches a record.
MyDevicesOutcome refreshMyDevices(const std::string& userId, const std::string& token,
                                  const std::string& deviceSerial, int trackLength);

// Step of the Other Devices thumb: track / (rows - 3) with five or more rows, 0 otherwise.
int devicesScrollStep(int trackLength, std::size_t rowCount);

}  // namespace krevol
