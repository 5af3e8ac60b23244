// The account maintenance views and the main window's way back to sign-in.
#include "sign_in_fixture.h"

class SignInMaintenanceTest : public SignInFixture {
    Q_OBJECT

  private slots:
    void initTestCase() { fixtureInitTestCase(); }
    void init() { fixtureInit(); }
    void cleanup() { fixtureCleanup(); }
    void cleanupTestCase() { fixtureCleanupTestCase(); }

    // ---- Account maintenance ------------------------------------------------------------------

    void changePasswordFlow() {
        open();
        SIGN_IN();
        QPointer<TestMainWindow> main = lastMainWindow();
        main->setEnabled(false);  // the main window disables itself before it asks
        dlg_->beginChangePassword();
        QVERIFY(dlg_->isVisible());
        QCOMPARE(dlg_->mode(), SignInMode::ChangePassword);
        QCOMPARE(control<SignInText>("titleText")->text(), textOf(151));
        // The long title is drawn smaller so that it keeps to the fields' width.
        QVERIFY(QFontMetrics(control<SignInText>("titleText")->drawnFont())
                    .horizontalAdvance(control<SignInText>("titleText")->text()) <= 241);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(120));
        QVERIFY(control("languageLabel")->isHidden() || control("languageArrow")->isHidden());
        QVERIFY(control("forgotLink")->isHidden());
        QVERIFY(control("switchLink")->isHidden());
        QCOMPARE(fieldControl(1)->text(), textOf(152));
        QCOMPARE(fieldControl(2)->text(), textOf(153));
        QVERIFY(fieldControl(1)->echoMode() != QLineEdit::Password);
        QCOMPARE(dlg_->pos(), dlg_->homeRect().topLeft());

        clickAction();
        EXPECT_ONLY_MESSAGE(125);
        presenter_->clear();
        typeInto(1, QStringLiteral("secret1"));
        QVERIFY(fieldControl(1)->echoMode() == QLineEdit::Password);
        typeInto(2, QStringLiteral("secret1"));
        clickAction();
        EXPECT_ONLY_MESSAGE(156);  // refused locally
        QVERIFY(api_->requests().empty());
        presenter_->clear();

        api_->answerStatus("user/update", 3);
        fieldControl(2)->clear();
        QTest::keyClicks(fieldControl(2), QStringLiteral("secret2"));
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(157);
        QCOMPARE(dlg_->mode(), SignInMode::ChangePassword);
        QVERIFY(main);
        presenter_->clear();

        bool mainWindowGoneAt154 = false;
        presenter_->observe = [&](const krevol::ShownMessage& m) {
            if (m.id == 154)
                mainWindowGoneAt154 = dlg_->mainWindowWidget() == nullptr && (!main || !main->isVisible());
        };
        api_->answerStatus("user/update", 200);
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(154);
        QVERIFY(mainWindowGoneAt154);
        QTRY_VERIFY_WITH_TIMEOUT(main.isNull(), kWait);
        QCOMPARE(dlg_->mode(), SignInMode::SignIn);
        QVERIFY(dlg_->isVisible());
        QVERIFY(!dlg_->isEnded());
        QCOMPARE(fieldControl(1)->text(), QStringLiteral("me@mail.com"));
        QCOMPARE(fieldControl(2)->text(), textOf(118));
        QVERIFY(!control("languageLabel")->isHidden() && !control("languageArrow")->isHidden());

        const auto body = api_->requests().back().body;
        QVERIFY(body.find("\"usersId\": 17") != std::string::npos);
        QVERIFY(body.find("\"token\": \"tok-1\"") != std::string::npos);
        QVERIFY(body.find("\"username\": \"me@mail.com\"") != std::string::npos);
        QVERIFY(body.find("\"oldPwd\": \"secret1\"") != std::string::npos);
        QVERIFY(body.find("\"password\": \"secret2\"") != std::string::npos);

