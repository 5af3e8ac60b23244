// The message box: results, captions, layout, placement and dragging.
#include <QFontMetrics>
#include <QScreen>
#include <QtTest>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "box_helpers.h"
#include "ui/box_dialog.h"
#include "ui/skin.h"

using namespace krevol;
using krevol::test::whenBoxOpens;

namespace {

enum class Action { First, Second, Close, Enter, Escape, WindowClose };

void perform(CKrevolBoxDlg& box, Action action) {
    switch (action) {
        case Action::First:
            QTest::mouseClick(box.firstButton(), Qt::LeftButton);
            break;
        case Action::Second:
            QTest::mouseClick(box.secondButton(), Qt::LeftButton);
            break;
        case Action::Close:
            QTest::mouseClick(box.closeControl(), Qt::LeftButton);
            break;
        case Action::Enter:
            QTest::keyClick(&box, Qt::Key_Return);
            break;
        case Action::Escape:
            QTest::keyClick(&box, Qt::Key_Escape);
            break;
        case Action::WindowClose:
            box.close();
            break;
    }
}

const QString kLongText = QStringLiteral(
    "Software upgrading. Closing the tool may result in the device not working properly. Are you sure to "
    "close?");

}  // namespace

Q_DECLARE_METATYPE(Action)

class TestBoxDialog : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void results_data();
    void results();
    void okBoxHasOneCentredButton();
    void questionBoxHasYesAndNo_data();
    void questionBoxHasYesAndNo();
    void captionsFollowTheLanguage();
    void placementFormula_data();
    void placementFormula();
    void placedOnTheAvailableArea();
    void textAreaByOneLineWidth_data();
    void textAreaByOneLineWidth();
    void shortTextSitsLowerThanWrappedText();
    void textWithLineBreaksIsWrapped();
    void dragsWithTheLeftButton();
    void drawsTheTextInBlackOnTheSkin();
};

void TestBoxDialog::initTestCase() {
    installEmbeddedFont();
}

void TestBoxDialog::results_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<Action>("action");
    QTest::addColumn<int>("expected");
    QTest::newRow("OK box, OK") << kBoxOk << Action::First << 1;
    QTest::newRow("OK box, close control") << kBoxOk << Action::Close << 2;
    QTest::newRow("OK box, Enter") << kBoxOk << Action::Enter << 1;
    QTest::newRow("OK box, Escape") << kBoxOk << Action::Escape << 2;
    QTest::newRow("question, YES") << kBoxYesNo << Action::First << 1;
    QTest::newRow("question, NO") << kBoxYesNo << Action::Second << 2;
    QTest::newRow("question, close control") << kBoxYesNo << Action::Close << 2;
    QTest::newRow("question, Enter") << kBoxYesNo << Action::Enter << 1;
    QTest::newRow("question, Escape") << kBoxYesNo << Action::Escape << 2;
    QTest::newRow("question, window closed") << kBoxYesNo << Action::WindowClose << 2;
    QTest::newRow("type 7 is a question, NO") << 7 << Action::Second << 2;
    QTest::newRow("type -1 is a question, YES") << -1 << Action::First << 1;
}

void TestBoxDialog::results() {
    QFETCH(int, type);
    QFETCH(Action, action);
    QFETCH(int, expected);
    CKrevolBoxDlg box(QStringLiteral("Are you sure to format the device?"), type);
    bool acted = false;
    whenBoxOpens([&](CKrevolBoxDlg& open) {
        acted = &open == &box;
        perform(open, action);
    });
    QCOMPARE(box.exec(), expected);
    QVERIFY(acted);
}

void TestBoxDialog::okBoxHasOneCentredButton() {
    CKrevolBoxDlg box(QStringLiteral("The server returned abnormal data."), kBoxOk);
    box.show();
    QCOMPARE(box.firstButton()->text(), QStringLiteral("OK"));
    QCOMPARE(box.firstButton()->geometry(), QRect(156, 140, 68, 24));
    QVERIFY(!box.secondButton()->isVisible());
    QCOMPARE(box.closeControl()->geometry(), QRect(355, 12, 15, 15));
    QCOMPARE(box.size(), QSize(380, 180));
    QVERIFY(box.windowFlags().testFlag(Qt::FramelessWindowHint));
}

