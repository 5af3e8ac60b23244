// Faults injected end to end: `krevolctl install` (the install run as the upgrade page drives it)
// against krevol-sandbox as a separate process, with the demo tool's folder card, while the
// sandbox breaks its answers (reset, half body, stall, garbage, empty or 100 MiB bodies), the
// program folder's disk fills up (a file-size limit on the krevolctl process) or the card refuses
// the copy; and the engine in process with a hook that pulls the card at a chosen stage.
//
// Every case checks: the messages shown (one box at most, catalogue texts that exist in both
// languages), the item's text, that the item was not reported installed (the sandbox's catalogue
// is unchanged), no temporary file in the working folders or on the card, no hang (every
// krevolctl runs under `timeout`), and that the next run succeeds once the fault is gone.
//
// Each case gets a freshly seeded sandbox (fresh()), so the server's record starts from the seed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "account/account_calls.h"
#include "app/messages.h"
#include "app/stop_flag.h"
#include "device/volume_fixture.h"
#include "feedback/archiver.h"
#include "support/command_run.h"
#include "support/file_bytes.h"
#include "support/recording_presenter.h"
#include "support/sandbox_child.h"
#include "upgrade/catalogue.h"
#include "upgrade/copy_tree.h"
#include "upgrade/install_run.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::CommandRun;
using test::fileBytes;

constexpr const char* kBenz = "BENZ Key Programming";
constexpr int kHangLimitSeconds = 60;  // a krevolctl still running then is killed: a hang

std::string english(int id) {
    return loadText(id, kLanguageEnglish);
}

// The text exists in both catalogues.
void expectBothLanguages(int id) {
    EXPECT_FALSE(loadText(id, kLanguageEnglish).empty()) << id;
    EXPECT_FALSE(loadText(id, kLanguageChinese).empty()) << id;
    EXPECT_NE(loadText(id, kLanguageEnglish), loadText(id, kLanguageChinese)) << id;
}

// Every file below `root` with its bytes, relative paths as keys.
std::map<std::string, std::string> treeOf(const fs::path& root) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string relative = fs::relative(it->path(), root).string();
        files[relative] = it->is_directory() ? std::string("<folder>") : fileBytes(it->path());
    }
    return files;
}

// Temporary files of the copy and of the content file below `folder`.
std::vector<std::string> temporaryFilesBelow(const fs::path& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (isCopyTemporaryName(name) ||
            (name.rfind("dev-", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".tmp"))
            found.push_back(it->path().string());
    }
    return found;
}

// The values of the "key: " lines of a report, in order.
std::vector<std::string> linesOf(const std::string& out, const std::string& key) {
    std::vector<std::string> values;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + ": ", 0) == 0) values.push_back(line.substr(key.size() + 2));
    return values;
}

// What a failed run must show: the item's text and the boxes (each given by its beginning).
struct Expected {
    std::string itemText;            // "item: BENZ Key Programming: <this>"; empty: no item line
    std::vector<std::string> boxes;  // the beginnings of the boxes shown, in order
    std::vector<int> ids;            // the catalogue ids involved (checked in both languages)
    std::string boxEnd;              // every box ends with this (":5" for the transport's box)
};

// A freshly seeded krevol-sandbox child with its own data folder.
struct Sandbox {
    test::FixtureFolder data;
    test::SandboxChild child;
    std::string volumes() const { return data.str() + "/volumes"; }
    std::string card() const { return volumes() + "/KREVOL-SD"; }
    fs::path package(const std::string& name) const { return fs::path(data.str()) / "packages" / name; }
};

class KrevolctlFaults : public ::testing::Test {
  protected:
    void fresh() {
        sandbox_.reset();
        sandbox_ = std::make_unique<Sandbox>();
        std::string error;
        ASSERT_TRUE(sandbox_->child.start(KREVOL_SANDBOX_PROGRAM, sandbox_->data.str(), error)) << error;
        ASSERT_TRUE(fs::is_directory(sandbox_->card()));
    }

    std::string base() const { return "http://127.0.0.1:" + std::to_string(sandbox_->child.port()); }

