#include "net/user_agent.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace krevol {

std::string userAgentName() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && !exe.filename().empty()) return exe.filename().string();
    if (program_invocation_short_name != nullptr && *program_invocation_short_name != '\0')
        return program_invocation_short_name;
    return "KrevolRegist";
}

}  // namespace krevol