void TestBoxDialog::questionBoxHasYesAndNo_data() {
    QTest::addColumn<int>("type");
    QTest::newRow("type 0") << 0;
    QTest::newRow("type 2") << 2;
}

void TestBoxDialog::questionBoxHasYesAndNo() {
    QFETCH(int, type);
    CKrevolBoxDlg box(QStringLiteral("Are you sure to format the device?"), type);
    box.show();
    QCOMPARE(box.firstButton()->text(), QStringLiteral("YES"));
    QCOMPARE(box.firstButton()->geometry(), QRect(120, 140, 68, 24));
    QCOMPARE(box.secondButton()->text(), QStringLiteral("NO"));
    QCOMPARE(box.secondButton()->geometry(), QRect(208, 140, 68, 24));
    QVERIFY(box.secondButton()->isVisible());
}

void TestBoxDialog::captionsFollowTheLanguage() {
    // Every text of a Chinese run is Chinese, the buttons' captions too.
    setUiLanguage(kLanguageChinese);
    CKrevolBoxDlg question(QString::fromUtf8("确定要格式化设备吗？"), kBoxYesNo);
    CKrevolBoxDlg ok(QString::fromUtf8("服务器返回数据异常。"), kBoxOk);
    setUiLanguage(kLanguageEnglish);
    QCOMPARE(question.firstButton()->text(), QString::fromUtf8("是"));
    QCOMPARE(question.secondButton()->text(), QString::fromUtf8("否"));
    QCOMPARE(ok.firstButton()->text(), QString::fromUtf8("确定"));
}

void TestBoxDialog::placementFormula_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QPoint>("origin");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("odd area 1921 x 1041") << 1921 << 1041 << QPoint(0, 0) << QRect(770, 430, 381, 181);
    QTest::newRow("even area 1920 x 1080") << 1920 << 1080 << QPoint(0, 0) << QRect(770, 450, 380, 180);
    QTest::newRow("odd width only 1365 x 728") << 1365 << 728 << QPoint(0, 0) << QRect(492, 274, 381, 180);
    QTest::newRow("area below a top panel") << 1920 << 1040 << QPoint(0, 40) << QRect(770, 470, 380, 180);
    QTest::newRow("area on a second screen") << 1280 << 985 << QPoint(1920, 0) << QRect(2370, 402, 380, 181);
}

void TestBoxDialog::placementFormula() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QPoint, origin);
    QFETCH(QRect, expected);
    QCOMPARE(boxWindowRect(width, height, origin), expected);
}

void TestBoxDialog::placedOnTheAvailableArea() {
    CKrevolBoxDlg box(QStringLiteral("The server returned abnormal data."), kBoxOk);
    box.placeOnScreen();
    const QRect area = box.screen()->availableGeometry();
    const int x = (area.width() - 380) / 2;
    const int y = (area.height() - 180) / 2;
    QCOMPARE(box.geometry().topLeft(), area.topLeft() + QPoint(x, y));
    QCOMPARE(box.geometry().width(), area.width() - 2 * x);
    QCOMPARE(box.geometry().height(), 180 + (area.height() - 180) % 2);
}

void TestBoxDialog::textAreaByOneLineWidth_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("empty text") << 0 << QRect(73, 52, 290, 48);
    QTest::newRow("exactly 290") << 290 << QRect(73, 52, 290, 48);
    QTest::newRow("291 wraps") << 291 << QRect(68, 43, 290, 92);
    QTest::newRow("far too wide") << 2000 << QRect(68, 43, 290, 92);
}

void TestBoxDialog::textAreaByOneLineWidth() {
    QFETCH(int, width);
    QFETCH(QRect, expected);
    QCOMPARE(boxTextRect(width), expected);
}

