// krevolctl detect: runs the main window's detection step and prints what it found.
#include "cli/detect_command.h"

#include <cstdio>
#include <memory>
#include <ostream>

#include "device/volumes.h"

namespace krevol {

namespace {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x",
                                  static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out += escaped;
                } else {
                    out.push_back(c);
                }
        }
    }
    return out + "\"";
}

}  // namespace

std::string formatDetection(const DetectionStep& step, const DeviceIdentity& identity, bool json) {
    const int outcome = static_cast<int>(step.result);
    if (json) {
        return "{\"outcome\":" + std::to_string(outcome) + ",\"drive\":" + jsonString(identity.driveLetter) +
               ",\"serial\":" + jsonString(identity.deviceSerial) +
               ",\"kind\":" + std::to_string(identity.deviceKind) + "}\n";
    }
    return "outcome: " + std::to_string(outcome) + "\ndrive: " + identity.driveLetter +
           "\nserial: " + identity.deviceSerial + "\nkind: " + std::to_string(identity.deviceKind) + "\n";
}

int runDetectCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            json = true;
        } else {
            err << "usage: krevolctl detect [--json]\n";
            return 2;
        }
    }
    const std::unique_ptr<VolumeSource> volumes = createVolumeSource();
    DeviceIdentity identity;  // a fresh window: no kind yet
    const DetectionStep step = detectDevice(*volumes, identity);
    out << formatDetection(step, identity, json);
    return 0;
}

}  // namespace krevol
