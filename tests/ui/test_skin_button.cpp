// The skin button's look when it cannot be clicked.
#include <QImage>
#include <QWidget>
#include <QtTest>

#include "ui/skin_button.h"

using namespace krevol;

class TestSkinButton : public QObject {
    Q_OBJECT
  private slots:
    void onlyAButtonDisabledItselfLooksFaded();
};

void TestSkinButton::onlyAButtonDisabledItselfLooksFaded() {
    QWidget window;
    window.resize(200, 60);
    window.setStyleSheet(QStringLiteral("background: white"));
    window.setAutoFillBackground(true);
    auto* button = new CSkinButton(&window);
    QImage picture(160, 36, QImage::Format_ARGB32_Premultiplied);
    picture.fill(QColor(20, 110, 170));
    button->setPicture(picture);
    button->setText(QStringLiteral("Format Device"));
    button->setGeometry(20, 12, 160, 36);

    const auto look = [&] { return window.grab(button->geometry()).toImage(); };
    // A corner of the picture, away from the caption.
    const auto cornerOf = [](const QImage& image) { return QColor(image.pixel(3, 3)); };

    const QImage enabled = look();
    QCOMPARE(cornerOf(enabled), QColor(20, 110, 170));

    // The window disabled (a message box is up): the button looks as before.
    window.setEnabled(false);
    QCOMPARE(look(), enabled);
    window.setEnabled(true);

    // The button disabled: its picture is half see-through over the white page.
    button->setEnabled(false);
    const QColor faded = cornerOf(look());
    QVERIFY2(faded.red() > 100 && faded.green() > 150 && faded.blue() > 190,
             qPrintable(faded.name()));

    button->setEnabled(true);
    QCOMPARE(look(), enabled);
}

QTEST_MAIN(TestSkinButton)
#include "test_skin_button.moc"
