// Page 7, PC suite version: what entering it shows and arms, the version query at start and on the
// page, the offer of a newer suite, and the install of its package (download with progress,
// installer start recorded, the suite's end seen by the sign-in host).
#include <QLabel>

#include <filesystem>
#include <fstream>

#include "app/version.h"
#include "feedback/archiver.h"
#include "main_window_fixture.h"
#include "mainwindow/suite_version_page.h"
#include "suite/suite_package.h"
#include "support/file_bytes.h"

using namespace krevol;
using namespace krevol::test;

namespace {

std::string suiteAnswer(const std::string& url, const std::string& version) {
    return "{\"statuscode\":200,\"data\":{\"phoneType\":\"0\",\"packagePath\":\"" + url +
           "\",\"versionId\":\"" + version + "\"}}";
}

QString formatted(int id, const char* a) {
    return QString::fromStdString(formatText(id, a));
}

QString formatted(int id, const char* a, const char* b) {
    return QString::fromStdString(formatText(id, a, b));
}

// Packs `files` (relative path → bytes) into zip bytes.
std::string zipOf(const QTemporaryDir& work, const std::map<std::string, std::string>& files) {
    const std::string source = work.path().toStdString() + "/source";
    std::filesystem::remove_all(source);
    for (const auto& [rel, bytes] : files) {
        std::filesystem::create_directories(std::filesystem::path(source + "/" + rel).parent_path());
        std::ofstream(source + "/" + rel, std::ios::binary) << bytes;
    }
    const std::string archive = work.path().toStdString() + "/package.zip";
    auto writer = createArchive(archive);
    if (!writer || !addFolderTree(*writer, "", source + "/*") || !closeArchive(writer)) return {};
    return fileBytes(archive);
}

}  // namespace

class SuiteVersionPageTest : public QObject, private MainWindowFixture {
    Q_OBJECT

    // Serves the package; all after its first 2.5 MiB can be held back until released.
    static constexpr std::size_t kFirstPart = 5 * 512 * 1024;
    struct PackageServer {
        std::string bytes;
        std::atomic<bool> hold{false};
        std::atomic<bool> firstSent{false};
        // Last, so that it stops first: its handler reads the members above while it serves.
        LocalServer server;
        PackageServer() {
            server.http().Get("/dl/KrevolSuite_4.3.1.zip", [this](const httplib::Request&,
                                                                  httplib::Response& res) {
                res.set_content_provider(bytes.size(), "application/zip",
                                         [this](size_t offset, size_t, httplib::DataSink& sink) {
                                             const size_t first = std::min(bytes.size(), kFirstPart);
                                             if (offset == 0) {
                                                 sink.write(bytes.data(), first);
                                                 firstSent = true;
                                                 return true;
                                             }
                                             for (int i = 0; i < 2000 && hold; ++i)
                                                 std::this_thread::sleep_for(std::chrono::milliseconds(10));
                                             sink.write(bytes.data() + offset, bytes.size() - offset);
                                             return true;
                                         });
            });
            server.start();
        }
        ~PackageServer() { hold = false; }  // a held download ends, so that the server can stop
        std::string url() const { return server.url("/dl/KrevolSuite_4.3.1.zip"); }
    };

    std::unique_ptr<QTemporaryDir> work_;
    std::vector<std::string> started_;
    std::mutex startedMutex_;

    void useRecordedStart(const std::optional<std::string>& publicKey = std::string()) {
        SuiteInstallOverrides o;
        o.startInstaller = [this](const std::string& path) {
            std::lock_guard lock(startedMutex_);
            started_.push_back(path);
            return true;
        };
        o.publicKey = publicKey;
        o.folder = work_->path().toStdString() + "/KrevolDown/";
        setSuiteInstallOverrides(o);
    }
    std::vector<std::string> started() {
        std::lock_guard lock(startedMutex_);
        return started_;
    }
    int count(int id) const {
        int n = 0;
        for (const ShownMessage& m : presenter_->shown()) n += m.id == id ? 1 : 0;
        return n;
    }

  private slots:
    void init() {
        setUp();
        work_ = std::make_unique<QTemporaryDir>();
        started_.clear();
        useRecordedStart();
    }
    void cleanup() {
        setSuiteInstallOverrides({});
        work_.reset();
        tearDown();
    }

