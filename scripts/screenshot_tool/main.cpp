// krevol-screenshots OUTPUT_DIR [--only TEXT] [--lang en|zh]
//
// Renders the program's windows off screen (QT_QPA_PLATFORM=offscreen) to PNG files under
// OUTPUT_DIR, in English and in Chinese. --only keeps the shots whose name contains TEXT.
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QToolTip>

#include <algorithm>
#include <cstdio>

#include "app/messages.h"
#include "shot_registry.h"
#include "ui/skin.h"

namespace {

struct Language {
    int id;
    const char* tag;
};
constexpr Language kLanguages[] = {{krevol::kLanguageEnglish, "en"}, {krevol::kLanguageChinese, "zh"}};

int usage(const char* program) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR [--only TEXT] [--lang en|zh]\n", program);
    return 2;
}

// Menus and tooltips that the shot opened are windows of their own: they are drawn onto the
// window's picture where they stand, and closed.
void addPopups(QPixmap& picture, const QWidget& window) {
    QPainter painter(&picture);
    const QPoint origin = window.mapToGlobal(QPoint(0, 0));
    for (QWidget* top : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = top->windowType();
        if (top == &window || !top->isVisible() || (type != Qt::Popup && type != Qt::ToolTip)) continue;
        painter.drawPixmap(top->mapToGlobal(QPoint(0, 0)) - origin, top->grab());
    }
    painter.end();
    QToolTip::hideText();
    while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
}

}  // namespace

int main(int argc, char* argv[]) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) return usage(argv[0]);
    QString outDir;
    QString only;
    QString onlyLanguage;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--only") && i + 1 < args.size()) {
            only = args[++i];
        } else if (args[i] == QLatin1String("--lang") && i + 1 < args.size()) {
            onlyLanguage = args[++i];
        } else if (outDir.isEmpty() && !args[i].startsWith(QLatin1String("--"))) {
            outDir = args[i];
        } else {
            return usage(argv[0]);
        }
    }
    if (outDir.isEmpty()) return usage(argv[0]);
    QDir dir(outDir);
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(outDir));
        return 1;
    }

    krevol::installEmbeddedFont();

    int written = 0;
    int failed = 0;
    for (const Language& language : kLanguages) {
        if (!onlyLanguage.isEmpty() && onlyLanguage != QLatin1String(language.tag)) continue;
        krevol::setUiLanguage(language.id);
        for (const krevol::shots::Shot& shot : krevol::shots::registeredShots()) {
            if (!only.isEmpty() && !shot.name.contains(only)) continue;
            const bool firstLanguage = language.id == kLanguages[0].id || !onlyLanguage.isEmpty();
            if (!shot.perLanguage && !firstLanguage) continue;
            std::unique_ptr<QWidget> window = shot.make();
            if (!window) {
                std::fprintf(stderr, "%s: no window\n", qPrintable(shot.name));
                ++failed;
                continue;
            }
            window->show();
            krevol::shots::settle();
            if (shot.prepare) {
                shot.prepare(*window);
                krevol::shots::settle();
            }
            QPixmap picture = window->grab();
            addPopups(picture, *window);
            const QString file = shot.perLanguage
                                     ? QStringLiteral("%1_%2.png").arg(shot.name, QLatin1String(language.tag))
                                     : shot.name + QStringLiteral(".png");
            if (!picture.save(dir.filePath(file), "PNG")) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(dir.filePath(file)));
                ++failed;
            } else {
                std::printf("%s\n", qPrintable(dir.filePath(file)));
                ++written;
            }
            window->hide();
        }
    }
    std::printf("%d picture(s) written\n", written);
    return failed == 0 && written > 0 ? 0 : 1;
}
