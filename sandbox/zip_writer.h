// Builds a zip archive from a folder tree with minizip: deflate level 9, entry names relative to the
// folder with "/" separators, folder entries ending in "/", Unix permissions kept (so an installer
// script stays executable) and one fixed time stamp, so the same tree always gives the same bytes.
#pragma once

#include <filesystem>
#include <string>

namespace krevol::sandbox {

bool zipFolder(const std::filesystem::path& folder, const std::filesystem::path& archive, std::string& error);

}  // namespace krevol::sandbox
