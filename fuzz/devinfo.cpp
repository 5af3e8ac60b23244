// DEVINFO.INI on a tool's card: the whole detection over a folder that stands for one removable
// drive, compared with the serial line found by reading the bytes in memory.
#include <fstream>
#include <string>
#include <string_view>

#include "device/detection.h"
#include "device/volumes.h"
#include "fuzz/fuzz_support.h"

using namespace krevol;
using krevol::fuzz::check;

namespace {

bool isSerialLine(std::string_view line) {
    return line.size() >= 3 && (line[0] == 'S' || line[0] == 's') && (line[1] == 'N' || line[1] == 'n') &&
           line[2] == ':';
}

// The first "SN:" line within the first kMaxDevInfoBytes; a last line without line end counts
// only when the whole file lies within them.
std::string expectedSerial(std::string_view file) {
    const std::string_view head = file.substr(0, kMaxDevInfoBytes);
    std::size_t start = 0;
    for (std::size_t end; (end = head.find('\n', start)) != std::string_view::npos; start = end + 1) {
        std::string_view line = head.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (isSerialLine(line)) return std::string(line.substr(3));
    }
    if (file.size() <= kMaxDevInfoBytes && isSerialLine(head.substr(start)))
        return std::string(head.substr(start + 3));
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceMessages();
    const std::string_view file = fuzz::asText(data, size);
    const std::filesystem::path volumes = fuzz::scratchFolder() / "volumes";
    const std::filesystem::path drive = volumes / "KREVOL-SD";
    std::filesystem::create_directories(drive);
    // The name's case follows the input, as any packer on a FAT card may have written it.
    const std::string name = (size & 1) != 0 ? "devinfo.ini" : "DEVINFO.INI";
    {
        std::ofstream out(drive / name, std::ios::binary | std::ios::trunc);
        out.write(file.data(), static_cast<std::streamsize>(file.size()));
        check(static_cast<bool>(out), "cannot write DEVINFO.INI");
    }

    const std::string expected = expectedSerial(file);
    check(readDriveSerial(drive.string()) == expected, "readDriveSerial read another serial", expected);

    FolderVolumeSource source(volumes.string());
    DeviceIdentity identity;
    identity.deviceKind = 7;
    const DetectionStep step = detectDevice(source, identity);
    check(identity.driveLetter == drive.string(), "the drive was not found", identity.driveLetter);
    check(identity.deviceSerial == expected, "detectDevice read another serial");
    const bool valid = expected.size() == 16;
    check(step.found == valid, "found does not follow the serial's length");
    check(step.result == (valid ? DetectResult::Found : DetectResult::BadSerial), "wrong detection result");
    if (valid) {
        const int kind = expected.starts_with("900") ? 2 : expected.starts_with("100") ? 1 : -1;
        check(identity.deviceKind == kind, "wrong device kind");
    } else {
        check(identity.deviceKind == -1, "a bad serial kept a kind");
    }
    std::filesystem::remove(drive / name);
    return 0;
}
