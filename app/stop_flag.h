// The process-wide stop flag of downloads, unpacking, copies onto the card and install runs.
#pragma once

#include <atomic>

namespace krevol {

// Non-zero = stop. Any thread may write it; the long operations look at it between blocks.
extern std::atomic<int> runStopFlag;

}  // namespace krevol
