// Reading a password for krevolctl login.
//
// Linux: when standard input is a terminal, "Password: " is written to standard error and the
// line is read with the terminal's echo switched off (restored afterwards, also when reading
// fails). Otherwise the first line of standard input is the password. The line end (LF or CR LF)
// is not part of the password.
#pragma once

#include <string>

namespace krevol::cli {

// False when no line could be read (end of input before anything, or a read error).
bool readPassword(std::string& password);

}  // namespace krevol::cli