        // The next sign-in builds a new main window.
        api_->answer("user/login", kLoginAnswer);
        typeInto(2, QStringLiteral("secret2"));
        CLICK_ACTION_AND_WAIT();
        QCOMPARE(mainWindows_.size(), size_t(2));
        QVERIFY(lastMainWindow() != nullptr);
    }

    void closingTheChangePasswordViewReturnsToTheMainWindow() {
        open();
        SIGN_IN();
        QPointer<TestMainWindow> main = lastMainWindow();
        main->setEnabled(false);
        dlg_->beginChangePassword();
        typeInto(1, QStringLiteral("typed-old"));
        QTest::mouseClick(control("closeControl"), Qt::LeftButton);
        QVERIFY(!dlg_->isEnded());
        QVERIFY(!dlg_->isVisible());
        QVERIFY(main);
        QVERIFY(main->isEnabled());
        QCOMPARE(dlg_->mode(), SignInMode::SignIn);
        QVERIFY(fieldControl(1)->text() != QStringLiteral("typed-old"));
        QCOMPARE(restarts_, 0);
    }

    void mailboxBindingFlow() {
        open();
        SIGN_IN();
        QPointer<TestMainWindow> main = lastMainWindow();
        main->hide();  // the main window hides itself before it asks
        dlg_->beginModifyMailbox();
        QVERIFY(dlg_->isVisible());
        QCOMPARE(dlg_->mode(), SignInMode::ModifyMailbox);
        QCOMPARE(control<SignInText>("titleText")->text(), textOf(195));
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(107));
        QVERIFY(control("forgotLink")->isHidden());
        QVERIFY(control("switchLink")->isHidden());
        QCOMPARE(fieldControl(1)->text(), QStringLiteral("me@mail.com"));
        QVERIFY(!dlg_->fieldShowsPlaceholder(1));
        QCOMPARE(fieldControl(2)->text(), textOf(119));

        // An address that differs only in case is another address.
        fieldControl(1)->setText(QStringLiteral("Me@mail.com"));
        clickAction();
        EXPECT_ONLY_MESSAGE(255);
        QVERIFY(api_->requests().empty());
        presenter_->clear();

        api_->answerStatus("tooluser/forgetPwdEmailSend", 200);
        api_->answerStatus("tooluser/checkEmailChptcha", 200);
        api_->answerStatus("tooluser/emailSend", 200);
        api_->answerStatus("user/update", 200);
        fieldControl(1)->setText(QStringLiteral("me@mail.com"));
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(131);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(120));
        presenter_->clear();
        typeInto(2, QStringLiteral("1111"));
        CLICK_ACTION_AND_WAIT();
        QVERIFY(shown().empty());
        QCOMPARE(dlg_->mode(), SignInMode::BindNewMailbox);
        QCOMPARE(control<SignInText>("titleText")->text(), textOf(201));
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(107));
        QCOMPARE(fieldControl(1)->text(), textOf(256));
        QVERIFY(dlg_->fieldShowsPlaceholder(1));

        typeInto(1, QStringLiteral("new@mail.com"));
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(131);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(120));
        presenter_->clear();

        bool mainWindowGoneAt215 = false;
        presenter_->observe = [&](const krevol::ShownMessage& m) {
            if (m.id == 215) mainWindowGoneAt215 = dlg_->mainWindowWidget() == nullptr;
        };
        typeInto(2, QStringLiteral("2222"));
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(215);
        QVERIFY(mainWindowGoneAt215);
        QTRY_VERIFY_WITH_TIMEOUT(main.isNull(), kWait);
        QCOMPARE(dlg_->mode(), SignInMode::SignIn);
        QCOMPARE(fieldControl(1)->text(), QStringLiteral("new@mail.com"));
        QCOMPARE(fieldControl(2)->text(), textOf(118));
        QVERIFY(dlg_->isVisible());

        QCOMPARE(api_->paths(), (std::vector<std::string>{"tooluser/forgetPwdEmailSend",
                                                          "tooluser/checkEmailChptcha", "tooluser/emailSend",
                                                          "tooluser/checkEmailChptcha", "user/update"}));
        const auto requests = api_->requests();
        QVERIFY(requests[0].body.find("\"username\": \"me@mail.com\"") != std::string::npos);
        QVERIFY(requests[2].body.find("\"username\": \"new@mail.com\"") != std::string::npos);
        QVERIFY(requests[3].body.find("\"phone\" : \"new@mail.com\"") != std::string::npos);
        const std::string& bind = requests[4].body;
        QVERIFY(bind.find("\"username\": \"new@mail.com\"") != std::string::npos);
        QVERIFY(bind.find("\"oldPwd\": \"secret1\"") != std::string::npos);
        QVERIFY(bind.find("\"password\": \"secret1\"") != std::string::npos);

        // Signing in with the new address builds a main window that holds it.
        presenter_->observe = nullptr;
        api_->answer("user/login", kLoginAnswer);
        typeInto(2, QStringLiteral("secret1"));
        CLICK_ACTION_AND_WAIT();
        QCOMPARE(mainWindows_.size(), size_t(2));
        QCOMPARE(lastMainWindow()->email_, std::string("new@mail.com"));
    }

    void bindingRefusedByTheServerKeepsTheView() {
        open();
        SIGN_IN();
        lastMainWindow()->hide();
        dlg_->beginModifyMailbox();
        api_->answerStatus("tooluser/forgetPwdEmailSend", 200);
        api_->answerStatus("tooluser/checkEmailChptcha", 200);
        api_->answerStatus("tooluser/emailSend", 200);
        api_->answerStatus("user/update", 42);
        CLICK_ACTION_AND_WAIT();
        typeInto(2, QStringLiteral("1111"));
        CLICK_ACTION_AND_WAIT();
        typeInto(1, QStringLiteral("new@mail.com"));
        CLICK_ACTION_AND_WAIT();
        typeInto(2, QStringLiteral("2222"));
        presenter_->clear();
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(216, 42);
        QCOMPARE(dlg_->mode(), SignInMode::BindNewMailbox);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(120));
        QVERIFY(dlg_->mainWindowWidget() != nullptr);

        // A wrong code sends no binding at all.
        api_->reset();
        api_->answerStatus("tooluser/checkEmailChptcha", 5);
        presenter_->clear();
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(133);
        QCOMPARE(api_->paths(), std::vector<std::string>{"tooluser/checkEmailChptcha"});

        // The close control of the mailbox views leads back to the same main window.
        QPointer<QWidget> main = dlg_->mainWindowWidget();
        QTest::mouseClick(control("closeControl"), Qt::LeftButton);
        QVERIFY(!dlg_->isEnded());
        QVERIFY(main && main->isVisible());
        QCOMPARE(mainWindows_.size(), size_t(1));
    }

    // Every maintenance view's close control: the main window again, as it was (no new one),
    // the sign-in window hidden on the sign-in view with the account's address; nothing sent.
    void closingAMaintenanceViewReturnsToTheMainWindow_data() {
        QTest::addColumn<QString>("view");
        QTest::newRow("change password") << QStringLiteral("change");
        QTest::newRow("modify mailbox") << QStringLiteral("modify");
        QTest::newRow("modify mailbox, code sent") << QStringLiteral("modify-sent");
        QTest::newRow("bind a new mailbox") << QStringLiteral("bind");
    }
    void closingAMaintenanceViewReturnsToTheMainWindow() {
        QFETCH(QString, view);
        open();
        SIGN_IN();
        QPointer<TestMainWindow> main = lastMainWindow();
        api_->answerStatus("tooluser/forgetPwdEmailSend", 200);
        api_->answerStatus("tooluser/checkEmailChptcha", 200);
        if (view == QLatin1String("change")) {
            main->setEnabled(false);  // as the main window's row leaves it
            dlg_->beginChangePassword();
            typeInto(1, QStringLiteral("typed-old"));
        } else {
            main->hide();
            dlg_->beginModifyMailbox();
            if (view != QLatin1String("modify")) CLICK_ACTION_AND_WAIT();  // the code goes out
            if (view == QLatin1String("bind")) {
                typeInto(2, QStringLiteral("1111"));
                CLICK_ACTION_AND_WAIT();
                QCOMPARE(dlg_->mode(), SignInMode::BindNewMailbox);
                typeInto(1, QStringLiteral("new@mail.com"));
            }
        }
        QVERIFY(dlg_->isVisible());
        const size_t sent = api_->requests().size();
        presenter_->clear();

        QTest::mouseClick(control("closeControl"), Qt::LeftButton);
        QVERIFY(!dlg_->isEnded());
        QCOMPARE(restarts_, 0);
        QVERIFY(!dlg_->isVisible());
        QVERIFY(main);
        QVERIFY(main->isVisible());
        QVERIFY(main->isEnabled());
        QCOMPARE(mainWindows_.size(), size_t(1));
        QCOMPARE(dlg_->mainWindowWidget(), static_cast<QWidget*>(main.data()));
        QCOMPARE(dlg_->mode(), SignInMode::SignIn);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(108));
        QCOMPARE(fieldControl(1)->text(), QStringLiteral("me@mail.com"));
        QCOMPARE(fieldControl(2)->text(), textOf(118));
        QVERIFY(dlg_->fieldShowsPlaceholder(2));
        QCOMPARE(dlg_->session().email, std::string("me@mail.com"));
        QCOMPARE(api_->requests().size(), sent);
        QVERIFY(shown().empty());

        // The same view can be opened again from the main window, from its first stage.
        main->hide();
        dlg_->beginModifyMailbox();
        QCOMPARE(dlg_->mode(), SignInMode::ModifyMailbox);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(107));
        QCOMPARE(fieldControl(1)->text(), QStringLiteral("me@mail.com"));
    }

    // The main window's language row goes through the sign-in window's own switch.
    void theMainWindowsLanguageChoiceUsesTheSignInSwitch() {
        open();
        SIGN_IN();
        QPointer<TestMainWindow> main = lastMainWindow();
        main->host_->switchLanguage(1);  // English, the current language (no stored `Lang`)
        QVERIFY(!dlg_->isEnded());
        QCOMPARE(restarts_, 0);
        QVERIFY(main);
        QCOMPARE(storedValue("Lang"), std::string());

        main->host_->switchLanguage(0);
        QCOMPARE(storedValue("Lang"), std::string("0"));
        QCOMPARE(restarts_, 1);
        QVERIFY(dlg_->isEnded());
        QTRY_VERIFY_WITH_TIMEOUT(main.isNull(), kWait);
    }

    void returnToSignInDestroysTheMainWindow() {
        open();
        SIGN_IN();
        QPointer<TestMainWindow> main = lastMainWindow();
        dlg_->returnToSignIn();
        QVERIFY(dlg_->isVisible());
        QVERIFY(!dlg_->isEnded());
        QCOMPARE(dlg_->mode(), SignInMode::SignIn);
        QCOMPARE(dlg_->fieldValue(2), std::string());
        QTRY_VERIFY_WITH_TIMEOUT(main.isNull(), kWait);
        SIGN_IN();
        QCOMPARE(mainWindows_.size(), size_t(2));
    }

    void closingTheMainWindowEndsTheRun() {
        open();
        SIGN_IN();
        QPointer<TestMainWindow> main = lastMainWindow();
        main->host_->requestClose();
        QVERIFY(dlg_->isEnded());
        QTRY_VERIFY_WITH_TIMEOUT(main.isNull(), kWait);
        QCOMPARE(restarts_, 0);
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("sign_in_maintenance_test"));
    SignInMaintenanceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "sign_in_maintenance_test.moc"
