#include "cli/terminal.h"

#include <unistd.h>

namespace krevol::cli {

bool standardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) != 0;
}

}  // namespace krevol::cli
