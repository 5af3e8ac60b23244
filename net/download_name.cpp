#include "net/download_name.h"

namespace krevol {

std::string urlFileName(const std::string& url) {
    const std::size_t slash = url.rfind('/');
    if (slash == std::string::npos) return std::string();
    const std::size_t scheme = url.find("://");
    if (scheme != std::string::npos && slash < scheme + 3) return std::string();
    return url.substr(slash + 1);
}

bool isSafeFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

}  // namespace krevol
