#include "upgrade/device_content.h"

namespace krevol {

std::string deviceContentPath(const std::string& driveRoot) {
    return driveRoot + "/obdtool/sys/dev";
}
std::string deviceContentRequestBody(const std::string&) {
    return {};
}
bool decodeDeviceContent(std::string_view, std::string& bytes) {
    bytes.clear();
    return false;
}
bool writeDeviceContentFile(const std::string&, std::string_view) {
    return false;
}
bool fetchDeviceContent(const std::string&, const std::string&, CallTrace*) {
    return false;
}

}  // namespace krevol
