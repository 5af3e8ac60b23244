// Ctrl-C in a long krevolctl command: it sets the process-wide stop flag, so the transfer, unpack
// or install in progress takes its stop path instead of the program ending half-way.
#pragma once

#include <signal.h>

namespace krevol::cli {

// Sets runStopFlag to 0 and, for the guard's life, makes SIGINT set it to 1; the previous handler
// comes back when the guard goes.
class StopOnInterrupt {
  public:
    StopOnInterrupt();
    ~StopOnInterrupt();
    StopOnInterrupt(const StopOnInterrupt&) = delete;
    StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;

    // True when Ctrl-C came during the guard's life (the stop flag alone does not tell: a run
    // sets it too when it ends).
    static bool interrupted();

  private:
    struct sigaction previous_ {};
};

}  // namespace krevol::cli
