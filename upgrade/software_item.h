// One entry of the server's vehicle-software catalogue for a tool.
#pragma once

#include <string>
#include <string_view>

namespace krevol {

// `SoftwareItem::state`: set by whoever shows or installs the list, never by the parser.
constexpr int kItemFailed = 0;    // the last install attempt failed
constexpr int kItemOnOffer = 1;   // an upgrade is on offer, not queued
constexpr int kItemQueued = 2;    // queued for install
constexpr int kItemUpToDate = 3;  // no upgrade on offer when the list was loaded, or installed in this run

// `SoftwareItem::param2` of an entry for which the server offers an upgrade.
constexpr int kUpgradeOffered = 2;

struct SoftwareItem {
    std::string id;      // raw JSON value after "id": up to the next comma (quotes kept); sent back verbatim
    std::string param1;  // software name
    std::string param3;  // version on the tool as the server knows it ("0.00" and such: none)
    std::string param4;  // latest version; reported after a successful install
    std::string paramView3;       // display form of param3
    std::string paramView4;       // display form of param4
    std::string softpackageSize;  // package size as display text
    std::string softurl;          // download address of the package (.zip)
    std::string param5;           // stored, not used
    std::string updatedesc;       // stored as it comes
    int isrom = 0;                // server flag, only sent back in the version report
    int param2 = 0;               // 2: the server offers an upgrade; anything else: up to date
    int state = kItemFailed;      // client only, see the constants above
};

// True when the server offers an upgrade for the item (param2 == 2).
bool isUpgradable(const SoftwareItem& item);

// True when a version text stands for "nothing installed": it is made only of '0' and '.'
// characters (such as "0.00" or "0.00.00"), the empty text included.
bool isNoVersion(std::string_view version);

}  // namespace krevol
