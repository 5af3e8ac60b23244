#include "cli/password_input.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace krevol::cli {

bool readPassword(std::string& password) {
    password.clear();
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    termios saved{};
    bool echoOff = false;
    if (terminal) {
        std::fputs("Password: ", stderr);
        std::fflush(stderr);
        if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios quiet = saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            quiet.c_lflag |= ECHONL;
            echoOff = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        }
    }
    const bool got = static_cast<bool>(std::getline(std::cin, password)) || !password.empty();
    if (echoOff) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return got;
}

}  // namespace krevol::cli
