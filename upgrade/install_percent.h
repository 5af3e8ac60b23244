// The percentage of an install that the upgrade page (and the Device Reset page) shows once a
// second while an item is being installed.
//
// The download covers 0-50 %, the copy onto the card 50-100 %. Every byte count is 64-bit, so
// packages of 2 GiB and more show their progress like small ones.
#pragma once

#include <cmath>
#include <cstdint>

namespace krevol {

constexpr int kNoPercent = -1;  // nothing is shown

constexpr std::int32_t kPhaseDownload = 1;
constexpr std::int32_t kPhaseCopy = 2;

// `phase` 1: `downloadedSize` is the size of the partial download (0 while it has no file yet),
// `total` the package's content length; the result is downloadedSize × 100 / total / 2 in 64-bit
// integers, each division truncating.
// `phase` 2: `total` is the size of the unpacked tree; the result is
// 50 + trunc(50 × copiedBytes / total), computed in double precision.
// kNoPercent while `total` is below 1 or in any other phase.
inline int installPercent(std::int32_t phase, std::int64_t downloadedSize, std::int64_t total,
                          std::int64_t copiedBytes) {
    if (total < 1) return kNoPercent;
    if (phase == kPhaseDownload) return static_cast<int>(downloadedSize * 100 / total / 2);
    if (phase == kPhaseCopy)
        return 50 + static_cast<int>(
                        std::trunc(50.0 * static_cast<double>(copiedBytes) / static_cast<double>(total)));
    return kNoPercent;
}

}  // namespace krevol