    void enteringQueriesTheNewestVersion() {
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        // The window's start arms the query once; it runs a second later.
        QTRY_VERIFY_WITH_TIMEOUT(!window->isTimerArmed(kTimerSuiteVersion), 5000);

        QVERIFY(window->showPage(kPageSuiteVersion));
        QCOMPARE(window->state().currentPage, int(kPageSuiteVersion));
        QCOMPARE(child<QLabel>(*window, "pageTitle")->text(), text(194));
        // The running version at once, with the "querying" text.
        QCOMPARE(child<QLabel>(*window, "versionText")->text(), formatted(460, kProgramVersion));
        QVERIFY(child<QLabel>(*window, "versionText")->text().contains(text(208)));
        QCOMPARE(child<QAbstractButton>(*window, "actionLink")->text(), text(207));
        QVERIFY(window->isTimerArmed(kTimerSuiteVersion));
        QVERIFY(shown(*window, "versionText"));
        QVERIFY(shown(*window, "actionLink"));
        QVERIFY(!shown(*window, "resetText"));  // Device Reset's text is its own
        QVERIFY(!shown(*window, "resetLink"));
        // The query ends: the latest-version text replaces "querying".
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(*window, "versionText")->text(),
                                  formatted(210, kProgramVersion), 5000);
        QCOMPARE(child<QAbstractButton>(*window, "actionLink")->text(), text(207));
        QVERIFY(presenter_->shown().empty());
    }

    void completeGoesBackToSettingsUnlessARunIsBusy() {
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QVERIFY(window->showPage(kPageSuiteVersion));

        window->state().runBusy = 1;
        click(*window, "actionLink");
        QCOMPARE(window->state().currentPage, int(kPageSuiteVersion));

        window->state().runBusy = 0;
        click(*window, "actionLink");
        QCOMPARE(window->state().currentPage, int(kPageSettings));
        QCOMPARE(child<QLabel>(*window, "pageTitle")->text(), text(252));
        for (const char* tab : {"tabMyDevice", "tabUpgrade", "tabInformation"})
            QCOMPARE(child<QAbstractButton>(*window, tab)->font().weight(), QFont::Light);
        QVERIFY(presenter_->shown().empty());
    }

    void aNewerSuiteAtStartIsOfferedOnce() {
        server_->setSuiteAnswer(suiteAnswer("http://127.0.0.1:1/KrevolSuite_4.10.0.zip", "4.10.0"));
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        QTRY_COMPARE_WITH_TIMEOUT(count(289), 1, 5000);
        QCOMPARE(presenter_->shown().back().type, kBoxYesNo);
        QCOMPARE(child<QLabel>(*window, "versionText")->text(), formatted(212, kProgramVersion, "4.10.0"));
        QCOMPARE(child<QAbstractButton>(*window, "actionLink")->text(), text(206));
        QCOMPARE(window->state().suiteInstallerUrl, std::string("http://127.0.0.1:1/KrevolSuite_4.10.0.zip"));
        QTest::qWait(1500);  // no second offer
        QCOMPARE(count(289), 1);
        QCOMPARE(server_->suiteCalls(), 1);
        QCOMPARE(presenter_->shown().size(), std::size_t(1));
        QVERIFY(started().empty());  // the answer was NO
    }

    void withPageSevenOpenTheQueryOnlyChangesTheTexts() {
        server_->setSuiteAnswer(suiteAnswer("http://127.0.0.1:1/KrevolSuite_4.3.1.zip", "4.3.1"));
        auto window = makeWindow();
        QVERIFY(window->showPage(kPageSuiteVersion));  // before the start's query has run
        QCOMPARE(child<QLabel>(*window, "versionText")->text(), formatted(460, kProgramVersion));
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(*window, "versionText")->text(),
                                  formatted(212, kProgramVersion, "4.3.1"), 5000);
        QCOMPARE(child<QAbstractButton>(*window, "actionLink")->text(), text(206));
        QTest::qWait(300);
        QVERIFY(presenter_->shown().empty());
    }

    void aFailedQueryShowsItsMessageAndTheFailureText_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("messageId");
        QTest::addColumn<int>("code");
        QTest::newRow("unknown status")
            << QStringLiteral("{\"statuscode\":15,\"message\":\"none\"}") << 167 << 15;
        QTest::newRow("no status") << QStringLiteral("{\"message\":\"none\"}") << 224 << 0;
        QTest::newRow("empty address") << QString::fromStdString(suiteAnswer("", "4.3.1")) << 224 << 1;
    }
    void aFailedQueryShowsItsMessageAndTheFailureText() {
        QFETCH(QString, answer);
        QFETCH(int, messageId);
        QFETCH(int, code);
        server_->setSuiteAnswer(answer.toStdString());
        auto window = makeWindow();
        QVERIFY(window->showPage(kPageSuiteVersion));
        QTRY_COMPARE_WITH_TIMEOUT(lastShownId(), messageId, 5000);
        QCOMPARE(presenter_->shown().back().code, code);
        QCOMPARE(child<QLabel>(*window, "versionText")->text(), formatted(262, kProgramVersion));
        QCOMPARE(child<QAbstractButton>(*window, "actionLink")->text(), text(207));
        QVERIFY(window->state().suiteInstallerUrl.empty());
    }

    void acceptingTheOfferDownloadsWithProgressStartsTheInstallerAndEndsTheSuite() {
        PackageServer packages;
        // 4 MiB that do not compress, so that the package is larger than that.
        std::string noise(4 << 20, '\0');
        std::uint32_t seed = 12345;
        for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
        packages.bytes = zipOf(*work_, {{"data.bin", noise}, {"linux/setup.sh", "#!/bin/sh\n"}});
        QVERIFY(packages.bytes.size() > (4u << 20));
        packages.hold = true;
        // The download writes whole blocks of 1 MiB: of the 2.5 MiB sent first, 2 MiB are in the file.
        const int part = static_cast<int>((std::uint64_t(2) << 20) * 100 / packages.bytes.size());
        server_->setSuiteAnswer(suiteAnswer(packages.url(), "4.3.1"));
        presenter_->answerNext(kAnswerFirst);  // YES to 289
        auto window = makeWindow();
        QVERIFY(waitForRefresh(*window));
        // The offer at start is accepted; 2.5 MiB of the package arrive: the page shows the percentage
        // while the window keeps running.
        QTRY_COMPARE_WITH_TIMEOUT(count(289), 1, 5000);
        window->showPage(kPageSuiteVersion);
        QTRY_VERIFY_WITH_TIMEOUT(packages.firstSent.load(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(*window, "versionText")->text(),
                                  QString::fromStdString(formatText(461, kProgramVersion, "4.3.1", part)),
                                  5000);
        QCOMPARE(host_.closeRequests, 0);
        packages.hold = false;
        QTRY_COMPARE_WITH_TIMEOUT(host_.closeRequests, 1, 10000);
        const auto s = started();
        QCOMPARE(s.size(), std::size_t(1));
        QCOMPARE(std::filesystem::path(s[0]).lexically_normal().string(),
                 std::filesystem::path(work_->path().toStdString() + "/KrevolDown/linux/setup.sh")
                     .lexically_normal()
                     .string());
        QCOMPARE(count(289), 1);
        QCOMPARE(presenter_->shown().size(), std::size_t(1));
    }

    // Nothing started (no installer for this system, or its start failed): the suite keeps running
    // and says so; the offer stays, so the user can try again.
    void withNothingStartedTheSuiteKeepsRunning_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("startWorks");
        QTest::addColumn<int>("messageId");
        QTest::newRow("no installer in the package") << QStringLiteral("readme.txt") << true << 520;
        QTest::newRow("the installer does not start") << QStringLiteral("setup.sh") << false << 521;
    }
    void withNothingStartedTheSuiteKeepsRunning() {
        QFETCH(QString, file);
        QFETCH(bool, startWorks);
        QFETCH(int, messageId);
        PackageServer packages;
        packages.bytes = zipOf(*work_, {{file.toStdString(), "#!/bin/sh\n"}});
        SuiteInstallOverrides o;
        o.startInstaller = [this, startWorks](const std::string& path) {
            std::lock_guard lock(startedMutex_);
            started_.push_back(path);
            return startWorks;
        };
        o.publicKey = std::string();
        o.folder = work_->path().toStdString() + "/KrevolDown/";
        setSuiteInstallOverrides(o);
        server_->setSuiteAnswer(suiteAnswer(packages.url(), "4.3.1"));
        auto window = makeWindow();
        QVERIFY(window->showPage(kPageSuiteVersion));
        QTRY_COMPARE_WITH_TIMEOUT(child<QAbstractButton>(*window, "actionLink")->text(), text(206), 5000);
        click(*window, "actionLink");
        QTRY_COMPARE_WITH_TIMEOUT(lastShownId(), messageId, 10000);
        QCOMPARE(presenter_->shown().size(), std::size_t(1));
        QCOMPARE(presenter_->shown().back().code, 0);
        QCOMPARE(started().size(), std::size_t(startWorks ? 0 : 1));
        QTest::qWait(200);
        QCOMPARE(host_.closeRequests, 0);
        QVERIFY(window->isVisible());
        QCOMPARE(child<QLabel>(*window, "versionText")->text(), formatted(212, kProgramVersion, "4.3.1"));
        QCOMPARE(child<QAbstractButton>(*window, "actionLink")->text(), text(206));
    }

    // The suite's end is a close like any other: a page that is busy when the installer has started
    // is asked (here an upgrade run: 225), and its "no" keeps the window.
    void theEndOfTheInstallAsksABusyPage() {
        PackageServer packages;
        // Larger than the part sent at once, so that the download waits until the run is busy.
        std::string noise(3 << 20, '\0');
        std::uint32_t seed = 777;
        for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
        packages.bytes = zipOf(*work_, {{"data.bin", noise}, {"setup.sh", "#!/bin/sh\n"}});
        QVERIFY(packages.bytes.size() > kFirstPart);
        packages.hold = true;
        server_->setSuiteAnswer(suiteAnswer(packages.url(), "4.3.1"));
        auto window = makeWindow();
        QVERIFY(window->showPage(kPageSuiteVersion));
        QTRY_COMPARE_WITH_TIMEOUT(child<QAbstractButton>(*window, "actionLink")->text(), text(206), 5000);
        click(*window, "actionLink");
        QTRY_VERIFY_WITH_TIMEOUT(packages.firstSent.load(), 5000);
        // An upgrade run counts as busy from here on.
        window->state().runBusy = 1;
        window->state().runIdle = 0;
        presenter_->answerNext(kAnswerSecond);  // 225: no
        packages.hold = false;
        QTRY_COMPARE_WITH_TIMEOUT(started().size(), std::size_t(1), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(lastShownId(), 225, 5000);
        QTest::qWait(200);
        QCOMPARE(host_.closeRequests, 0);
        QVERIFY(window->isVisible());
        window->state().runBusy = 0;
        window->state().runIdle = 1;
    }

    void aPackageWithoutSignatureShows178AndStartsNothing() {
        PackageServer packages;
        packages.bytes = zipOf(*work_, {{"setup.sh", "#!/bin/sh\n"}});
        server_->setSuiteAnswer(suiteAnswer(packages.url(), "4.3.1"));
        useRecordedStart(std::string("a10196231ce87e90fbb937dfd544fc81c23c1eb9aa72594f2eafa800da6dd033"));
        auto window = makeWindow();
        QVERIFY(window->showPage(kPageSuiteVersion));
        QTRY_COMPARE_WITH_TIMEOUT(child<QAbstractButton>(*window, "actionLink")->text(), text(206), 5000);
        click(*window, "actionLink");
        QTRY_COMPARE_WITH_TIMEOUT(lastShownId(), 178, 10000);
        QCOMPARE(presenter_->shown().back().code, kSuiteSignatureMissing);
        QVERIFY(started().empty());
        QTest::qWait(200);
        QCOMPARE(host_.closeRequests, 0);
        // The offer stays, so the user can try again.
        QCOMPARE(child<QLabel>(*window, "versionText")->text(), formatted(212, kProgramVersion, "4.3.1"));
        QCOMPARE(child<QAbstractButton>(*window, "actionLink")->text(), text(206));
    }
};

QTEST_MAIN(SuiteVersionPageTest)
#include "suite_version_page_test.moc"
