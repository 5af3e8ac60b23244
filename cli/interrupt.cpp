#include "cli/interrupt.h"

#include <atomic>

#include "app/stop_flag.h"

namespace krevol::cli {

namespace {

std::atomic<int> g_interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler writes atomics");

void stopOnInterrupt(int) {
    g_interrupted.store(1);
    runStopFlag.store(1);
}

}  // namespace

StopOnInterrupt::StopOnInterrupt() {
    g_interrupted.store(0);
    runStopFlag.store(0);
    struct sigaction action {};
    action.sa_handler = &stopOnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_);
}

StopOnInterrupt::~StopOnInterrupt() {
    sigaction(SIGINT, &previous_, nullptr);
}

bool StopOnInterrupt::interrupted() {
    return g_interrupted.load() != 0;
}

}  // namespace krevol::cli
