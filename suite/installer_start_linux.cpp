#include "suite/installer_start.h"

#include <sys/stat.h>

#include "app/processes.h"

namespace krevol {

bool startSuiteInstaller(const std::string& path) {
    if (path.empty()) return false;
    if (path.size() > 3 && path.ends_with(".sh")) return startProgram("/bin/sh", {path});
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) == 0)
        ::chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR | S_IXGRP | S_IXOTH);
    return startProgram(path, {});
}

}  // namespace krevol
