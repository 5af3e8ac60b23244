// The suite package: the installer search, the signature check and the install steps against a
// local server (download, signature, unpack, start, end), with the start and the end recorded.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <openssl/evp.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/stop_flag.h"
#include "feedback/archiver.h"
#include "net/transport.h"
#include "suite/installer_start.h"
#include "suite/package_signature.h"
#include "suite/suite_package.h"
#include "support/file_bytes.h"
#include "support/local_server.h"

using namespace krevol;
namespace fs = std::filesystem;
using krevol::test::fileBytes;

namespace {

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "krevol-suite-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

void writeFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// A test key pair: the raw public key as hex and a signer.
class TestKey {
  public:
    TestKey() {
        std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
            EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), &EVP_PKEY_CTX_free);
        EVP_PKEY* raw = nullptr;
        if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &raw) != 1)
            ADD_FAILURE() << "keygen failed";
        key_.reset(raw);
    }
    std::string publicHex() const {
        unsigned char pub[32];
        std::size_t n = sizeof pub;
        EVP_PKEY_get_raw_public_key(key_.get(), pub, &n);
        static const char* digits = "0123456789abcdef";
        std::string hex;
        for (std::size_t i = 0; i < n; ++i) {
            hex += digits[pub[i] >> 4];
            hex += digits[pub[i] & 15];
        }
        return hex;
    }
    std::string sign(const std::string& bytes) const {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        unsigned char sig[64];
        std::size_t n = sizeof sig;
        EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key_.get());
        EVP_DigestSign(ctx.get(), sig, &n, reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size());
        return std::string(reinterpret_cast<const char*>(sig), n);
    }

  private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_{nullptr, &EVP_PKEY_free};
};

// ---- findInstaller ----

struct SearchCase {
    const char* name;
    std::vector<std::string> files;  // below the package folder
    const char* windowsResult;       // relative, "" for none
    const char* linuxResult;
};

TEST(FindInstaller, SearchOrderTable) {
    const SearchCase cases[] = {
        {"only program in a subfolder", {"readme.txt", "bin/setup.exe"}, "bin/setup.exe", "bin/setup.exe"},
        {"no program", {"readme.txt", "docs/a.txt"}, "", ""},
        {"top folder beats a subfolder met before", {"a/first.exe", "setup.exe"}, "setup.exe", "setup.exe"},
        {"top folder match ends its search: later subfolder unseen",
         {"a.exe", "z/late.exe"},
         "a.exe",
         "a.exe"},
        {"last subfolder wins without a top match",
         {"a/one.exe", "b/two.exe", "c.txt"},
         "b/two.exe",
         "b/two.exe"},
        {"first match of a folder ends it", {"b.exe", "c.exe"}, "b.exe", "b.exe"},
        {"path containing .exe", {"tool.exe.d/readme.txt"}, "tool.exe.d/readme.txt", "tool.exe.d/readme.txt"},
        {"Linux installer beside setup.exe",
         {"readme.txt", "setup.exe", "setup.sh"},
         "setup.exe",
         "setup.sh"},
        {"Linux kinds", {"x/install.run"}, "", "x/install.run"},
        {"AppImage", {"Krevol.AppImage"}, "", "Krevol.AppImage"},
        {"a name only ending like .sh is not one", {"sh", "a.shx"}, "", ""},
        // A Linux build takes a Linux installer anywhere in the package before any ".exe".
        {"Linux installer in a subfolder, .exe on top",
         {"linux/setup.sh", "setup.exe"},
         "setup.exe",
         "linux/setup.sh"},
        {"Linux installer deep down, .exe in the folders before and after it",
         {"a/setup.exe", "b/c/install.run", "z/setup.exe"},
         "z/setup.exe",
         "b/c/install.run"},
        {"Linux installer beside .exe in a subfolder",
         {"pkg/setup.exe", "pkg/setup.sh", "readme.txt"},
         "pkg/setup.exe",
         "pkg/setup.sh"},
        {"several Linux installers: the top folder's wins", {"a/x.sh", "y.sh"}, "", "y.sh"},
        {"several Linux installers in subfolders: the last wins", {"a/x.sh", "b/y.run"}, "", "b/y.run"},
        {"Linux installer on top, .exe in a subfolder",
         {"a/setup.exe", "setup.sh"},
         "a/setup.exe",
         "setup.sh"},
    };
    for (const SearchCase& c : cases) {
        TempDir dir;
        for (const std::string& f : c.files) writeFile(dir / f, "x");
        const std::string root = dir.path().string() + "/";
        const auto expect = [&](const char* rel) {
            return *rel ? (dir.path() / rel).string() : std::string();
        };
        const auto normal = [](std::string p) { return fs::path(p).lexically_normal().string(); };
        EXPECT_EQ(normal(findInstaller(root, InstallerKinds::WindowsOnly)), normal(expect(c.windowsResult)))
            << c.name;
        EXPECT_EQ(normal(findInstaller(root, InstallerKinds::WithLinux)), normal(expect(c.linuxResult)))
            << c.name;
    }
}

