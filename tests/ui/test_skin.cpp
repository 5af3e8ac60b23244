// Picture loading, fonts of the skin.
#include <QBuffer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_detail.h"

using namespace krevol;

namespace {

QByteArray pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The stored pixel (b, g, r, a bytes of a 32-bit picture), read without any conversion.
QRgb rawPixel(const QImage& image, int x, int y) {
    return reinterpret_cast<const QRgb*>(image.constScanLine(y))[x];
}

}  // namespace

class TestSkin : public QObject {
    Q_OBJECT
  private slots:
    void premultipliesWithTruncation_data();
    void premultipliesWithTruncation();
    void pictureWithoutAlphaKeepsColours();
    void corruptDataIsRefused_data();
    void corruptDataIsRefused();
    void skinPicturesHaveTheirSizes_data();
    void skinPicturesHaveTheirSizes();
    void buttonPicturesHaveTransparentCorners();
    void missingPictureIsRefused();
    void fontParameters_data();
    void fontParameters();
    void embeddedFontIsInstalledOnce();
    void unreadableFontShowsPlainMessage();
};

void TestSkin::premultipliesWithTruncation_data() {
    QTest::addColumn<QRgb>("stored");    // non-premultiplied colour in the PNG
    QTest::addColumn<QRgb>("expected");  // after loading
    QTest::newRow("transparent ends black") << qRgba(200, 100, 50, 0) << qRgba(0, 0, 0, 0);
    QTest::newRow("opaque keeps its colour") << qRgba(12, 34, 56, 255) << qRgba(12, 34, 56, 255);
    // 51 * 128 / 255 = 25.6 and 200 * 128 / 255 = 100.4: truncated, not rounded.
    QTest::newRow("half alpha") << qRgba(51, 200, 255, 128) << qRgba(25, 100, 128, 128);
    // 1, 2, 3 * 254 / 255 are just below 1, 2, 3.
    QTest::newRow("almost opaque") << qRgba(1, 2, 3, 254) << qRgba(0, 1, 2, 254);
    QTest::newRow("almost transparent") << qRgba(255, 254, 128, 1) << qRgba(1, 0, 0, 1);
}

void TestSkin::premultipliesWithTruncation() {
    QFETCH(QRgb, stored);
    QFETCH(QRgb, expected);
    QImage source(3, 2, QImage::Format_ARGB32);
    source.fill(qRgba(9, 9, 9, 255));
    source.setPixel(1, 1, stored);

    QImage loaded;
    QVERIFY(detail::loadPngResource(loaded, pngOf(source)));
    QCOMPARE(loaded.size(), QSize(3, 2));
    QCOMPARE(loaded.depth(), 32);
    QCOMPARE(loaded.format(), QImage::Format_ARGB32_Premultiplied);
    const QRgb got = rawPixel(loaded, 1, 1);
    QCOMPARE(qRed(got), qRed(expected));
    QCOMPARE(qGreen(got), qGreen(expected));
    QCOMPARE(qBlue(got), qBlue(expected));
    QCOMPARE(qAlpha(got), qAlpha(expected));
    QCOMPARE(rawPixel(loaded, 0, 0), qRgba(9, 9, 9, 255));
}

void TestSkin::pictureWithoutAlphaKeepsColours() {
    QImage source(2, 2, QImage::Format_RGB888);
    source.fill(QColor(250, 128, 3));
    QImage loaded;
    QVERIFY(detail::loadPngResource(loaded, pngOf(source)));
    QCOMPARE(loaded.depth(), 32);
    QCOMPARE(rawPixel(loaded, 1, 1), qRgba(250, 128, 3, 255));
}

void TestSkin::corruptDataIsRefused_data() {
    QImage source(8, 8, QImage::Format_ARGB32);
    source.fill(qRgba(1, 2, 3, 4));
    const QByteArray good = pngOf(source);
    QByteArray flipped = good;
    for (qsizetype i = 16; i < flipped.size(); ++i) flipped[i] = static_cast<char>(~flipped[i]);

    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not a picture") << QByteArray("this is no picture at all");
    QTest::newRow("signature only") << good.left(8);
    QTest::newRow("cut in the middle") << good.left(good.size() / 2);
    QTest::newRow("damaged after the signature") << flipped;
}