    // krevolctl ARGS, started through `wrapper` (a limit or a capability change, or empty).
    CommandRun run(const std::string& args, const std::string& wrapper = {}) const {
        return test::runCommand(
            "echo demo-pass-1 | KREVOL_VOLUMES='" + sandbox_->volumes() +
            "' KREVOL_API_HOST=127.0.0.1:" + std::to_string(sandbox_->child.port()) +
            " no_proxy=127.0.0.1 NO_PROXY=127.0.0.1 KREVOL_USER=demo@krevol.test timeout -s KILL " +
            std::to_string(kHangLimitSeconds) + " " + wrapper + " " + KREVOLCTL_PATH + " " + args +
            " 2>/dev/null");
    }

    void setFault(const std::string& json) const {
        const std::string command = "curl -s --noproxy '*' -X POST -d '" + json + "' " + base() +
                                    "/admin/fault | grep -q '\"statuscode\":200'";
        ASSERT_EQ(std::system(command.c_str()), 0) << json;
    }
    void clearFaults() const {
        const std::string command = "curl -s --noproxy '*' -X DELETE " + base() + "/admin/fault >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    // The catalogue's item lines, which hold what the server has recorded as installed.
    std::vector<std::string> catalogue() const {
        const CommandRun r = run("catalogue");
        EXPECT_EQ(r.exitCode, 0) << r.out;
        return linesOf(r.out, "item");
    }

    // Nothing of a run is left in the working folders or on the card.
    void expectNoTemporaryFiles(const std::string& what) const {
        EXPECT_FALSE(fs::exists(softFolder_)) << what;
        EXPECT_FALSE(fs::exists(workFolder_ / "KrevolDown")) << what;
        EXPECT_EQ(temporaryFilesBelow(sandbox_->card()), std::vector<std::string>()) << what;
    }

    // A failed run: exit status 1, the item's text, the boxes.
    void expectFailure(const CommandRun& r, const Expected& e, const std::string& what) const {
        EXPECT_EQ(r.exitCode, 1) << what << " (-1 or 137: killed as a hang)\n" << r.out;
        if (!e.itemText.empty()) {
            const std::vector<std::string> items = linesOf(r.out, "item");
            ASSERT_FALSE(items.empty()) << what << "\n" << r.out;
            EXPECT_EQ(items[0], std::string(kBenz) + ": " + e.itemText) << what;
            EXPECT_EQ(linesOf(r.out, "stopped"), std::vector<std::string>{"true"}) << what;
        }
        const std::vector<std::string> boxes = linesOf(r.out, "message");
        ASSERT_EQ(boxes.size(), e.boxes.size()) << what << "\n" << r.out;
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            EXPECT_EQ(boxes[i].rfind(e.boxes[i], 0), 0u) << what << ": " << boxes[i];
            if (!e.boxEnd.empty()) {
                EXPECT_EQ(boxes[i].substr(boxes[i].size() - std::min(boxes[i].size(), e.boxEnd.size())),
                          e.boxEnd)
                    << what << ": " << boxes[i];
            }
        }
        for (const int id : e.ids) expectBothLanguages(id);
    }

    // The fault is gone: the same install succeeds and puts the package on the card.
    void expectNextRunSucceeds(const std::string& what,
                               const std::string& args = "install 'BENZ Key Programming'",
                               const std::string& wrapper = {}) const {
        const CommandRun r = run(args, wrapper);
        EXPECT_EQ(r.exitCode, 0) << what << "\n" << r.out;
        EXPECT_NE(r.out.find("item: " + std::string(kBenz) + ": Succeeded\n"), std::string::npos) << what;
        for (const auto& [path, bytes] : treeOf(seed_ / "benz"))
            if (bytes != "<folder>") {
                EXPECT_EQ(fileBytes(fs::path(sandbox_->card()) / path), bytes) << what << ": " << path;
            }
        EXPECT_TRUE(fs::is_regular_file(fs::path(sandbox_->card()) / "obdtool/sys/dev")) << what;
        expectNoTemporaryFiles(what + ", next run");
    }

    std::string boxName() const { return std::string(kBenz) + nameSeparator(runningElevated()); }

    std::unique_ptr<Sandbox> sandbox_;
    const fs::path seed_ = fs::path(KREVOL_SANDBOX_SEED_DIR) / "packages";
    const fs::path workFolder_ = fs::path(KREVOLCTL_PATH).parent_path();
    const fs::path softFolder_ = workFolder_ / "KrevolSoft";
};

