// A contact sheet of every skin picture, with its number, for checking the skin by eye.
#include <QPainter>
#include <QWidget>

#include <memory>
#include <vector>

#include "shot_registry.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"

namespace {

namespace pic = krevol::picture;

class SkinSheet : public QWidget {
  public:
    SkinSheet(std::vector<int> ids, int zoom, int width, const QColor& backdrop)
        : ids_(std::move(ids)), zoom_(zoom), backdrop_(backdrop) {
        int x = kGap, y = kGap, rowHeight = 0;
        for (int id : ids_) {
            QImage image;
            if (!krevol::loadPngResource(image, id))
                image = QImage(16, 16, QImage::Format_ARGB32_Premultiplied);
            const QSize size = image.size() * zoom_;
            if (x + size.width() > width && x > kGap) {
                x = kGap;
                y += rowHeight + kLabel + kGap;
                rowHeight = 0;
            }
            items_.push_back({id, image, QRect(QPoint(x, y), size)});
            x += std::max(size.width(), 40) + kGap;
            rowHeight = std::max(rowHeight, size.height());
        }
        setFixedSize(width, y + rowHeight + kLabel + kGap);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), backdrop_);
        p.setFont(krevol::createUiFont(12, 400));
        for (const Item& item : items_) {
            p.drawImage(item.rect, item.image);
            p.setPen(QColor(60, 60, 60));
            p.drawText(
                QRect(item.rect.left(), item.rect.bottom() + 2, 200, kLabel), Qt::AlignLeft | Qt::AlignTop,
                QStringLiteral("%1 (%2x%3)").arg(item.id).arg(item.image.width()).arg(item.image.height()));
        }
    }

  private:
    static constexpr int kGap = 16;
    static constexpr int kLabel = 16;
    struct Item {
        int id;
        QImage image;
        QRect rect;
    };
    std::vector<int> ids_;
    int zoom_;
    QColor backdrop_;
    std::vector<Item> items_;
};

const std::vector<int> kLarge = {pic::kBoxBackground,      pic::kSignInBackground,     pic::kDeviceTool,
                                 pic::kInformationPicture, pic::kNotificationsPicture, pic::kMainBackground};
const std::vector<int> kSmall = {pic::kBoxClose,           pic::kBoxNoButton,     pic::kBoxYesButton,
                                 pic::kBoxInformationIcon, pic::kSignInClose,     pic::kSignInLanguageArrow,
                                 pic::kTickBoxTicked,      pic::kTickBoxUnticked, pic::kProgramIcon,
                                 pic::kTabUnderline,       pic::kSubTabUnderline, pic::kScrollThumb};
const std::vector<int> kOnBlue = {pic::kIconAccount, pic::kIconSettings, pic::kIconNotifications,
                                  pic::kIconClose};
const std::vector<int> kWide = {pic::kSignInInputFrame, pic::kSignInLanguagePanel, pic::kSignInActionButton,
                                pic::kPrimaryButton,    pic::kSecondaryButton,     pic::kAccountPopup,
                                pic::kScrollTrack,      pic::kSettingsRow};

const bool registered =
    krevol::shots::registerShot(
        {"skin_sheet_large",
         [] { return std::make_unique<SkinSheet>(kLarge, 1, 1660, QColor(226, 229, 233)); },
         {},
         false}) &&
    krevol::shots::registerShot(
        {"skin_sheet_small",
         [] { return std::make_unique<SkinSheet>(kSmall, 4, 1200, QColor(226, 229, 233)); },
         {},
         false}) &&
    krevol::shots::registerShot(
        {"skin_sheet_header_icons",
         [] { return std::make_unique<SkinSheet>(kOnBlue, 4, 560, QColor(45, 143, 193)); },
         {},
         false}) &&
    krevol::shots::registerShot(
        {"skin_sheet_wide",
         [] { return std::make_unique<SkinSheet>(kWide, 1, 1000, QColor(243, 245, 248)); },
         {},
         false});

}  // namespace
