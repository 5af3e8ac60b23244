// The demo data: two accounts, the tools, their catalogues and content bytes, the packages built
// from the folders in sandbox/seed/, the suite package, and a demo tool folder for KREVOL_VOLUMES.
#pragma once

#include <filesystem>
#include <string>

namespace krevol::sandbox {

inline constexpr const char* kDemoEmail = "demo@krevol.test";
inline constexpr const char* kDemoPassword = "demo-pass-1";
inline constexpr const char* kOtherEmail = "other@krevol.test";
inline constexpr const char* kOtherPassword = "other-pass-1";
inline constexpr const char* kDemoSerial = "1001202412345678";     // the demo account's tool, kind 1
inline constexpr const char* kOtherSerial = "9002202398765432";    // a tool of the other account, kind 2
inline constexpr const char* kUnownedSerial = "1001202499999999";  // known to the server, no owner
inline constexpr const char* kDemoVolumeName = "KREVOL-SD";        // sub-folder of <data>/volumes
inline constexpr const char* kSuiteVersion = "4.3.1";
inline constexpr const char* kSuitePackage = "KrevolSuite_4.3.1.zip";
// DEMO ONLY, never for a real package: the Ed25519 key pair that signs the demo's suite package
// (the signature is served as kSuitePackage + ".sig"). The private key is public knowledge here;
// scripts/run-demo builds the suite with the public key (KREVOL_SUITE_PUBLIC_KEY), hex of the raw
// 32 bytes.
inline constexpr const char* kDemoSuiteSigningKey =
    "3b2c6f35390032eee3f388e874667328e8cd63606e8a85fb4658fbf85feb44a7";
inline constexpr const char* kDemoSuitePublicKey =
    "a10196231ce87e90fbb937dfd544fc81c23c1eb9aa72594f2eafa800da6dd033";

// Files of a data folder.
std::filesystem::path databasePath(const std::filesystem::path& dataDir);
std::filesystem::path packagesPath(const std::filesystem::path& dataDir);
std::filesystem::path uploadsPath(const std::filesystem::path& dataDir);
std::filesystem::path outboxPath(const std::filesystem::path& dataDir);
std::filesystem::path logPath(const std::filesystem::path& dataDir);
std::filesystem::path volumesPath(const std::filesystem::path& dataDir);  // the folder for KREVOL_VOLUMES

// Replaces the sandbox's own files in `dataDir` (database, packages, uploads, outbox, the demo tool
// folder; nothing else there is touched) by fresh demo data. The suite package is signed with the
// demo key (kSuitePackage + ".sig", 64 raw bytes). `seedSource` holds packages/<name>/, suite/
// and card/ (the software installed on the demo tool's card, as the catalogue says).
bool seedDemoData(const std::filesystem::path& dataDir, const std::filesystem::path& seedSource,
                  std::string& error);

}  // namespace krevol::sandbox
