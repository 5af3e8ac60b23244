#include "app/command_line.h"

namespace krevol {

std::string joinCommandLine(int argc, const char* const* argv) {
    std::string line;
    if (argv == nullptr) return line;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) break;
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return line;
}

std::string joinCommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) line += ' ';
        line += arguments[i];
    }
    return line;
}

StartMode chooseStartMode(std::string_view commandLine) {
    // A name that only starts with ".exe" is not the path of an executable.
    if (commandLine.find(".exe", 1) != std::string_view::npos) return StartMode::UpgradeStep;
    if (commandLine == kUninstallWord) return StartMode::Uninstall;
    return StartMode::Normal;
}

}  // namespace krevol
