// Whether krevolctl writes to a terminal (the install command then draws a progress bar).
// Linux: terminal_linux.cpp (isatty).
#pragma once

namespace krevol::cli {

bool standardOutputIsTerminal();

}  // namespace krevol::cli
