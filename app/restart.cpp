#include "app/restart.h"

#include "app/folders.h"
#include "app/instance_lock.h"
#include "app/processes.h"

namespace krevol {

void restartProgram() {
    // Let go first: the new instance takes the lock as a normal start, without "Twice".
    programLock().release();
    startProgram(programPath(), {});
}

}  // namespace krevol