TEST(FindInstaller, SymbolicLinksAreSkipped) {
    TempDir dir;
    writeFile(dir / "real/readme.txt", "x");
    fs::create_symlink("/bin/true", dir / "setup.exe");
    EXPECT_EQ(findInstaller(dir.path().string()), "");
}

// ---- public keys and signatures ----

TEST(PackageSignature, PublicKeyForms) {
    std::array<std::uint8_t, 32> key{};
    const std::string hex = "a10196231ce87e90fbb937dfd544fc81c23c1eb9aa72594f2eafa800da6dd033";
    EXPECT_TRUE(parsePublicKey(hex, key));
    EXPECT_EQ(key[0], 0xa1);
    EXPECT_EQ(key[31], 0x33);
    std::array<std::uint8_t, 32> fromBase64{};
    EXPECT_TRUE(parsePublicKey("oQGWIxzofpD7uTff1UT8gcI8HrmqcllPLq+oANpt0DM=", fromBase64));
    EXPECT_EQ(fromBase64, key);
    EXPECT_TRUE(parsePublicKey(" oQGWIxzofpD7uTff1UT8gcI8HrmqcllPLq+oANpt0DM\n", fromBase64));
    for (const char* bad :
         {"", "a101", "zz0196231ce87e90fbb937dfd544fc81c23c1eb9aa72594f2eafa800da6dd033",
          "oQGWIxzofpD7uTff1UT8gcI8HrmqcllPLq+oANpt0DN=", "oQGWIxzofpD7uTff1UT8gcI8Hrmq!llPLq+oANpt0DM="})
        EXPECT_FALSE(parsePublicKey(bad, key)) << bad;
}

TEST(PackageSignature, GoodWrongAndMalformed) {
    TempDir dir;
    TestKey key;
    TestKey other;
    const std::string package = dir / "p.zip";
    writeFile(package, std::string(100000, 'k') + "end");
    writeFile(dir / "good.sig", key.sign(fileBytes(package)));
    writeFile(dir / "other.sig", other.sign(fileBytes(package)));
    writeFile(dir / "short.sig", key.sign(fileBytes(package)).substr(0, 63));
    std::string flipped = key.sign(fileBytes(package));
    flipped[10] ^= 1;
    writeFile(dir / "flipped.sig", flipped);

    EXPECT_EQ(verifyPackageSignature(package, dir / "good.sig", key.publicHex()), SignatureCheck::Good);
    EXPECT_EQ(verifyPackageSignature(package, dir / "other.sig", key.publicHex()),
              SignatureCheck::BadSignature);
    EXPECT_EQ(verifyPackageSignature(package, dir / "short.sig", key.publicHex()),
              SignatureCheck::BadSignature);
    EXPECT_EQ(verifyPackageSignature(package, dir / "flipped.sig", key.publicHex()),
              SignatureCheck::BadSignature);
    EXPECT_EQ(verifyPackageSignature(package, dir / "none.sig", key.publicHex()), SignatureCheck::Unreadable);
    EXPECT_EQ(verifyPackageSignature(package, dir / "good.sig", "not a key"), SignatureCheck::BadKey);
    writeFile(package, std::string(100000, 'k') + "enD");  // one byte changed after signing
    EXPECT_EQ(verifyPackageSignature(package, dir / "good.sig", key.publicHex()),
              SignatureCheck::BadSignature);
}

// ---- installSuitePackage ----

class SuiteInstallTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.http().Get(R"(/download/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            const auto it = files_.find(req.matches[1].str());
            if (it == files_.end()) {
                res.status = 404;
                return;
            }
            res.set_content(it->second, "application/octet-stream");
        });
        server_.start();
        folder_ = (work_.path() / "KrevolDown").string() + "/";
    }

    // Packs `files` (relative path → bytes) into a zip served as `name`; returns its address.
    std::string servePackage(const std::string& name, const std::map<std::string, std::string>& files) {
        TempDir source;
        for (const auto& [rel, bytes] : files) writeFile(source / rel, bytes);
        const std::string archive = work_ / ("built-" + name);
        auto writer = createArchive(archive);
        EXPECT_TRUE(writer);
        EXPECT_TRUE(addFolderTree(*writer, "", source.path().string() + "/*"));
        EXPECT_TRUE(closeArchive(writer));
        serve(name, fileBytes(archive));
        return server_.url("/download/" + name);
    }
    void serve(const std::string& name, const std::string& bytes) {
        std::lock_guard lock(mutex_);
        files_[name] = bytes;
    }
    std::string served(const std::string& name) {
        std::lock_guard lock(mutex_);
        return files_[name];
    }

    SuiteInstallOptions options(const std::string& publicKey = {}) {
        SuiteInstallOptions o;
        o.folder = folder_;
        o.publicKey = publicKey;
        o.startInstaller = [this](const std::string& path) {
            started_.push_back(path);
            return startSucceeds_;
        };
        o.endSuite = [this] { ++ended_; };
        return o;
    }

    TempDir work_;
    std::mutex mutex_;
    std::map<std::string, std::string> files_;
    std::string folder_;
    std::vector<std::string> started_;
    bool startSucceeds_ = true;
    int ended_ = 0;
    // Last, so that it is destroyed first: its handlers use the members above until it stops.
    test::LocalServer server_;
};

TEST_F(SuiteInstallTest, OnlyInstallerInASubfolderIsStartedAndTheSuiteEnds) {
    writeFile(folder_ + "left-over.txt", "old");  // the folder is made anew
    const std::string url = servePackage("Suite_4.3.1.zip", {{"readme.txt", "r"}, {"bin/setup.exe", "MZ"}});
    runStopFlag = 1;  // a stop left over from an earlier run does not abort the package
    const SuiteInstallOutcome o = installSuitePackage(url, options());
    EXPECT_EQ(o.messageId, 0);
    EXPECT_EQ(o.downloadResult, kResultOk);
    ASSERT_EQ(started_.size(), 1u);
    EXPECT_EQ(fs::path(started_[0]).lexically_normal(),
              fs::path(folder_ + "bin/setup.exe").lexically_normal());
    EXPECT_TRUE(o.ended);
    EXPECT_EQ(ended_, 1);
    EXPECT_FALSE(fs::exists(folder_ + "Suite_4.3.1.zip"));  // the archive is deleted after unpacking
    EXPECT_FALSE(fs::exists(folder_ + "left-over.txt"));
    EXPECT_EQ(fileBytes(folder_ + "readme.txt"), "r");
}

// Nothing started, so the suite keeps running and says why: a package without an installer for
// this system (520), a Windows package on Linux whose setup.exe does not start, an installer whose
// start fails (521).
TEST_F(SuiteInstallTest, WithNothingStartedTheSuiteKeepsRunning) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> files;
        bool realStart;   // the platform's start instead of the recorder
        bool startWorks;  // what the recorder answers
        int messageId;
        const char* installer;  // relative, "" for none
    };
    // A Windows program: the Linux kernel has no loader for it.
    const std::string windowsProgram = std::string("MZ\x90\0\x03\0\0\0", 8) + std::string(120, '\0');
    const Case cases[] = {
        {"no installer at all", {{"readme.txt", "r"}, {"doc/manual.pdf", "p"}}, false, true, 520, ""},
        {"a Windows package",
         {{"readme.txt", "r"}, {"setup.exe", windowsProgram}},
         true,
         true,
         521,
         "setup.exe"},
        {"the installer does not start", {{"setup.sh", "#!/bin/sh\n"}}, false, false, 521, "setup.sh"},
    };
    // A system that hands Windows programs to an emulator (binfmt_misc) would start that one.
    std::error_code ec;
    bool foreignLoaders = false;
    for (fs::directory_iterator it("/proc/sys/fs/binfmt_misc", ec), end; !ec && it != end; it.increment(ec))
        foreignLoaders |= it->path().filename() != "register" && it->path().filename() != "status";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.realStart && foreignLoaders) continue;
        started_.clear();
        ended_ = 0;
        startSucceeds_ = c.startWorks;
        SuiteInstallOptions o = options();
        if (c.realStart) o.startInstaller = nullptr;
        const SuiteInstallOutcome outcome = installSuitePackage(servePackage("Suite.zip", c.files), o);
        EXPECT_EQ(outcome.messageId, c.messageId);
        EXPECT_EQ(outcome.code, 0);
        EXPECT_EQ(fs::path(outcome.installer).lexically_normal(),
                  *c.installer ? fs::path(folder_ + c.installer).lexically_normal() : fs::path());
        EXPECT_FALSE(outcome.started);
        EXPECT_FALSE(outcome.ended);
        EXPECT_EQ(ended_, 0);
        EXPECT_EQ(started_.size(), std::size_t(!c.realStart && *c.installer ? 1 : 0));
    }
}

