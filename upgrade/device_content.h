// The tool's per-device content file, obdtool/sys/dev on its card: fetched from the API server
// ("tooluser/selectContentBySn") as hexadecimal text and written as bytes.
//
// Plain C++ without windows: blocks, may run on any thread, shows at most one message through the
// installed message presenter.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "upgrade/catalogue.h"

namespace krevol {

// The file's largest size in bytes, so at most 102400 hexadecimal digits are accepted.
constexpr std::size_t kDeviceContentMaxBytes = 51200;

// Path of the content file below a drive root ("…/KREVOL-SD/" or without the final separator).
std::string deviceContentPath(const std::string& driveRoot);

// The request body, byte for byte as sent (the serial escaped as JSON text).
std::string deviceContentRequestBody(const std::string& serial);

// Decodes the hexadecimal text, two digits (upper or lower case) per byte; a trailing odd digit
// is ignored. False (and `bytes` empty) when the text is longer than 102400 digits or a pair
// holds anything but two hexadecimal digits.
bool decodeDeviceContent(std::string_view hex, std::string& bytes);

// Replaces obdtool/sys/dev below `driveRoot` with `bytes` as a whole: written under a temporary
// name in obdtool/sys, flushed, then renamed over the old file. False when that fails; the old
// file is then untouched and the temporary file removed.
bool writeDeviceContentFile(const std::string& driveRoot, std::string_view bytes);

// Fetches the content of the tool `serial` and writes it to the card under `driveRoot`. True when
// the file was written. Otherwise one message: 127 + result, 224 (status 165), 211 + status,
// 224 + 1 (no or empty "param", too long, or not hexadecimal), 211 + 2 (the file cannot be
// written). The old file stays untouched on every failure. Empty serial: 888, nothing sent.
bool fetchDeviceContent(const std::string& serial, const std::string& driveRoot, CallTrace* trace = nullptr);

}  // namespace krevol
