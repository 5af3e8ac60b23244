#include "ui/skin.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QMessageBox>
#include <QStringList>

#include <mutex>

#include "app/messages.h"
#include "ui/skin_detail.h"

// The resources live in this static library; their registration must be pulled in by hand.
static void registerSkinResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        Q_INIT_RESOURCE(krevol_skin);
        Q_INIT_RESOURCE(krevol_fonts);
    });
}

namespace krevol {

namespace {

// Families tried, in this order, for characters the embedded Latin font does not have
// (Chinese texts): the system's CJK fonts.
const char* const kFallbackFamilies[] = {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Microsoft YaHei",
                                         "SimHei", "PingFang SC"};

bool g_fontInstalled = false;

QFont::Weight qtWeight(int weight) {
    if (weight <= 0) return QFont::Normal;  // "default weight"
    if (weight > 1000) return QFont::Black;
    // The 100-900 scale of the weights is also Qt's scale (300 Light, 400 Normal, 700 Bold).
    return static_cast<QFont::Weight>(weight);
}

}  // namespace

namespace detail {

bool loadPngResource(QImage& picture, const QByteArray& pngBytes) {
    QImage decoded;
    if (pngBytes.isEmpty() || !decoded.loadFromData(pngBytes, "PNG")) return false;
    // Every picture becomes 32 bits per pixel; pictures without alpha get alpha 255, for which
    // the premultiplication below changes nothing.
    QImage image = decoded.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) return false;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb px = line[x];
            const int a = qAlpha(px);
            line[x] = qRgba(qRed(px) * a / 255, qGreen(px) * a / 255, qBlue(px) * a / 255, a);
        }
    }
    image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    picture = std::move(image);
    return true;
}

bool installFontData(const QByteArray& fontBytes, QString* family) {
    const int id = fontBytes.isEmpty() ? -1 : QFontDatabase::addApplicationFontFromData(fontBytes);
    if (id < 0) {
        QMessageBox::warning(nullptr, QString::fromStdString(loadText(102)),
                             QStringLiteral("Load Font Fail!"));
        return false;
    }
    if (family) {
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        *family = families.isEmpty() ? QString() : families.front();
    }
    return true;
}

}  // namespace detail

bool loadPngResource(QImage& picture, int resourceId) {
    registerSkinResources();
    QFile file(QStringLiteral(":/png/%1.png").arg(resourceId));
    if (!file.open(QIODevice::ReadOnly)) return false;
    return detail::loadPngResource(picture, file.readAll());
}

QString uiFontFamily() {
    return QStringLiteral("Liberation Sans");
}

bool installEmbeddedFont() {
    if (g_fontInstalled) return true;
    registerSkinResources();
    QByteArray regular;
    QByteArray bold;
    QFile regularFile(QStringLiteral(":/fonts/LiberationSans-Regular.ttf"));
    if (regularFile.open(QIODevice::ReadOnly)) regular = regularFile.readAll();
    QFile boldFile(QStringLiteral(":/fonts/LiberationSans-Bold.ttf"));
    if (boldFile.open(QIODevice::ReadOnly)) bold = boldFile.readAll();
    // One message at most: the bold face is only tried when the regular one went in.
    g_fontInstalled = detail::installFontData(regular) && detail::installFontData(bold);
    return g_fontInstalled;
}

QFont createUiFont(int pixelHeight, int weight, bool underline) {
    QFont font(uiFontFamily());
    QStringList families{uiFontFamily()};
    for (const char* f : kFallbackFamilies) families << QString::fromLatin1(f);
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif, QFont::PreferAntialias);
    if (pixelHeight > 0) font.setPixelSize(pixelHeight);
    font.setWeight(qtWeight(weight));
    font.setItalic(false);
    font.setUnderline(underline);
    font.setStrikeOut(false);
    return font;
}

}  // namespace krevol