TEST_F(SuiteInstallTest, FailuresShowOneMessageAndKeepTheSuite) {
    // Download failure: 182 with the result.
    SuiteInstallOutcome o = installSuitePackage(server_.url("/download/missing.zip"), options());
    EXPECT_EQ(o.messageId, 182);
    EXPECT_EQ(o.code, kResultHttpStatus);
    // Not a zip: 178 with code 1.
    serve("broken.zip", "this is no zip archive");
    o = installSuitePackage(server_.url("/download/broken.zip"), options());
    EXPECT_EQ(o.messageId, 178);
    EXPECT_EQ(o.code, kSuiteUnpackFailed);
    // The folder cannot be created (its parent is a file): 214 without code.
    writeFile(work_ / "file", "x");
    SuiteInstallOptions blocked = options();
    blocked.folder = work_ / "file/KrevolDown/";
    o = installSuitePackage(server_.url("/download/broken.zip"), blocked);
    EXPECT_EQ(o.messageId, 214);
    EXPECT_EQ(o.code, 0);
    EXPECT_TRUE(started_.empty());
    EXPECT_EQ(ended_, 0);
}

TEST_F(SuiteInstallTest, SignatureCases) {
    TestKey key;
    TestKey stranger;
    const std::string url = servePackage("Signed.zip", {{"setup.sh", "#!/bin/sh\n"}});
    const std::string bytes = served("Signed.zip");

    struct Case {
        const char* name;
        std::string signature;  // empty: no .sig served
        std::string publicKey;  // empty: no key configured
        int messageId;
        int code;
    };
    std::string corrupted = key.sign(bytes);
    corrupted[0] ^= 0x40;
    const Case cases[] = {
        {"good signature", key.sign(bytes), key.publicHex(), 0, 0},
        {"missing .sig", "", key.publicHex(), 178, kSuiteSignatureMissing},
        {"signed by another key", stranger.sign(bytes), key.publicHex(), 178, kSuiteSignatureWrong},
        {"corrupted signature", corrupted, key.publicHex(), 178, kSuiteSignatureWrong},
        {"no key configured: not checked", "", "", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard lock(mutex_);
            files_.erase("Signed.zip.sig");
            if (!c.signature.empty()) files_["Signed.zip.sig"] = c.signature;
        }
        started_.clear();
        ended_ = 0;
        const SuiteInstallOutcome o = installSuitePackage(url, options(c.publicKey));
        EXPECT_EQ(o.messageId, c.messageId);
        EXPECT_EQ(o.code, c.code);
        EXPECT_EQ(o.signatureChecked, !c.publicKey.empty());
        if (c.messageId == 0) {
            EXPECT_EQ(started_.size(), 1u);
            EXPECT_EQ(ended_, 1);
        } else {
            EXPECT_TRUE(started_.empty());
            EXPECT_EQ(ended_, 0);
            EXPECT_FALSE(fs::exists(folder_ + "Signed.zip"));  // nothing unchecked stays behind
            EXPECT_FALSE(fs::exists(folder_ + "setup.sh"));
        }
    }
}

// The real start: a shell script runs through /bin/sh detached, anything else gets its executable
// bit and runs directly.
TEST(StartSuiteInstaller, ShellScriptAndExecutable) {
    TempDir dir;
    const std::string marker1 = dir / "sh-ran";
    const std::string marker2 = dir / "run-ran";
    writeFile(dir / "setup.sh", "echo ok > '" + marker1 + "'\n");  // no shebang, not executable
    writeFile(dir / "setup.run", "#!/bin/sh\necho ok > '" + marker2 + "'\n");
    ::chmod((dir / "setup.run").c_str(), 0644);
    EXPECT_TRUE(startSuiteInstaller(dir / "setup.sh"));
    EXPECT_TRUE(startSuiteInstaller(dir / "setup.run"));
    EXPECT_FALSE(startSuiteInstaller(""));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "setup.run").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IXUSR, 0u);
    for (int i = 0; i < 500 && !(fs::exists(marker1) && fs::exists(marker2)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fs::exists(marker1));
    EXPECT_TRUE(fs::exists(marker2));
}

}  // namespace
