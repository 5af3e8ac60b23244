// The sign-in window's flows: sign-in, sign-up and password recovery.
#include "sign_in_fixture.h"

class SignInFlowsTest : public SignInFixture {
    Q_OBJECT

  private slots:
    void initTestCase() { fixtureInitTestCase(); }
    void init() { fixtureInit(); }
    void cleanup() { fixtureCleanup(); }
    void cleanupTestCase() { fixtureCleanupTestCase(); }

    // ---- Sign-in -------------------------------------------------------------------------

    void signInChecks_data() {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("message");
        QTest::newRow("both empty") << QString() << QString() << 124;
        QTest::newRow("password empty") << QStringLiteral("me@mail.com") << QString() << 125;
        QTest::newRow("password empty before format") << QStringLiteral("nonsense") << QString() << 125;
        QTest::newRow("malformed address") << QStringLiteral("me@mail") << QStringLiteral("secret1") << 126;
        QTest::newRow("dot after at") << QStringLiteral("me@.mail.com") << QStringLiteral("secret1") << 126;
        QTest::newRow("short password") << QStringLiteral("me@mail.com") << QStringLiteral("12345") << 135;
    }

    void signInChecks() {
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(int, message);
        open();
        if (!email.isEmpty()) typeInto(1, email);
        if (!password.isEmpty()) typeInto(2, password);
        clickBackground();  // empty fields show their placeholders again: still counted as empty
        clickAction();
        QVERIFY(!dlg_->isBusy());
        EXPECT_ONLY_MESSAGE(message);
        QVERIFY(shown()[0].text.find(':') == std::string::npos);  // no number
        QVERIFY(api_->requests().empty());
        QCOMPARE(dlg_->mode(), SignInMode::SignIn);
        QCOMPARE(fieldControl(1)->text(), email.isEmpty() ? textOf(117) : email);
        QCOMPARE(dlg_->fieldValue(2), password.toStdString());
        QVERIFY(dlg_->isVisible());
    }

