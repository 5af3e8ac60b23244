// Page 7, PC suite version.
#include "mainwindow/suite_version_page.h"

#include <QLabel>

#include <filesystem>
#include <system_error>

#include "app/folders.h"
#include "app/message_presenter.h"
#include "app/messages.h"
#include "app/stop_flag.h"
#include "app/version.h"
#include "mainwindow/main_window_ui_parts.h"
#include "net/api.h"
#include "net/transport.h"
#include "suite/package_signature.h"
#include "suite/suite_package.h"
#include "suite/suite_version.h"
#include "ui/background_task.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"

namespace krevol {

using namespace ui_parts;

namespace {

SuiteInstallOverrides& overrides() {
    static SuiteInstallOverrides value;
    return value;
}

constexpr int kProgressInterval = 250;  // ms between progress texts while the package downloads

}  // namespace

void setSuiteInstallOverrides(const SuiteInstallOverrides& value) {
    overrides() = value;
}

CSuiteVersionPage::CSuiteVersionPage(PageHost& host)
    : MainWindowPage(host), timers_(this, [this](int id) {
          if (id == kTimerSuiteVersion) onSuiteVersionTimer();
      }) {
    versionText_ = makeLabel(parentWidget(), "versionText", kVersionTextRect, createUiFont(16, 400),
                             kTextDark, Qt::AlignLeft | Qt::AlignTop);
    versionText_->setWordWrap(true);
    actionLink_ =
        makeButton(parentWidget(), "actionLink", kActionLinkRect, skinPicture(picture::kPrimaryButton),
                   QString(), createUiFont(16, 700), Qt::white);
    connect(actionLink_, &QAbstractButton::clicked, this, &CSuiteVersionPage::onActionLink);
    progressTimer_.setInterval(kProgressInterval);
    connect(&progressTimer_, &QTimer::timeout, this, &CSuiteVersionPage::showDownloadProgress);
}

void CSuiteVersionPage::enter() {
    if (installing_) return;  // the download's progress stays on the page
    setTexts(QString::fromStdString(formatText(460, kProgramVersion)), msgId(207));
    startVersionQuery();
}

void CSuiteVersionPage::startVersionQuery() {
    timers_.arm(kTimerSuiteVersion, kTimerSuiteVersionDelay);
}

void CSuiteVersionPage::setTexts(const QString& text, int linkId) {
    versionText_->setText(text);
    actionLinkId_ = linkId;
    actionLink_->setText(QString::fromStdString(loadText(linkId)));
    placeActionLink(*versionText_, *actionLink_);
}

void CSuiteVersionPage::updateVisibility(const MainWindowVisibility& v) {
    const bool shown = v.versionText && state().currentPage == kPageSuiteVersion;
    versionText_->setVisible(shown);
    actionLink_->setVisible(shown);
}

bool CSuiteVersionPage::isTimerArmed(int id) const {
    // The query's job is pending until the query it started in the background has ended.
    return timers_.isArmed(id) || (id == kTimerSuiteVersion && queryRunning_);
}

bool CSuiteVersionPage::busy() const {
    return installing_;
}

bool CSuiteVersionPage::confirmClose() {
    runStopFlag = 1;  // the download ends within a second; its result is not shown any more
    return true;
}

void CSuiteVersionPage::onActionLink() {
    // Nothing starts while a page works (an install run, a format, this page's own download).
    if (state().runBusy == 1 || host().anyPageBusy()) return;
    if (actionLinkId_ == msgId(207) || actionLinkId_ == msgId(260))
        host().switchToPage(kPageSettings);
    else
        installSuitePackage();
}

void CSuiteVersionPage::onSuiteVersionTimer() {
    if (queryRunning_ || installing_) return;
    queryRunning_ = true;
    runInBackground(
        this, [] { return querySuiteVersion(); }, [this](SuiteVersionQuery query) { applyQuery(query); });
}

void CSuiteVersionPage::applyQuery(const SuiteVersionQuery& query) {
    queryRunning_ = false;
    if (installing_) return;
    // The texts first: the page never keeps "querying" behind a message box.
    const SuiteVersionTexts texts = suiteVersionTexts(query);
    if (query.ok) {
        state().suiteInstallerUrl = query.reply.packageUrl;
        serverVersion_ = query.reply.serverVersion;
    }
    setTexts(QString::fromStdString(texts.text), texts.linkId);
    if (query.newer) offerText_ = versionText_->text();
    host().pageChanged();
    if (!query.ok) {
        if (query.messageId != 0 && !repeatsTransportBox(query.messageId, query.code))
            showError(query.messageId, query.code);
        return;
    }
    // The offer waits for no page's work: while one is busy (a format, a run) it is not made, and a
    // "yes" given after a page became busy starts nothing (the page's texts keep the offer).
    if (query.newer && state().currentPage != kPageSuiteVersion && !host().anyPageBusy() &&
        showMessage(289, kBoxYesNo) == kAnswerFirst)
        onActionLink();
}

void CSuiteVersionPage::installSuitePackage() {
    const SuiteInstallOverrides& test = overrides();
    SuiteInstallOptions options;
    options.folder = !test.folder.empty()                   ? test.folder
                     : !state().suiteDownloadFolder.empty() ? state().suiteDownloadFolder
                                                            : downloadFolder();
    if (options.folder.back() != '/') options.folder += '/';
    options.publicKey = test.publicKey ? *test.publicKey : std::string(suitePublicKey());
    options.startInstaller = test.startInstaller;
    packageLength_ = std::make_shared<std::atomic<std::int64_t>>(0);
    options.length = packageLength_.get();
    const std::string url = state().suiteInstallerUrl;
    packagePath_ = suitePackagePath(url, options.folder);

    installing_ = true;
    actionLink_->setEnabled(false);
    showDownloadProgress();
    progressTimer_.start();
    runInBackground(
        this,
        [url, options, length = packageLength_] {
            (void)length;  // keeps the Content-Length alive while the download writes it
            return krevol::installSuitePackage(url, options);
        },
        [this](SuiteInstallOutcome outcome) { finishInstall(outcome); });
}

void CSuiteVersionPage::showDownloadProgress() {
    const std::int64_t total = packageLength_ ? packageLength_->load() : 0;
    std::error_code ec;
    const auto size = std::filesystem::file_size(packagePath_, ec);
    int percent = 0;
    if (!ec && total > 0)
        percent =
            static_cast<int>(std::min<std::uint64_t>(100, size * 100 / static_cast<std::uint64_t>(total)));
    const QString text =
        QString::fromStdString(formatText(461, kProgramVersion, serverVersion_.c_str(), percent));
    versionText_->setText(text);
    placeActionLink(*versionText_, *actionLink_);
}

void CSuiteVersionPage::finishInstall(const SuiteInstallOutcome& outcome) {
    progressTimer_.stop();
    installing_ = false;
    actionLink_->setEnabled(true);
    if (!outcome.ended) {
        setTexts(offerText_.isEmpty() ? versionText_->text() : offerText_, msgId(206));
        host().pageChanged();
        // A broken transfer (5) has shown the transport's box already.
        if (outcome.messageId != 0 &&
            !(outcome.messageId == msgId(182) && outcome.code == kResultTransportFailure))
            showError(outcome.messageId, outcome.code);
        return;
    }
    // The installer runs: the suite ends. The close goes through the pages like every close of
    // the window, so a page that is busy has its say.
    parentWidget()->close();
}

}  // namespace krevol
