// Restarting the program: the single-instance lock is released first, then the program's own
// executable is started with no arguments, so the new instance does not meet the lock.
// The caller then closes the sign-in dialog, which ends this process.
#pragma once

namespace krevol {

void restartProgram();

}  // namespace krevol
