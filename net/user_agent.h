// The name the transport gives the server as its user agent: the executable's base name.
//
// Linux: read from /proc/self/exe; when that link cannot be read, the program name that the C
// library recorded at start-up is used, and "KrevolRegist" when even that is missing.
#pragma once

#include <string>

namespace krevol {

std::string userAgentName();

}  // namespace krevol