void TestSkin::corruptDataIsRefused() {
    QFETCH(QByteArray, bytes);
    QImage picture(5, 5, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    QVERIFY(!detail::loadPngResource(picture, bytes));
    // A refused picture leaves the caller's picture as it was.
    QCOMPARE(picture.size(), QSize(5, 5));
    QCOMPARE(picture.pixel(2, 2), QColor(Qt::red).rgba());
}

void TestSkin::skinPicturesHaveTheirSizes_data() {
    namespace pic = krevol::picture;
    QTest::addColumn<int>("id");
    QTest::addColumn<QSize>("size");
    QTest::newRow("box background") << pic::kBoxBackground << QSize(380, 180);
    QTest::newRow("box close") << pic::kBoxClose << QSize(15, 15);
    QTest::newRow("box NO") << pic::kBoxNoButton << QSize(68, 24);
    QTest::newRow("box OK/YES") << pic::kBoxYesButton << QSize(68, 24);
    QTest::newRow("box icon") << pic::kBoxInformationIcon << QSize(33, 30);
    QTest::newRow("sign-in background") << pic::kSignInBackground << QSize(300, 377);
    QTest::newRow("sign-in close") << pic::kSignInClose << QSize(22, 22);
    QTest::newRow("language arrow") << pic::kSignInLanguageArrow << QSize(14, 8);
    QTest::newRow("input frame") << pic::kSignInInputFrame << QSize(241, 36);
    QTest::newRow("language panel") << pic::kSignInLanguagePanel << QSize(126, 79);
    QTest::newRow("action button") << pic::kSignInActionButton << QSize(241, 36);
    QTest::newRow("main background") << pic::kMainBackground << QSize(960, 640);
    QTest::newRow("tab underline") << pic::kTabUnderline << pic::kTabUnderlineSize;
    QTest::newRow("sub-tab underline") << pic::kSubTabUnderline << pic::kSubTabUnderlineSize;
    QTest::newRow("account icon") << pic::kIconAccount << QSize(24, 24);
    QTest::newRow("settings icon") << pic::kIconSettings << QSize(24, 24);
    QTest::newRow("notifications icon") << pic::kIconNotifications << QSize(24, 24);
    QTest::newRow("close icon") << pic::kIconClose << QSize(24, 24);
    QTest::newRow("tool") << pic::kDeviceTool << QSize(200, 260);
    QTest::newRow("ticked") << pic::kTickBoxTicked << QSize(16, 16);
    QTest::newRow("unticked") << pic::kTickBoxUnticked << QSize(16, 16);
    QTest::newRow("scroll thumb") << pic::kScrollThumb << pic::kScrollThumbSize;
    QTest::newRow("scroll track") << pic::kScrollTrack << pic::kScrollTrackSize;
    QTest::newRow("primary button") << pic::kPrimaryButton << pic::kPageButtonSize;
    QTest::newRow("secondary button") << pic::kSecondaryButton << pic::kPageButtonSize;
    QTest::newRow("settings row") << pic::kSettingsRow << pic::kSettingsRowSize;
    QTest::newRow("information") << pic::kInformationPicture << QSize(640, 320);
    QTest::newRow("notifications") << pic::kNotificationsPicture << QSize(640, 320);
    QTest::newRow("program icon") << pic::kProgramIcon << QSize(64, 64);
    QTest::newRow("account pop-up") << pic::kAccountPopup << pic::kAccountPopupSize;
}

void TestSkin::skinPicturesHaveTheirSizes() {
    QFETCH(int, id);
    QFETCH(QSize, size);
    QImage picture;
    QVERIFY(loadPngResource(picture, id));
    QCOMPARE(picture.size(), size);
    QCOMPARE(picture.format(), QImage::Format_ARGB32_Premultiplied);
}

void TestSkin::buttonPicturesHaveTransparentCorners() {
    // The rounded buttons must blend into whatever lies below them.
    for (int id : {picture::kBoxYesButton, picture::kBoxNoButton, picture::kSignInActionButton}) {
        QImage p;
        QVERIFY(loadPngResource(p, id));
        QCOMPARE(qAlpha(rawPixel(p, 0, 0)), 0);
        QCOMPARE(qAlpha(rawPixel(p, p.width() / 2, p.height() / 2)), 255);
    }
}

void TestSkin::missingPictureIsRefused() {
    QImage picture;
    QVERIFY(!loadPngResource(picture, 9999));
    QVERIFY(!loadPngResource(picture, -1));
    QVERIFY(picture.isNull());
}

void TestSkin::fontParameters_data() {
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("weight");
    QTest::addColumn<bool>("underline");
    QTest::addColumn<int>("qtWeight");
    QTest::newRow("box font") << 15 << 400 << false << int(QFont::Normal);
    QTest::newRow("default weight") << 16 << 0 << false << int(QFont::Normal);
    QTest::newRow("light tab") << 22 << 300 << false << int(QFont::Light);
    QTest::newRow("bold title") << 34 << 700 << false << int(QFont::Bold);
    QTest::newRow("underlined link") << 14 << 400 << true << int(QFont::Normal);
}

void TestSkin::fontParameters() {
    QFETCH(int, height);
    QFETCH(int, weight);
    QFETCH(bool, underline);
    QFETCH(int, qtWeight);
    const QFont font = createUiFont(height, weight, underline);
    QCOMPARE(font.families().value(0), uiFontFamily());
    QCOMPARE(font.pixelSize(), height);
    QCOMPARE(int(font.weight()), qtWeight);
    QCOMPARE(font.underline(), underline);
    QVERIFY(!font.italic());
    QVERIFY(!font.strikeOut());
    QCOMPARE(font.styleHint(), QFont::SansSerif);
}

void TestSkin::embeddedFontIsInstalledOnce() {
    QVERIFY(installEmbeddedFont());
    QVERIFY(QFontDatabase::families().contains(uiFontFamily()));
    QCOMPARE(QFontInfo(createUiFont(15, 400)).family(), uiFontFamily());
    QCOMPARE(QFontInfo(createUiFont(15, 700)).bold(), true);
    // A second call does nothing more (and shows nothing).
    QVERIFY(installEmbeddedFont());
}

void TestSkin::unreadableFontShowsPlainMessage() {
    QString shownText;
    bool plainBox = false;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, [&] {
        // Runs inside the message box's modal loop.
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                poll.stop();
                plainBox = true;
                shownText = box->text();
                box->accept();
                return;
            }
        }
    });
    poll.start();
    QString family = QStringLiteral("untouched");
    QVERIFY(!detail::installFontData(QByteArray("definitely not a font"), &family));
    QVERIFY(plainBox);
    QCOMPARE(shownText, QStringLiteral("Load Font Fail!"));
    QCOMPARE(family, QStringLiteral("untouched"));
}

QTEST_MAIN(TestSkin)
#include "test_skin.moc"
