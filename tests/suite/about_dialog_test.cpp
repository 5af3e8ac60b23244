// The about box: its controls, its place on the screen and its proportional layout.
#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <atomic>
#include <memory>

#include "app/messages.h"
#include "suite/about_dialog.h"
#include "support/local_server.h"

namespace {

QString textOf(int id) {
    return QString::fromStdString(krevol::loadText(id));
}

}  // namespace

class AboutDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void placementFollowsTheWorkArea_data() {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QRect>("expected");
        // left = trunc(W / 3.5), top = trunc(H / 5.2), width W - 2 left, height H - 2 top
        QTest::newRow("1920x1040") << QRect(0, 0, 1920, 1040) << QRect(548, 200, 824, 640);
        QTest::newRow("1366x728") << QRect(0, 0, 1366, 728) << QRect(390, 140, 586, 448);
        QTest::newRow("offset area") << QRect(100, 50, 800, 600) << QRect(100 + 228, 50 + 115, 344, 370);
    }

    void placementFollowsTheWorkArea() {
        QFETCH(QRect, area);
        QFETCH(QRect, expected);
        QCOMPARE(CKrevolSetDlg::placementIn(area), expected);
    }

    void opensAtItsPlaceWithItsControls() {
        CKrevolSetDlg about("17", "\"tok\"");
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QCOMPARE(about.geometry(),
                 CKrevolSetDlg::placementIn(QGuiApplication::primaryScreen()->availableGeometry()));
        QCOMPARE(about.windowTitle(), textOf(101));
        QVERIFY(about.isModal());

        QCOMPARE(about.layoutIds(), (std::vector<int>{1054, 1, 1059, 1058}));
        for (int id : {1054, 1, 1059, 1058}) {
            QWidget* control = about.control(id);
            QVERIFY2(control != nullptr, qPrintable(QString::number(id)));
            QVERIFY2(control->isVisible(), qPrintable(QString::number(id)));
        }
        auto* button = qobject_cast<QAbstractButton*>(about.control(1));
        QVERIFY(button != nullptr);
        QCOMPARE(button->text(), textOf(207));
        auto* agreement = qobject_cast<QTextEdit*>(about.control(1054));
        QVERIFY(agreement != nullptr);
        QVERIFY(agreement->isReadOnly());
        const QString shown = agreement->toPlainText();
        QVERIFY(
            shown.startsWith(QStringLiteral("About the usage agreement of Krevol PC Suite.exe (example)")));
        QVERIFY(shown.contains(QStringLiteral("6. ")));
        auto* line = qobject_cast<QLabel*>(about.control(1058));
        QVERIFY(line != nullptr);
        QVERIFY(line->text().contains(QStringLiteral("4.3.0")));
        QVERIFY(line->text().contains(textOf(254).toHtmlEscaped()));
        QCOMPARE(about.userId(), std::string("17"));
        QCOMPARE(about.token(), std::string("\"tok\""));
    }

    void resizingToHalfTheWidthHalvesLeftEdgesAndWidths() {
        CKrevolSetDlg about("", "");
        about.resize(800, 600);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTRY_COMPARE(about.size(), QSize(800, 600));
        std::vector<QRect> before;
        for (int id : about.layoutIds()) before.push_back(about.control(id)->geometry());

        about.resize(400, 600);
        QTRY_COMPARE(about.size(), QSize(400, 600));
        const std::vector<int> ids = about.layoutIds();
        for (size_t i = 0; i < ids.size(); ++i) {
            const QRect now = about.control(ids[i])->geometry();
            const QString what = QString::number(ids[i]);
            QVERIFY2(qAbs(now.left() - before[i].left() / 2) <= 1, qPrintable(what));
            QVERIFY2(qAbs(now.width() - before[i].width() / 2) <= 1, qPrintable(what));
            QCOMPARE(now.top(), before[i].top());
            QCOMPARE(now.height(), before[i].height());
        }
    }

    void repeatedResizingDoesNotLetTheLayoutCreep() {
        CKrevolSetDlg about("", "");
        about.resize(700, 500);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTRY_COMPARE(about.size(), QSize(700, 500));
        std::vector<QRect> before;
        for (int id : about.layoutIds()) before.push_back(about.control(id)->geometry());
        for (int step = 0; step < 40; ++step) about.resize(700 - 7 * step, 500 - 3 * step);
        about.resize(700, 500);
        QTRY_COMPARE(about.size(), QSize(700, 500));
        const std::vector<int> ids = about.layoutIds();
        for (size_t i = 0; i < ids.size(); ++i) QCOMPARE(about.control(ids[i])->geometry(), before[i]);
        // The scaling itself, with truncation: a designed rectangle at twice the designed size.
        QCOMPARE(CKrevolSetDlg::scaledRect(QRect(10, 20, 30, 40), CKrevolSetDlg::kDesignSize * 2),
                 QRect(20, 40, 60, 80));
        QCOMPARE(CKrevolSetDlg::scaledRect(QRect(5, 5, 11, 11), QSize(300, 200)), QRect(2, 2, 6, 5));
    }

    void completeClosesTheBoxWithoutAnyServerCall() {
        std::atomic<int> requests{0};
        krevol::test::LocalServer server;
        server.http().Post(R"(/.*)", [&requests](const httplib::Request&, httplib::Response& res) {
            ++requests;
            res.set_content("{}", "application/json");
        });
        server.http().Get(R"(/.*)", [&requests](const httplib::Request&, httplib::Response& res) {
            ++requests;
            res.set_content("{}", "application/json");
        });
        server.start();
        qputenv("KREVOL_API_HOST", QByteArray::fromStdString(server.hostPort()));

        CKrevolSetDlg about("17", "\"tok\"");
        QTimer::singleShot(50, &about, [&about] {
            QTest::mouseClick(qobject_cast<QAbstractButton*>(about.control(1)), Qt::LeftButton);
        });
        QTimer guard;  // a failing click must not leave the test hanging
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, &about, &QDialog::reject);
        guard.start(20000);
        QCOMPARE(about.exec(), int(QDialog::Accepted));
        QTest::qWait(100);
        QCOMPARE(requests.load(), 0);
    }

    void captionLessEscapeClosesAndTheBodyDrags() {
        CKrevolSetDlg about("17", "\"tok\"");
        QVERIFY(about.windowFlags().testFlag(Qt::FramelessWindowHint));
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        // The body (here the product block, away from the agreement and the button) drags it.
        const QPoint start = about.pos();
        const QPoint grab(300, 20);
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(grab), QPointF(about.mapToGlobal(grab)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&about, &press);
        QMouseEvent move(QEvent::MouseMove, QPointF(grab + QPoint(25, 15)),
                         QPointF(about.mapToGlobal(grab + QPoint(25, 15))), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&about, &move);
        QCOMPARE(about.pos(), start + QPoint(25, 15));
        // Escape closes it as the system caption's box would have.
        QTest::keyClick(&about, Qt::Key_Escape);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), int(QDialog::Rejected));
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    AboutDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "about_dialog_test.moc"