    void signInOutcomes_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("message");
        QTest::addColumn<int>("code");
        QTest::newRow("not registered") << QString::fromStdString(FakeApi::status(-6)) << 142 << 0;
        QTest::newRow("wrong password") << QString::fromStdString(FakeApi::status(3)) << 140 << 0;
        QTest::newRow("no status") << QStringLiteral("{\"message\": \"\"}") << 224 << 0;
        QTest::newRow("other status") << QString::fromStdString(FakeApi::status(7)) << 141 << 7;
        QTest::newRow("no token") << QStringLiteral(
                                         "{\"statuscode\": 200,\"data\": {\"id\":17,\"token\":\"t\"}}")
                                  << 143 << 0;
        QTest::newRow("no id") << QStringLiteral("{\"statuscode\": 200,\"data\": {\"token\":\"t\",\"x\":1}}")
                               << 143 << 0;
    }

    void signInOutcomes() {
        QFETCH(QString, answer);
        QFETCH(int, message);
        QFETCH(int, code);
        open();
        api_->answer("user/login", answer.toStdString());
        typeInto(1, QStringLiteral("me@mail.com"));
        typeInto(2, QStringLiteral("secret1"));
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(message, code);
        QVERIFY(mainWindows_.empty());
        QVERIFY(dlg_->isVisible());
        QCOMPARE(dlg_->mode(), SignInMode::SignIn);
        QCOMPARE(fieldControl(2)->text(), QStringLiteral("secret1"));
        QVERIFY(dlg_->session().userId.empty());
    }

    void signInOpensTheMainWindowAndRemembersTheAddress() {
        open();
        api_->answer("user/login", kLoginAnswer);
        typeInto(1, QStringLiteral("me@mail.com"));
        typeInto(2, QStringLiteral("secret1"));
        CLICK_ACTION_AND_WAIT();

        QVERIFY(shown().empty());
        const auto requests = api_->requests();
        QCOMPARE(requests.size(), size_t(1));
        QVERIFY(requests[0].body.find("\"username\": \"me@mail.com\"") != std::string::npos);
        QVERIFY(requests[0].body.find("\"password\" : \"secret1\"") != std::string::npos);

        TestMainWindow* main = lastMainWindow();
        QVERIFY(main != nullptr);
        QCOMPARE(main->userId_, std::string("17"));
        QCOMPARE(main->token_, std::string("\"tok-1\""));
        QCOMPARE(main->email_, std::string("me@mail.com"));
        QCOMPARE(main->host_, static_cast<krevol::SignInHost*>(windows_.get()));  // the application
        QVERIFY(main->isVisible());
        QVERIFY(main->isEnabled());
        QVERIFY(main->parentWidget() == nullptr);
        QCOMPARE(dlg_->mainWindowWidget(), static_cast<QWidget*>(main));

        QVERIFY(!dlg_->isVisible());
        QVERIFY(!dlg_->isEnded());
        QCOMPARE(dlg_->fieldValue(2), std::string());
        QCOMPARE(dlg_->session().email, std::string("me@mail.com"));
        QCOMPARE(dlg_->session().password, std::string("secret1"));
        QCOMPARE(dlg_->session().userId, std::string("17"));
        QCOMPARE(dlg_->session().token, std::string("\"tok-1\""));
        QCOMPARE(krevol::readUser(), QStringLiteral("me@mail.com"));
        QCOMPARE(storedValue("Password"), std::string());  // no secret is kept
    }

    void unreachableServerGivesTheTransportsBoxOnly() {
        // A port that nobody listens on.
        int port = 0;
        {
            httplib::Server probe;
            port = probe.bind_to_any_port("127.0.0.1");
        }
        qputenv("KREVOL_API_HOST", QByteArray("127.0.0.1:") + QByteArray::number(port));
        open();
        typeInto(1, QStringLiteral("me@mail.com"));
        typeInto(2, QStringLiteral("secret1"));
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(20);
        clickAction();
        QVERIFY(dlg_->isBusy());
        QCOMPARE(control<QAbstractButton>("actionButton")->text(),
                 textOf(108));  // the caption carries the stage: unchanged
        WAIT_IDLE();
        QVERIFY(ticks > 0);  // the user-interface thread went on while the call ran
        // One box: the transport's (cannot connect, code 5), not message 127 with the same code too.
        const auto messages = shown();
        QCOMPARE(messages.size(), std::size_t(1));
        QCOMPARE(messages.back().code, 5);
        QVERIFY(messages.back().id != 127);
        QVERIFY(messages.back().text.find(krevol::loadText(127)) == std::string::npos);
        QVERIFY(mainWindows_.empty());
        QCOMPARE(dlg_->mode(), SignInMode::SignIn);
    }

    void aSecondClickWhileBusyIsIgnored() {
        open();
        api_->answerStatus("user/login", 3);
        api_->setDelay(800);
        typeInto(1, QStringLiteral("me@mail.com"));
        typeInto(2, QStringLiteral("secret1"));
        QSignalSpy busy(dlg_, &CKrevolRegistDlg::busyChanged);
        clickAction();
        QVERIFY(dlg_->isBusy());
        clickAction();
        QTest::keyClick(fieldControl(2), Qt::Key_Return);
        QTest::mouseClick(control("switchLink"), Qt::LeftButton);  // links wait too
        QCOMPARE(dlg_->mode(), SignInMode::SignIn);
        WAIT_IDLE();
        QCOMPARE(api_->requests().size(), size_t(1));
        EXPECT_ONLY_MESSAGE(140);
        QCOMPARE(busy.count(), 2);
        // Idle again: the next click is a new sign-in.
        api_->setDelay(0);
        CLICK_ACTION_AND_WAIT();
        QCOMPARE(api_->requests().size(), size_t(2));
    }

    // ---- Sign-up and recovery ---------------------------------------------------------------

    void signUpThroughToThePasswordAndBack() {
        open();
        QTest::mouseClick(control("switchLink"), Qt::LeftButton);
        QCOMPARE(dlg_->mode(), SignInMode::SignUp);
        QCOMPARE(control<SignInText>("titleText")->text(), textOf(109));
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(107));
        QCOMPARE(control<SignInText>("switchLink")->text(), textOf(248));
        QVERIFY(control("forgotLink")->isHidden());
        QCOMPARE(fieldControl(1)->text(), textOf(117));
        QCOMPARE(fieldControl(2)->text(), textOf(119));

        // No address: 124, still the first stage.
        clickAction();
        EXPECT_ONLY_MESSAGE(124);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(107));
        presenter_->clear();

        api_->answerStatus("tooluser/emailSend", 200);
        api_->answerStatus("tooluser/checkEmailChptcha", 200);
        api_->answerStatus("tooluser/setPwd", 200);
        typeInto(1, QStringLiteral("new@mail.com"));
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(131);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(109));
        QCOMPARE(dlg_->mode(), SignInMode::SignUp);
        presenter_->clear();

        // Second stage: the click verifies the code.
        clickAction();
        EXPECT_ONLY_MESSAGE(132);
        presenter_->clear();
        typeInto(2, QStringLiteral("4711"));
        CLICK_ACTION_AND_WAIT();
        QVERIFY(shown().empty());
        QCOMPARE(dlg_->mode(), SignInMode::PasswordSetting);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(120));
        QCOMPARE(control<SignInText>("titleText")->text(), textOf(109));
        QCOMPARE(dlg_->session().email, std::string("new@mail.com"));
        QCOMPARE(fieldControl(1)->text(), textOf(118));
        QCOMPARE(fieldControl(2)->text(), textOf(121));
        QVERIFY(fieldControl(1)->echoMode() != QLineEdit::Password);

        typeInto(1, QStringLiteral("secret1"));
        QVERIFY(fieldControl(1)->echoMode() == QLineEdit::Password);
        typeInto(2, QStringLiteral("secret2"));
        clickAction();
        EXPECT_ONLY_MESSAGE(136);
        QCOMPARE(dlg_->mode(), SignInMode::PasswordSetting);
        presenter_->clear();
        fieldControl(2)->clear();
        QTest::keyClicks(fieldControl(2), QStringLiteral("secret1"));
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(137);

        QCOMPARE(dlg_->mode(), SignInMode::SignIn);
        QCOMPARE(control<SignInText>("titleText")->text(), textOf(108));
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(108));
        QCOMPARE(control<SignInText>("switchLink")->text(), textOf(110));
        QVERIFY(!control("forgotLink")->isHidden());
        QCOMPARE(fieldControl(1)->text(), QStringLiteral("new@mail.com"));
        QVERIFY(!dlg_->fieldShowsPlaceholder(1));
        QCOMPARE(fieldControl(2)->text(), textOf(118));
        QVERIFY(dlg_->fieldShowsPlaceholder(2));

        const auto requests = api_->requests();
        QCOMPARE(api_->paths(), (std::vector<std::string>{"tooluser/emailSend", "tooluser/checkEmailChptcha",
                                                          "tooluser/setPwd"}));
        QVERIFY(requests[0].body.find("\"username\": \"new@mail.com\"") != std::string::npos);
        QVERIFY(requests[1].body.find("\"chptcha\": \"4711\"") != std::string::npos);
        QVERIFY(requests[1].body.find("\"phone\" : \"new@mail.com\"") != std::string::npos);
        QVERIFY(requests[2].body.find("\"username\": \"new@mail.com\"") != std::string::npos);
        QVERIFY(requests[2].body.find("\"password\" : \"secret1\"") != std::string::npos);
    }

    void failedStepsKeepModeStageAndFields() {
        open();
        QTest::mouseClick(control("switchLink"), Qt::LeftButton);
        api_->answerStatus("tooluser/emailSend", 1);
        typeInto(1, QStringLiteral("taken@mail.com"));
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(129);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(107));
        QCOMPARE(fieldControl(1)->text(), QStringLiteral("taken@mail.com"));
        presenter_->clear();

        api_->answerStatus("tooluser/emailSend", 200);
        CLICK_ACTION_AND_WAIT();
        presenter_->clear();
        api_->answerStatus("tooluser/checkEmailChptcha", 9);
        typeInto(2, QStringLiteral("0000"));
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(133);  // no number, whatever the status
        QCOMPARE(dlg_->mode(), SignInMode::SignUp);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(109));
        QCOMPARE(fieldControl(2)->text(), QStringLiteral("0000"));
        QVERIFY(dlg_->session().email.empty());

        // The switch link leads back to sign-in from sign-up.
        QTest::mouseClick(control("switchLink"), Qt::LeftButton);
        QCOMPARE(dlg_->mode(), SignInMode::SignIn);
        QVERIFY(!control("forgotLink")->isHidden());
    }

    void recoveryKeepsTheTypedAddressAndEndsOnSignIn() {
        open();
        typeInto(1, QStringLiteral("me@mail.com"));
        QTest::mouseClick(control("forgotLink"), Qt::LeftButton);
        QCOMPARE(dlg_->mode(), SignInMode::ForgotPassword);
        QCOMPARE(control<SignInText>("titleText")->text(), textOf(115) + QStringLiteral("?"));
        QCOMPARE(control("titleText")->font().pixelSize(), 26);
        QVERIFY(control("titleText")->font().bold());
        QCOMPARE(control("titleText")->geometry(), QRect(30, 137, 270, 32));
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(107));
        QVERIFY(control("forgotLink")->isHidden());
        QVERIFY(!control("switchLink")->isHidden());  // the way back to sign-in
        QCOMPARE(control<SignInText>("switchLink")->text(), textOf(248));
        QCOMPARE(fieldControl(1)->text(), QStringLiteral("me@mail.com"));
        QVERIFY(!dlg_->fieldShowsPlaceholder(1));
        QCOMPARE(fieldControl(2)->text(), textOf(119));

        api_->answerStatus("tooluser/forgetPwdEmailSend", 200);
        api_->answerStatus("tooluser/checkEmailChptcha", 200);
        api_->answerStatus("tooluser/forgetPwdSetPwd", 200);
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(131);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(120));
        presenter_->clear();

        typeInto(2, QStringLiteral("123456"));
        CLICK_ACTION_AND_WAIT();
        QVERIFY(shown().empty());
        QCOMPARE(dlg_->mode(), SignInMode::NewPasswordSetting);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(120));
        QCOMPARE(fieldControl(1)->text(), textOf(118));

        typeInto(1, QStringLiteral("newsecret"));
        typeInto(2, QStringLiteral("newsecret"));
        CLICK_ACTION_AND_WAIT();
        EXPECT_ONLY_MESSAGE(137);
        QCOMPARE(dlg_->mode(), SignInMode::SignIn);
        QCOMPARE(fieldControl(1)->text(), QStringLiteral("me@mail.com"));
        QCOMPARE(fieldControl(2)->text(), textOf(118));
        QCOMPARE(control<SignInText>("titleText")->text(), textOf(108));
        QCOMPARE(api_->paths(),
                 (std::vector<std::string>{"tooluser/forgetPwdEmailSend", "tooluser/checkEmailChptcha",
                                           "tooluser/forgetPwdSetPwd"}));
        QVERIFY(api_->requests()[2].body.find("\"password\" : \"newsecret\"") != std::string::npos);
    }

    // The switch link leads back from every step of the recovery to the sign-in view as it is
    // at start (title, caption, links), with the address in field 1, and sends nothing.
    void recoveryLeadsBackToSignIn_data() {
        QTest::addColumn<int>("steps");  // 0: just entered, 1: code sent, 2: code verified
        QTest::newRow("first stage") << 0;
        QTest::newRow("code sent") << 1;
        QTest::newRow("code verified") << 2;
    }
    void recoveryLeadsBackToSignIn() {
        QFETCH(int, steps);
        open();
        typeInto(1, QStringLiteral("me@mail.com"));
        QTest::mouseClick(control("forgotLink"), Qt::LeftButton);
        api_->answerStatus("tooluser/forgetPwdEmailSend", 200);
        api_->answerStatus("tooluser/checkEmailChptcha", 200);
        if (steps >= 1) CLICK_ACTION_AND_WAIT();
        if (steps >= 2) {
            typeInto(2, QStringLiteral("123456"));
            CLICK_ACTION_AND_WAIT();
            QCOMPARE(dlg_->mode(), SignInMode::NewPasswordSetting);
            typeInto(1, QStringLiteral("half-typed"));
        }
        QVERIFY(!control("switchLink")->isHidden());
        const size_t sent = api_->requests().size();
        presenter_->clear();

        QTest::mouseClick(control("switchLink"), Qt::LeftButton);
        QCOMPARE(dlg_->mode(), SignInMode::SignIn);
        QCOMPARE(control<SignInText>("titleText")->text(), textOf(108));
        QCOMPARE(control("titleText")->font().pixelSize(), 34);
        QCOMPARE(control("titleText")->geometry(), QRect(30, 137, 300, 36));
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(108));
        QVERIFY(!control("forgotLink")->isHidden());
        QVERIFY(!control("switchLink")->isHidden());
        QCOMPARE(control<SignInText>("switchLink")->text(), textOf(110));
        QVERIFY(!control("languageLabel")->isHidden() && !control("languageArrow")->isHidden());
        QCOMPARE(fieldControl(1)->text(), QStringLiteral("me@mail.com"));
        QVERIFY(!dlg_->fieldShowsPlaceholder(1));
        QCOMPARE(fieldControl(2)->text(), textOf(118));
        QVERIFY(dlg_->fieldShowsPlaceholder(2));
        QCOMPARE(api_->requests().size(), sent);
        QVERIFY(shown().empty());

        // Signing in works from there, and the recovery starts again from its first stage.
        api_->answer("user/login", kLoginAnswer);
        typeInto(2, QStringLiteral("secret1"));
        CLICK_ACTION_AND_WAIT();
        QVERIFY(lastMainWindow() != nullptr);
        dlg_->returnToSignIn();
        QTest::mouseClick(control("forgotLink"), Qt::LeftButton);
        QCOMPARE(dlg_->mode(), SignInMode::ForgotPassword);
        QCOMPARE(control<QAbstractButton>("actionButton")->text(), textOf(107));
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("sign_in_flows_test"));
    SignInFlowsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "sign_in_flows_test.moc"
