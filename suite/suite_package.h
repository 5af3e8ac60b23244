// Installing a newer PC suite: the server's package is downloaded into the download folder
// (KrevolDown), checked against the built-in public key when there is one, unpacked, and the
// installer found in it is started; once it has started, the suite ends and leaves the
// installation to it (a package without an installer for this system, or an installer that does
// not start, leaves the suite running with a message).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace krevol {

// Which files findInstaller takes.
enum class InstallerKinds {
    WindowsOnly,  // a file whose path contains ".exe"
    WithLinux,    // also files ending in ".sh", ".run" or ".AppImage": any of them comes before a ".exe"
};

// The kinds of this platform (Linux: WithLinux).
InstallerKinds platformInstallerKinds();

// Searches `folder` for the program to start. Entries are taken in name order (byte order, as a
// Windows listing of the package gives them); a subfolder is searched when it is met; in each
// folder the first matching file ends that folder's search (not the search of the folders above).
// The file taken last wins: a match directly in the package folder beats matches in subfolders
// met before it; without one, the last subfolder's match wins. With WithLinux the whole package is
// first searched for a Linux installer, and only a package without any is searched for a ".exe".
// The ".exe" test looks at the path below `folder`. Symbolic links are skipped. Empty when nothing
// matches.
std::string findInstaller(const std::string& folder, InstallerKinds kinds = platformInstallerKinds());

struct SuiteInstallOptions {
    std::string folder;  // the download folder (ends with "/"); empty: downloadFolder()
    // Public key of the package signature (hex or base64 of the raw Ed25519 key); when empty, the
    // package is not checked. The program passes suitePublicKey().
    std::string publicKey;
    // Starts the installer (default: startSuiteInstaller). Tests put a recorder here.
    std::function<bool(const std::string&)> startInstaller;
    // Ends the suite once the installer has started. Null: the caller
    // ends it on seeing SuiteInstallOutcome::ended (the window does so on its own thread).
    std::function<void()> endSuite;
    // Receives the package's Content-Length before its body arrives (progress display); may be
    // read by another thread while the install runs.
    std::atomic<std::int64_t>* length = nullptr;
};

struct SuiteInstallOutcome {
    int messageId = 0;  // failure message for the error box, 0 when none
    int code = 0;       // number appended to it, 0 for none
    int downloadResult = 0;
    std::string packagePath;  // where the package was downloaded (for progress and output)
    std::string installer;    // program found in the package, empty when none
    bool signatureChecked = false;
    bool started = false;  // the start of the installer succeeded
    bool ended = false;    // the installer has started: the suite is to end
};

// Where installSuitePackage puts the package of `url` in `folder`.
std::string suitePackagePath(const std::string& url, const std::string& folder);

// The install, blocking (run it off the user-interface thread); shows nothing:
//  1. the folder is deleted and created again; cannot be created → 214;
//  2. runStopFlag = 0; the package is downloaded; not 200 → 182 with the result;
//     with a public key: "<address>.sig" is downloaded (missing → 178 with code 2) and checked
//     (no match → 178 with code 3); a package that fails the check is deleted;
//  3. the package is unpacked into the folder (failure → 178 with code 1) and deleted;
//  4. findInstaller; nothing found → 520 (no installer for this system);
//  5. startInstaller; it does not start → 521;
//  6. endSuite, and `ended` (only after an installer has started: else the suite keeps running).
SuiteInstallOutcome installSuitePackage(const std::string& url, const SuiteInstallOptions& options);

// Codes appended to message 178 ("Upgrade failed").
inline constexpr int kSuiteUnpackFailed = 1;
inline constexpr int kSuiteSignatureMissing = 2;
inline constexpr int kSuiteSignatureWrong = 3;

}  // namespace krevol
