#include "suite/suite_package.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/folders.h"
#include "app/messages.h"
#include "app/stop_flag.h"
#include "feedback/archiver.h"
#include "net/download_name.h"
#include "net/transport.h"
#include "suite/installer_start.h"
#include "suite/package_signature.h"

namespace fs = std::filesystem;

namespace krevol {

InstallerKinds platformInstallerKinds() {
    return InstallerKinds::WithLinux;
}

namespace {

bool isLinuxInstaller(const std::string& name) {
    for (const char* end : {".sh", ".run", ".AppImage"}) {
        const std::string_view e(end);
        if (name.size() > e.size() && name.ends_with(e)) return true;
    }
    return false;
}

// Which files one pass of the search takes.
enum class Pass { Linux, Windows };

// Searches one folder; `relative` is its path below the package folder ("" or ending in "/").
// Sets `taken` whenever a file is taken, so the file taken last stays there. The first file of the
// pass's kind in a folder ends that folder's search.
void searchFolder(const fs::path& folder, const std::string& relative, Pass pass, std::string& taken) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    std::sort(entries.begin(), entries.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
        return a.path().filename().string() < b.path().filename().string();
    });
    for (const fs::directory_entry& entry : entries) {
        const std::string name = entry.path().filename().string();
        const fs::file_status status = entry.symlink_status(ec);
        if (ec || fs::is_symlink(status)) continue;
        if (fs::is_directory(status)) {
            searchFolder(entry.path(), relative + name + "/", pass, taken);
            continue;
        }
        if (!fs::is_regular_file(status)) continue;
        const bool match = pass == Pass::Linux ? isLinuxInstaller(name)
                                               : (relative + name).find(".exe") != std::string::npos;
        if (match) {
            taken = entry.path().string();
            return;
        }
    }
}

}  // namespace

std::string findInstaller(const std::string& folder, InstallerKinds kinds) {
    std::string taken;
    // A Linux installer anywhere in the package comes before any ".exe" (a package for both
    // systems may keep its Linux installer in a subfolder beside a setup.exe on top).
    if (kinds == InstallerKinds::WithLinux) {
        searchFolder(fs::path(folder), "", Pass::Linux, taken);
        if (!taken.empty()) return taken;
    }
    searchFolder(fs::path(folder), "", Pass::Windows, taken);
    return taken;
}

std::string suitePackagePath(const std::string& url, const std::string& folder) {
    return folder + urlFileName(url);
}

SuiteInstallOutcome installSuitePackage(const std::string& url, const SuiteInstallOptions& options) {
    SuiteInstallOutcome outcome;
    std::string folder = options.folder.empty() ? downloadFolder() : options.folder;
    if (!folder.empty() && folder.back() != '/') folder += '/';

    // 1. A fresh download folder.
    deleteFolder(folder);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder)) {
        outcome.messageId = msgId(214);
        return outcome;
    }

    // 2. The package (and its signature when packages are checked).
    runStopFlag = 0;
    std::string packagePath = folder;
    std::string lengthText;
    std::atomic<std::int64_t> ownLength{0};
    outcome.downloadResult =
        downloadFile(url, packagePath, lengthText, options.length ? *options.length : ownLength);
    outcome.packagePath = packagePath;
    if (outcome.downloadResult != kResultOk) {
        outcome.messageId = msgId(182);
        outcome.code = outcome.downloadResult;
        return outcome;
    }
    if (!options.publicKey.empty()) {
        outcome.signatureChecked = true;
        std::string signaturePath = folder;
        std::string signatureLengthText;
        std::atomic<std::int64_t> signatureLength{0};
        const int fetched = downloadFile(url + ".sig", signaturePath, signatureLengthText, signatureLength);
        SignatureCheck check = SignatureCheck::Unreadable;
        if (fetched == kResultOk)
            check = verifyPackageSignature(packagePath, signaturePath, options.publicKey);
        if (fetched == kResultOk) fs::remove(signaturePath, ec);
        if (check != SignatureCheck::Good) {
            fs::remove(packagePath, ec);  // nothing unchecked stays to be run later
            outcome.messageId = msgId(178);
            outcome.code = fetched == kResultOk ? kSuiteSignatureWrong : kSuiteSignatureMissing;
            return outcome;
        }
    }

    // 3. Unpacked into the same folder; the archive goes.
    if (!extractArchive(packagePath, folder)) {
        outcome.messageId = msgId(178);
        outcome.code = kSuiteUnpackFailed;
        return outcome;
    }
    fs::remove(packagePath, ec);

    // 4.-6. The installer is started, and only then does the suite end: without an installer for
    // this system, or when it does not start, the suite keeps running and says so.
    outcome.installer = findInstaller(folder);
    if (outcome.installer.empty()) {
        outcome.messageId = msgId(520);
        return outcome;
    }
    const auto& start = options.startInstaller ? options.startInstaller : startSuiteInstaller;
    outcome.started = start(outcome.installer);
    if (!outcome.started) {
        outcome.messageId = msgId(521);
        return outcome;
    }
    outcome.ended = true;
    if (options.endSuite) options.endSuite();
    return outcome;
}

}  // namespace krevol