// The package download breaks or brings something that is no package. The run ends at the item,
// the card and the server's record stay as they were.
TEST_F(KrevolctlFaults, BrokenOrBogusPackageDownloads) {
    const std::string broken = english(182) + "5";
    const struct {
        const char* what;
        const char* fault;
        Expected expected;
    } cases[] = {
        {"the server dies after 300 bytes",
         R"("dieAfterBytes":300)",
         {broken, {english(343)}, {182, 343}, ":5"}},
        {"half the body, then closed", R"("cutBody":true)", {broken, {english(343)}, {182, 343}, ":5"}},
        {"garbage", R"("garbage":true)", {english(490), {}, {490}, ""}},
        {"an empty body", R"("emptyBody":true)", {english(266), {boxName() + english(266)}, {266}, ""}},
        {"a body of 100 MiB", R"("hugeBody":true)", {english(490), {}, {490}, ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        const auto cardBefore = treeOf(sandbox_->card());
        const auto catalogueBefore = catalogue();
        setFault(std::string(R"({"path":"download/*",)") + c.fault + "}");
        expectFailure(run("install 'BENZ Key Programming'"), c.expected, c.what);
        EXPECT_EQ(treeOf(sandbox_->card()), cardBefore) << c.what;
        EXPECT_EQ(catalogue(), catalogueBefore) << c.what << ": reported although it failed";
        expectNoTemporaryFiles(c.what);
        clearFaults();
        expectNextRunSucceeds(c.what);
    }
}

// The download stalls after its first bytes: the receive time-out (10 s without a byte) ends it,
// not later.
TEST_F(KrevolctlFaults, AStalledDownloadEndsAtTheReceiveTimeOut) {
    fresh();
    const auto catalogueBefore = catalogue();
    setFault(R"({"path":"download/*","stallAfterBytes":100})");
    const auto start = std::chrono::steady_clock::now();
    const CommandRun r = run("install 'BENZ Key Programming'");
    const auto took = std::chrono::steady_clock::now() - start;
    expectFailure(r, {english(182) + "5", {english(341)}, {182, 341}, ":5"}, "stall");
    // 10 s of silence, checked about once a second, plus the sign-in and the catalogue.
    EXPECT_LT(took, std::chrono::seconds(14)) << "the stall outlasted the receive time-out";
    EXPECT_EQ(catalogue(), catalogueBefore);
    expectNoTemporaryFiles("stall");
    clearFaults();
    expectNextRunSucceeds("stall");
}

// Garbage, an empty body or 100 MiB as the answer of the run's server calls: the version report,
// the content file, and every call including the sign-in.
TEST_F(KrevolctlFaults, GarbledAnswersToTheRunsCalls) {
    const std::string tooLarge = english(345);
    const struct {
        const char* path;
        const char* kind;
        Expected expected;
        bool reportedBeforeTheFault;  // the server took the report; only its answer broke
    } cases[] = {
        {"cartypesoft/synchCarSoftVersion", "garbage", {english(183), {english(224)}, {183, 224}, ""}, true},
        {"cartypesoft/synchCarSoftVersion",
         "emptyBody",
         {english(183), {english(224)}, {183, 224}, ""},
         true},
        {"cartypesoft/synchCarSoftVersion", "hugeBody", {english(183), {tooLarge}, {183, 345}, ":5"}, true},
        {"tooluser/selectContentBySn", "garbage", {"", {english(224)}, {211, 224}, ""}, true},
        {"tooluser/selectContentBySn", "emptyBody", {"", {english(224)}, {211, 224}, ""}, true},
        {"tooluser/selectContentBySn", "hugeBody", {"", {tooLarge}, {211, 345}, ":5"}, true},
        {"*", "garbage", {"", {english(224)}, {224}, ""}, false},
        {"*", "emptyBody", {"", {english(224)}, {224}, ""}, false},
        {"*", "hugeBody", {"", {tooLarge}, {345}, ":5"}, false},
    };
    for (const auto& c : cases) {
        const std::string what = std::string(c.path) + " " + c.kind;
        SCOPED_TRACE(what);
        fresh();
        const auto catalogueBefore = catalogue();
        setFault(std::string(R"({"path":")") + c.path + R"(",")" + c.kind + R"(":true})");
        const CommandRun r = run("install 'BENZ Key Programming'");
        expectFailure(r, c.expected, what);
        EXPECT_LT(r.out.size(), 4096u) << what << ": an answer over the limit was kept";
        if (std::string(c.path) == "tooluser/selectContentBySn") {
            // Every item is on the card and reported; only the content file is missing.
            EXPECT_NE(r.out.find("item: " + std::string(kBenz) + ": Succeeded\n"), std::string::npos)
                << r.out;
            EXPECT_NE(r.out.find("end: " + english(211) + "\nstopped: false\n"), std::string::npos) << r.out;
            EXPECT_FALSE(fs::exists(fs::path(sandbox_->card()) / "obdtool/sys/dev"));
        }
        expectNoTemporaryFiles(what);
        clearFaults();
        if (!c.reportedBeforeTheFault) {
            EXPECT_EQ(catalogue(), catalogueBefore) << what;
        }
        // A report the server took cannot be taken back: the next run reinstalls the entry.
        expectNextRunSucceeds(what, c.reportedBeforeTheFault ? "install --reinstall 'BENZ Key Programming'"
                                                             : "install 'BENZ Key Programming'");
    }
}

// The program folder's disk takes no more: during the download (the package is larger than the
// limit) and during the unpack (a package whose unpacked file is larger than the limit, the
// package itself is smaller). The limit is RLIMIT_FSIZE on the krevolctl process, with SIGXFSZ
// ignored so that the write fails with EFBIG as on a full disk; it works without root or mounts.
TEST_F(KrevolctlFaults, FullDiskDuringTheDownloadAndTheUnpack) {
    // A package like BENZ's plus 256 KiB of zeros, which pack into a few hundred bytes.
    test::FixtureFolder tree;
    fs::copy(seed_ / "benz", tree.str(), fs::copy_options::recursive);
    {
        std::ofstream(tree / "obdtool/vehicle/BENZ/blank.bin", std::ios::binary)
            << std::string(256 * 1024, '\0');
    }
    const std::string roomy = tree / "roomy.zip";
    {
        auto archive = createArchive(roomy);
        ASSERT_TRUE(archive);
        ASSERT_TRUE(addFolderTree(*archive, "", tree / "obdtool"));
        ASSERT_TRUE(closeArchive(archive));
    }
    ASSERT_LT(fs::file_size(roomy), 16u * 1024);

    const struct {
        const char* what;
        bool bigUnpack;
        std::uintmax_t limit;
        Expected expected;
    } cases[] = {
        {"during the download", false, 200, {english(267), {boxName() + english(267)}, {267}, ""}},
        {"during the unpack", true, 64 * 1024, {english(491), {}, {491}, ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        if (c.bigUnpack)
            fs::copy_file(roomy, sandbox_->package("BENZ_V2.10.zip"), fs::copy_options::overwrite_existing);
        ASSERT_GT(fs::file_size(sandbox_->package("BENZ_V2.10.zip")), c.bigUnpack ? 0 : c.limit);
        const auto cardBefore = treeOf(sandbox_->card());
        const auto catalogueBefore = catalogue();
        const std::string limited =
            "sh -c 'trap \"\" XFSZ; exec prlimit --fsize=" + std::to_string(c.limit) + " \"$0\" \"$@\"'";
        expectFailure(run("install 'BENZ Key Programming'", limited), c.expected, c.what);
        EXPECT_EQ(treeOf(sandbox_->card()), cardBefore) << c.what;
        EXPECT_EQ(catalogue(), catalogueBefore) << c.what;
        expectNoTemporaryFiles(c.what);
        expectNextRunSucceeds(c.what);
        if (c.bigUnpack) {
            EXPECT_EQ(fs::file_size(fs::path(sandbox_->card()) / "obdtool/vehicle/BENZ/blank.bin"),
                      256u * 1024);
        }
    }
}

// As root (CI), permissions do not stop writes; krevolctl then runs without the capabilities that
// override them, so a read-only folder refuses it as it refuses any user.
std::string withoutPermissionOverride() {
    static const std::string wrapper = [] {
        const std::string dropped = "setpriv --bounding-set=-dac_override,-dac_read_search,-fowner";
        return ::geteuid() == 0 && std::system((dropped + " true").c_str()) == 0 ? dropped : std::string();
    }();
    return wrapper;
}

// True when a program started through withoutPermissionOverride() cannot write into a read-only
// folder (false in a container that cannot drop the capabilities, for example).
bool readOnlyFoldersRefuseWrites() {
    test::FixtureFolder probe;
    fs::create_directories(probe / "ro");
    fs::permissions(probe / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    return std::system(
               (withoutPermissionOverride() + " touch '" + (probe / "ro/x") + "' 2>/dev/null").c_str()) != 0;
}

// The card refuses the copy: it is read-only as a whole, or holds a folder where the package has
// a file. The item fails with the copy's text, is not reported, no temporary file stays.
TEST_F(KrevolctlFaults, TheCardRefusesTheCopy) {
    const fs::path blocking = "obdtool/vehicle/BENZ/BENZ.ini";
    const struct {
        const char* what;
        bool readOnlyCard;
    } cases[] = {{"a read-only card", true}, {"a folder where the package has a file", false}};
    const bool permissionsBind = readOnlyFoldersRefuseWrites();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.readOnlyCard && !permissionsBind) {
            ADD_FAILURE()
                << "this machine lets every process write into read-only folders: no read-only card";
            continue;
        }
        fresh();
        const fs::path card = sandbox_->card();
        const auto catalogueBefore = catalogue();
        if (c.readOnlyCard) {
            ASSERT_EQ(std::system(("chmod -R a-w '" + card.string() + "'").c_str()), 0);
        } else {
            fs::create_directories(card / blocking / "inside");
        }
        const auto cardBefore = treeOf(card);
        expectFailure(run("install 'BENZ Key Programming'", withoutPermissionOverride()),
                      {english(184), {}, {184}, ""}, c.what);
        if (c.readOnlyCard) {
            EXPECT_EQ(treeOf(card), cardBefore) << c.what;
        }
        EXPECT_TRUE(fs::is_directory(card / blocking / "inside") || c.readOnlyCard)
            << "the folder was removed";
        EXPECT_EQ(catalogue(), catalogueBefore) << c.what;
        expectNoTemporaryFiles(c.what);
        if (c.readOnlyCard) {
            ASSERT_EQ(std::system(("chmod -R u+w '" + card.string() + "'").c_str()), 0);
        } else {
            fs::remove_all(card / blocking);
        }
        expectNextRunSucceeds(c.what, "install 'BENZ Key Programming'", withoutPermissionOverride());
    }
    if (!permissionsBind)
        GTEST_SKIP() << "a read-only card: this machine lets every process write into read-only folders";
}

// A read-only file on the card where the package has a file: the package's file replaces it (it is
// written beside it and renamed over it, which the folder allows), as the tool needs the new one.
TEST_F(KrevolctlFaults, AReadOnlyFileOnTheCardIsReplaced) {
    fresh();
    const fs::path file = fs::path(sandbox_->card()) / "obdtool/vehicle/BENZ/BENZ.ini";
    fs::create_directories(file.parent_path());
    { std::ofstream(file) << "old"; }
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    expectNextRunSucceeds("a read-only file", "install 'BENZ Key Programming'", withoutPermissionOverride());
}

// ---- The engine in process: the card is pulled at a chosen stage ------------------------------

// Takes the card away (its folder is moved off its path, as an unmounted card's path is gone) the
// moment the run enters `stage`; puts it back with plugIn().
class CardPuller : public InstallRunObserver {
  public:
    CardPuller(std::string card, InstallStage stage) : card_(std::move(card)), stage_(stage) {}
    void stageChanged(int, InstallStage stage) override {
        if (stage != stage_ || pulled_) return;
        pulled_ = true;
        fs::rename(card_, card_ + ".unplugged");
    }
    void itemFinished(const InstallItemResult& result) override { results.push_back(result); }
    void runEnded(const InstallRunEnd& e) override { end = e; }
    void plugIn() {
        if (pulled_) fs::rename(card_ + ".unplugged", card_);
    }
    bool pulled() const { return pulled_; }
    std::vector<InstallItemResult> results;
    InstallRunEnd end;

  private:
    const std::string card_;
    const InstallStage stage_;
    bool pulled_ = false;
};

InstallStep runToEnd(InstallRun& run) {
    InstallStep step = InstallStep::NextItem;
    while (step == InstallStep::NextItem) step = run.runInstallStep();
    return step;
}

TEST_F(KrevolctlFaults, TheCardDisappearsDuringTheCopyOrTheContentFilesWrite) {
    test::FixtureFolder work;  // the engine's own working folders
    const struct {
        const char* what;
        InstallStage stage;
    } cases[] = {
        {"as the copy starts", InstallStage::Copying},
        {"after the copy, while the files are read back", InstallStage::Checking},
        {"as the content file is written", InstallStage::ContentFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        ::setenv("KREVOL_API_HOST", ("127.0.0.1:" + std::to_string(sandbox_->child.port())).c_str(), 1);
        test::RecordingPresenter presenter;
        const CallReply signIn = login("demo@krevol.test", "demo-pass-1");
        AccountSession session;
        ASSERT_TRUE(extractIdAndToken(signIn.answer, session.userId, session.token)) << signIn.answer;
        std::vector<SoftwareItem> items;
        ASSERT_TRUE(fetchCatalogue(session.userId, session.token, "1001202412345678", items));
        for (SoftwareItem& item : items) item.state = item.param1 == kBenz ? kItemQueued : kItemUpToDate;
        const auto catalogueBefore = catalogue();

        InstallRunSettings settings;
        settings.userId = session.userId;
        settings.token = session.token;
        settings.deviceSerial = "1001202412345678";
        settings.driveRoot = sandbox_->card() + "/";
        settings.softFolder = work.str() + "/KrevolSoft/";
        settings.updateFolder = settings.softFolder + "KrevolUpdate/";
        CardPuller puller(sandbox_->card(), c.stage);
        runStopFlag.store(0);
        InstallRun run(settings, items, &puller);
        const InstallStep step = runToEnd(run);
        ASSERT_TRUE(puller.pulled());
        puller.plugIn();

        const auto shown = presenter.shown();
        if (c.stage == InstallStage::ContentFile) {
            // Every item was installed and reported before; the content file could not be written
            // (message 211 with code 2) and the old one stays (there was none).
            EXPECT_EQ(step, InstallStep::Finished);
            EXPECT_FALSE(puller.end.contentWritten);
            EXPECT_EQ(puller.end.progressText, loadText(211));
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].id, 211);
            EXPECT_EQ(shown[0].code, 2);
            EXPECT_FALSE(fs::exists(fs::path(sandbox_->card()) / "obdtool/sys/dev"));
        } else {
            EXPECT_EQ(step, InstallStep::Stopped);
            ASSERT_EQ(puller.results.size(), 1u);
            EXPECT_EQ(puller.results[0].failure, InstallFailure::Copy);
            EXPECT_EQ(puller.results[0].errorText, loadText(184));
            EXPECT_EQ(puller.results[0].state, kItemFailed);
            EXPECT_TRUE(shown.empty()) << shown[0].text;
            EXPECT_EQ(catalogue(), catalogueBefore) << "reported although the card was gone";
        }
        expectBothLanguages(c.stage == InstallStage::ContentFile ? 211 : 184);
        EXPECT_FALSE(fs::exists(settings.softFolder));
        EXPECT_EQ(temporaryFilesBelow(sandbox_->card()), std::vector<std::string>());

        // The card is back: the next run installs the entry (again, when it was reported) and
        // writes the content file.
        for (SoftwareItem& item : items) item.state = item.param1 == kBenz ? kItemQueued : kItemUpToDate;
        settings.reinstallMode = c.stage == InstallStage::ContentFile;
        presenter.clear();
        runStopFlag.store(0);
        InstallRun again(settings, items);
        EXPECT_EQ(runToEnd(again), InstallStep::Finished);
        EXPECT_TRUE(presenter.shown().empty());
        EXPECT_TRUE(fs::is_regular_file(fs::path(sandbox_->card()) / "obdtool/sys/dev"));
        EXPECT_EQ(fileBytes(fs::path(sandbox_->card()) / "obdtool/vehicle/BENZ/BENZ.ini"),
                  fileBytes(seed_ / "benz/obdtool/vehicle/BENZ/BENZ.ini"));
        EXPECT_FALSE(fs::exists(settings.softFolder));
        ::unsetenv("KREVOL_API_HOST");
    }
}

}  // namespace
}  // namespace krevol
