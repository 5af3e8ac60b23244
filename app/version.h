// The running program's version, shown by the sign-in window's hidden version display and the
// about box, and compared with the server's newest suite version.
#pragma once

namespace krevol {

inline constexpr char kProgramVersion[] = "4.3.0";

}  // namespace krevol
