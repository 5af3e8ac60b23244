#include "sandbox/demo_seed.h"

#include <openssl/evp.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

#include "sandbox/sandbox_store.h"
#include "sandbox/zip_writer.h"

namespace krevol::sandbox {
namespace {

namespace fs = std::filesystem;

struct PackageFolder {
    const char* folder;  // under <seed>/packages/
    const char* file;    // archive name served under download/
};

constexpr PackageFolder kPackages[] = {
    {"benz", "BENZ_V2.10.zip"},          {"toyota", "TOYOTA_V1.06.zip"}, {"vwaudi", "VWAUDI_V3.00.zip"},
    {"firmware", "K1PRO_FW_V1.1.0.zip"}, {"nissan", "NISSAN_V1.20.zip"},
};

// Deterministic content bytes of a tool's obdtool/sys/dev.
std::string contentFor(const std::string& serial) {
    std::string bytes = "KRVDEV01" + serial;
    for (int i = 0; i < 104; ++i) {
        const auto c = static_cast<unsigned char>(serial[static_cast<std::size_t>(i) % serial.size()]);
        bytes += static_cast<char>((i * 37 + c) & 0xff);
    }
    return bytes;
}

SeedData demoData() {
    SeedData d;
    d.accounts = {{kDemoEmail, kDemoPassword}, {kOtherEmail, kOtherPassword}};
    const auto device = [](const char* sn, const char* name, const char* model, const char* owner,
                           std::int64_t ms) {
        return DeviceEntry{sn, name, model, owner, ms, contentFor(sn)};
    };
    d.devices = {
        device(kDemoSerial, "K1 Pro", "K1 Pro", kDemoEmail, 1717200000000),
        device("1001202300000011", "K1 Pro", "K1 Pro", kDemoEmail, 1683676800000),
        device("9002202300000022", "K9 Max", "K9 Max", kDemoEmail, 1698883200000),
        device(kOtherSerial, "K9 Max", "K9 Max", kOtherEmail, 1692057600000),
        device(kUnownedSerial, "K1 Lite", "K1 Lite", "", 1708387200000),
    };
    const auto entry = [](std::int64_t id, const char* sn, int pos, const char* name, const char* installed,
                          const char* latest, const char* file, int isrom, const char* desc) {
        return CatalogueEntry{id, sn, pos, name, installed, latest, file, isrom, "", desc};
    };
    d.catalogue = {
        entry(101, kDemoSerial, 1, "BENZ Key Programming", "0.00", "2.10", "BENZ_V2.10.zip", 0,
              "Adds the 2024 key types."),
        entry(102, kDemoSerial, 2, "TOYOTA Smart Key", "1.05", "1.06", "TOYOTA_V1.06.zip", 0,
              "Fixes the reading of 8A smart keys."),
        entry(103, kDemoSerial, 3, "VW-AUDI Immobilizer", "3.00", "3.00", "VWAUDI_V3.00.zip", 0,
              "Current release."),
        entry(104, kDemoSerial, 4, "K1 Pro Firmware", "1.0.0", "1.1.0", "K1PRO_FW_V1.1.0.zip", 1,
              "Faster start-up; install last."),
        entry(201, kOtherSerial, 1, "NISSAN Key Programming", "0.00", "1.20", "NISSAN_V1.20.zip", 0,
              "First release."),
        entry(202, kOtherSerial, 2, "BENZ Key Programming", "2.10", "2.10", "BENZ_V2.10.zip", 0,
              "Adds the 2024 key types."),
    };
    d.suites = {{"0", kSuiteVersion, kSuitePackage}};
    return d;
}

bool writeFile(const fs::path& path, const std::string& bytes, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out) {
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

bool removeIfThere(const fs::path& path, std::string& error) {
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec) {
        error = "cannot remove " + path.string() + ": " + ec.message();
        return false;
    }
    return true;
}

bool makeFolder(const fs::path& path, std::string& error) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) {
        error = "cannot create " + path.string() + ": " + ec.message();
        return false;
    }
    return true;
}

