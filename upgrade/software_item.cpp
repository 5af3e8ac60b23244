#include "upgrade/software_item.h"

namespace krevol {

bool isUpgradable(const SoftwareItem& item) {
    return item.param2 == kUpgradeOffered;
}

bool isNoVersion(std::string_view version) {
    return version.find_first_not_of("0.") == std::string_view::npos;
}

}  // namespace krevol
