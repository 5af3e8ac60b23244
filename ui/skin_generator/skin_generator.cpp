// Draws every picture of the skin and writes it as "<dir>/png/<number>.png", plus the resource
// list "<dir>/krevol_skin.qrc" that makes each picture the resource ":/png/<number>.png".
//
//   krevol_skin_generator OUTPUT_DIR
//
// The pictures are plain vector drawings (no text, no fonts), so the output is the same on
// every machine and every run. Numbers and sizes are listed in ui/picture_ids.h.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>
#include <QTextStream>

#include <cstdio>
#include <vector>

#include "ui/picture_ids.h"
#include "ui/skin_generator/skin_pictures.h"

namespace {

namespace pic = krevol::picture;
using namespace krevol::skin_art;

struct Picture {
    int id;
    QImage (*draw)();
};

const std::vector<Picture>& pictures() {
    static const std::vector<Picture> list = {
        {pic::kBoxBackground, boxBackground},
        {pic::kBoxClose, boxClose},
        {pic::kBoxNoButton, boxNoButton},
        {pic::kBoxYesButton, boxYesButton},
        {pic::kBoxInformationIcon, infoIcon},
        {pic::kSignInBackground, signInBackground},
        {pic::kSignInClose, signInClose},
        {pic::kSignInLanguageArrow, languageArrow},
        {pic::kSignInInputFrame, inputFrame},
        {pic::kSignInLanguagePanel, languagePanel},
        {pic::kSignInActionButton, actionButton},
        {pic::kMainBackground, mainBackground},
        {pic::kTabUnderline, tabUnderline},
        {pic::kSubTabUnderline, subTabUnderline},
        {pic::kIconAccount, iconAccount},
        {pic::kIconSettings, iconSettings},
        {pic::kIconNotifications, iconNotifications},
        {pic::kIconClose, iconClose},
        {pic::kDeviceTool, deviceTool},
        {pic::kTickBoxTicked, tickedBox},
        {pic::kTickBoxUnticked, untickedBox},
        {pic::kScrollThumb, scrollThumb},
        {pic::kScrollTrack, scrollTrack},
        {pic::kPrimaryButton, primaryButton},
        {pic::kSecondaryButton, secondaryButton},
        {pic::kSettingsRow, settingsRow},
        {pic::kInformationPicture, informationPicture},
        {pic::kNotificationsPicture, notificationsPicture},
        {pic::kProgramIcon, programIcon},
        {pic::kAccountPopup, accountPopup},
    };
    return list;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    QDir dir(outDir);
    if (!dir.mkpath(QStringLiteral("png"))) {
        std::fprintf(stderr, "cannot create %s/png\n", argv[1]);
        return 1;
    }
    QString qrc;
    QTextStream list(&qrc);
    list << "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/png\">\n";
    for (const Picture& picture : pictures()) {
        const QString name = QString::number(picture.id) + QStringLiteral(".png");
        const QImage image = picture.draw();
        if (!image.save(dir.filePath(QStringLiteral("png/") + name), "PNG")) {
            std::fprintf(stderr, "cannot write picture %d\n", picture.id);
            return 1;
        }
        list << "  <file alias=\"" << name << "\">png/" << name << "</file>\n";
    }
    list << "</qresource>\n</RCC>\n";
    list.flush();
    const QString qrcPath = dir.filePath(QStringLiteral("krevol_skin.qrc"));
    QFile out(qrcPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(qrc.toUtf8()) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(qrcPath));
        return 1;
    }
    return 0;
}