void TestBoxDialog::shortTextSitsLowerThanWrappedText() {
    const QString shortText = QStringLiteral("The server returned abnormal data.");
    QVERIFY(QFontMetrics(messageBoxFont()).horizontalAdvance(shortText) <= 290);
    QVERIFY(QFontMetrics(messageBoxFont()).horizontalAdvance(kLongText) > 290);
    CKrevolBoxDlg shortBox(shortText, kBoxOk);
    CKrevolBoxDlg longBox(kLongText, kBoxYesNo);
    QCOMPARE(shortBox.textRect(), QRect(73, 52, 290, 48));
    QCOMPARE(longBox.textRect(), QRect(68, 43, 290, 92));
    QVERIFY(shortBox.textRect().top() > longBox.textRect().top());

    // The decision follows the measured width in the box font: a text just short of the limit
    // stays on one line, the same text one character longer wraps.
    QString edge;
    while (QFontMetrics(messageBoxFont()).horizontalAdvance(edge + QLatin1Char('m')) <= 290)
        edge += QLatin1Char('m');
    QCOMPARE(CKrevolBoxDlg(edge, kBoxOk).textRect(), QRect(73, 52, 290, 48));
    QCOMPARE(CKrevolBoxDlg(edge + QLatin1Char('m'), kBoxOk).textRect(), QRect(68, 43, 290, 92));

    CKrevolBoxDlg chinese(QString::fromUtf8("服务器返回数据异常。"), kBoxOk);
    QCOMPARE(chinese.textRect(), QRect(73, 52, 290, 48));
}

void TestBoxDialog::textWithLineBreaksIsWrapped() {
    CKrevolBoxDlg box(QStringLiteral("Version 4.3.0.\r\n\r\nRestart."), kBoxOk);
    QCOMPARE(box.textRect(), QRect(68, 43, 290, 92));
}

void TestBoxDialog::dragsWithTheLeftButton() {
    CKrevolBoxDlg box(QStringLiteral("Drag me"), kBoxOk);
    box.move(100, 100);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QPoint start = box.pos();
    const QPoint grab(60, 100);  // on the body, away from the controls
    const QPoint globalGrab = box.mapToGlobal(grab);

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(grab), QPointF(globalGrab), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&box, &press);
    QMouseEvent move(QEvent::MouseMove, QPointF(grab + QPoint(30, 20)), QPointF(globalGrab + QPoint(30, 20)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&box, &move);
    QTRY_COMPARE(box.pos(), start + QPoint(30, 20));

    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(grab), QPointF(globalGrab + QPoint(30, 20)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&box, &release);
    // Moving without a button no longer drags.
    QMouseEvent hover(QEvent::MouseMove, QPointF(grab + QPoint(80, 0)), QPointF(globalGrab + QPoint(110, 20)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&box, &hover);
    QCoreApplication::processEvents();
    QCOMPARE(box.pos(), start + QPoint(30, 20));
}

void TestBoxDialog::drawsTheTextInBlackOnTheSkin() {
    // A box widened by the placement formula is filled by its stretched background picture.
    CKrevolBoxDlg box(kLongText, kBoxYesNo);
    box.resize(381, 181);
    const QImage shot = box.grab().toImage();
    QCOMPARE(shot.size(), QSize(381, 181) * box.devicePixelRatio());
    // The text is drawn in black on the light body: some dark pixels lie in the text area.
    int dark = 0;
    const QRect area = box.textRect();
    for (int y = area.top(); y < area.bottom(); ++y)
        for (int x = area.left(); x < area.right(); ++x)
            if (qGray(shot.pixel(x, y)) < 80) ++dark;
    QVERIFY2(dark > 200, qPrintable(QString::number(dark)));
    // The right and bottom edges of the wider box are the picture's frame, not an unpainted strip.
    QVERIFY(qGray(shot.pixel(380, 90)) < 230);
    QVERIFY(qGray(shot.pixel(200, 180)) < 230);
    QVERIFY(qGray(shot.pixel(200, 100)) > 240);
}

QTEST_MAIN(TestBoxDialog)
#include "test_box_dialog.moc"
