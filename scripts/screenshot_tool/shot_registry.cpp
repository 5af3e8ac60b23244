#include "shot_registry.h"

#include <QApplication>
#include <QThread>

namespace krevol::shots {

namespace {
std::vector<Shot>& shots() {
    static std::vector<Shot> list;
    return list;
}
}  // namespace

bool registerShot(Shot shot) {
    shots().push_back(std::move(shot));
    return true;
}

const std::vector<Shot>& registeredShots() {
    return shots();
}

void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

}  // namespace krevol::shots
