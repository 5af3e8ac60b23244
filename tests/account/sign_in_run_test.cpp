// The program's life in the sign-in window: language switch with restart, version, about box, installer.
#include "sign_in_fixture.h"

class SignInRunTest : public SignInFixture {
    Q_OBJECT

  private slots:
    void initTestCase() { fixtureInitTestCase(); }
    void init() { fixtureInit(); }
    void cleanup() { fixtureCleanup(); }
    void cleanupTestCase() { fixtureCleanupTestCase(); }

    // ---- Language, version, about -----------------------------------------------------------

    void selectingTheCurrentLanguageDoesNothing() {
        open();
        QTest::mouseClick(control("languageArrow"), Qt::LeftButton);
        QVERIFY(!control("languageList")->isHidden());
        QCOMPARE(dlg_->focusWidget(), static_cast<QWidget*>(control<QListWidget>("languageList")));
        QListWidget* list = control<QListWidget>("languageList");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QStringLiteral("Chinese"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("English"));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
        QVERIFY(!dlg_->isEnded());
        QCOMPARE(restarts_, 0);
        QCOMPARE(storedValue("Lang"), std::string());
    }

    void selectingAnotherLanguageWritesItAndRestarts() {
        open();
        QTest::mouseClick(control("languageArrow"), Qt::LeftButton);
        QListWidget* list = control<QListWidget>("languageList");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
        QVERIFY(dlg_->isEnded());
        QCOMPARE(restarts_, 1);
        QCOMPARE(krevol::readLang(), 0);
    }

    void anyOtherStoredLanguageSwitchesToEither() {
        krevol::writeLang(7);
        open();
        QCOMPARE(dlg_->languageIndex(), 7);
        dlg_->switchLanguage(1);  // 7 differs from 1
        QVERIFY(dlg_->isEnded());
        QCOMPARE(restarts_, 1);
        QCOMPARE(krevol::readLang(), 1);
    }

    void theArrowTogglesTheListAndAClickElsewhereClosesIt() {
        open();
        QTest::mouseClick(control("languageArrow"), Qt::LeftButton);
        QVERIFY(!control("languageList")->isHidden());
        QTest::mouseClick(control("languageArrow"), Qt::LeftButton);
        QVERIFY(control("languageList")->isHidden());
        QTest::mouseClick(control("languageArrow"), Qt::LeftButton);
        clickBackground();
        QVERIFY(control("languageList")->isHidden());
        QVERIFY(!dlg_->isEnded());
        QVERIFY(dlg_->fieldShowsPlaceholder(1));  // the focus did not fall into a field
    }

    void theEleventhClickShowsTheVersion() {
        open();
        for (int i = 0; i < 10; ++i) QTest::mouseClick(control("languageLabel"), Qt::LeftButton);
        QVERIFY(shown().empty());
        QTest::mouseClick(control("languageLabel"), Qt::LeftButton);
        QCOMPARE(shown().size(), size_t(1));
        QCOMPARE(shown()[0].text, std::string("4.3.0"));
        QCOMPARE(shown()[0].type, krevol::kBoxOk);
        // The counter starts again.
        for (int i = 0; i < 10; ++i) QTest::mouseClick(control("languageLabel"), Qt::LeftButton);
        QCOMPARE(shown().size(), size_t(1));
        QTest::mouseClick(control("languageLabel"), Qt::LeftButton);
        QCOMPARE(shown().size(), size_t(2));
    }

    void theContextMenuOpensTheAboutBoxWithTheSession() {
        open();
        SIGN_IN();
        dlg_->returnToSignIn();
        std::unique_ptr<QMenu> menu(dlg_->createContextMenu());
        QVERIFY(menu != nullptr);
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions()[0]->text(), textOf(101));
        menu->actions()[0]->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(aboutBoxes_.size(), size_t(1), kWait);
        QCOMPARE(aboutBoxes_[0].first, std::string("17"));
        QCOMPARE(aboutBoxes_[0].second, std::string("\"tok-1\""));
    }

    // ---- Installer cooperation ---------------------------------------------------------------

    void onceEndsAtOnceWithoutShowingAnything() {
        open("Once");
        QCOMPARE(onceCalls_, 1);
        QVERIFY(dlg_->isEnded());
        QCOMPARE(dlg_->exec(), 0);
        QVERIFY(!dlg_->isVisible());
        QVERIFY(shown().empty());
        QVERIFY(CKrevolRegistDlg::instance() != dlg_);
    }

    void twiceWaitsForTheInstallerThenAsks_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("restarts");
        QTest::newRow("yes") << krevol::kAnswerFirst << 1;
        QTest::newRow("no") << krevol::kAnswerSecond << 0;
    }

    void twiceWaitsForTheInstallerThenAsks() {
        QFETCH(int, answer);
        QFETCH(int, restarts);
        installerRunsForPolls_ = 3;
        presenter_->answerNext(answer);
        windows_ = std::make_unique<krevol::SuiteWindows>("Twice", factories(), hooks());
        dlg_ = &windows_->signInDialog();
        QTimer guard;  // keeps a failing test from hanging
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, this, [this] { dlg_->closeWindow(); });
        guard.start(kWait);
        QCOMPARE(dlg_->exec(), 0);
        QVERIFY(dlg_->isEnded());
        QCOMPARE(installerPolls_, 4);  // three ticks with the installer, one without
        QCOMPARE(onceCalls_, 0);
        const auto messages = shown();
        QCOMPARE(messages.size(), size_t(1));
        QCOMPARE(messages[0].id, 268);
        QCOMPARE(messages[0].type, krevol::kBoxYesNo);
        QCOMPARE(restarts_, restarts);
        QVERIFY(!dlg_->isVisible());
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("sign_in_run_test"));
    SignInRunTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "sign_in_run_test.moc"