// The demo tool's card: the software the demo catalogue lists as installed on it (the folder
// card/ of the seed: TOYOTA 1.05, VW-AUDI 3.00 and the firmware 1.0.0, nothing of BENZ), DEVINFO.INI,
// obdtool/sys with an app.ini, obdtool/log with two log files.
bool makeDemoVolume(const fs::path& root, const fs::path& installed, std::string& error) {
    if (!makeFolder(root / "obdtool" / "sys", error) ||
        !makeFolder(root / "obdtool" / "log" / "2024", error)) {
        return false;
    }
    std::error_code ec;
    fs::copy(installed, root, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    if (ec) {
        error = "cannot copy " + installed.string() + ": " + ec.message();
        return false;
    }
    return writeFile(root / "DEVINFO.INI", std::string("SN:") + kDemoSerial + "\r\nMODEL:K1 Pro\r\n",
                     error) &&
           writeFile(root / "obdtool" / "sys" / "app.ini", "[app]\r\nlast=1.0.0\r\n", error) &&
           writeFile(root / "obdtool" / "log" / "run.log",
                     "2024-06-01 09:12:03 start K1 Pro 1.0.0\n2024-06-01 09:12:09 BENZ read key ok\n",
                     error) &&
           writeFile(root / "obdtool" / "log" / "2024" / "errors.log",
                     "2024-05-30 17:40:11 E102 key not found\n", error);
}

// Writes `file` + ".sig": the Ed25519 signature of the file's bytes with the demo signing key.
bool signPackage(const fs::path& file, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        error = "cannot read " + file.string();
        return false;
    }
    unsigned char seed[32];
    const std::string hex = kDemoSuiteSigningKey;
    for (std::size_t i = 0; i < 32; ++i)
        seed[i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, sizeof seed), &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    unsigned char signature[64];
    std::size_t length = sizeof signature;
    if (!key || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), signature, &length, reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size()) != 1) {
        error = "cannot sign " + file.string();
        return false;
    }
    return writeFile(fs::path(file.string() + ".sig"),
                     std::string(reinterpret_cast<const char*>(signature), length), error);
}

}  // namespace

fs::path databasePath(const fs::path& dataDir) {
    return dataDir / "sandbox.db";
}
fs::path packagesPath(const fs::path& dataDir) {
    return dataDir / "packages";
}
fs::path uploadsPath(const fs::path& dataDir) {
    return dataDir / "uploads";
}
fs::path outboxPath(const fs::path& dataDir) {
    return dataDir / "outbox.txt";
}
fs::path logPath(const fs::path& dataDir) {
    return dataDir / "sandbox.log";
}
fs::path volumesPath(const fs::path& dataDir) {
    return dataDir / "volumes";
}

bool seedDemoData(const fs::path& dataDir, const fs::path& seedSource, std::string& error) {
    const fs::path db = databasePath(dataDir);
    const fs::path volume = volumesPath(dataDir) / kDemoVolumeName;
    if (!makeFolder(dataDir, error)) return false;
    for (const fs::path& p : {db, fs::path(db.string() + "-journal"), fs::path(db.string() + "-wal"),
                              fs::path(db.string() + "-shm"), packagesPath(dataDir), uploadsPath(dataDir),
                              outboxPath(dataDir), volume}) {
        if (!removeIfThere(p, error)) return false;
    }
    if (!makeFolder(packagesPath(dataDir), error) || !makeFolder(uploadsPath(dataDir), error)) return false;

    for (const PackageFolder& p : kPackages) {
        const fs::path folder = seedSource / "packages" / p.folder;
        if (!fs::is_directory(folder)) {
            error = "package folder missing: " + folder.string();
            return false;
        }
        if (!zipFolder(folder, packagesPath(dataDir) / p.file, error)) return false;
    }
    if (!fs::is_directory(seedSource / "card")) {
        error = "card folder missing: " + (seedSource / "card").string();
        return false;
    }
    if (!fs::is_directory(seedSource / "suite")) {
        error = "suite folder missing: " + (seedSource / "suite").string();
        return false;
    }
    if (!zipFolder(seedSource / "suite", packagesPath(dataDir) / kSuitePackage, error) ||
        !signPackage(packagesPath(dataDir) / kSuitePackage, error))
        return false;

    SandboxStore store;
    if (!store.open(db.string(), error, false) || !store.seed(demoData(), error)) return false;
    if (!writeFile(outboxPath(dataDir), "", error)) return false;
    return makeDemoVolume(volume, seedSource / "card", error);
}

}  // namespace krevol::sandbox
