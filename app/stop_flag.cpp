#include "app/stop_flag.h"

namespace krevol {

std::atomic<int> runStopFlag{0};

}  // namespace krevol
