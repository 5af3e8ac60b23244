// Colours, fixed rectangles and small helpers shared by the main window and its pages.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <string>

#include "app/messages.h"
#include "ui/frameless_window.h"

class QAbstractButton;
class QLabel;
class QWidget;

namespace krevol {
class CSkinButton;
}

namespace krevol::ui_parts {

// The colours that other windows share come from one place.
inline const QColor& kBodyGrey = colour::kBodyGrey;
inline const QColor& kSeparator = colour::kSeparator;
inline const QColor& kTextDark = colour::kTextDark;
inline const QColor& kTextGrey = colour::kTextGrey;
inline const QColor& kAccent = colour::kLink;
inline const QColor& kListText = colour::kTextDark;  // Other Devices rows
inline const QColor kSoftwareText{105, 105, 105};    // software rows

// A display row ("a$b$c$progress") up to and including its last "$", without the progress text; a
// row without "$" has nothing to keep.
inline QString withoutProgress(const QString& row) {
    const qsizetype dollar = row.lastIndexOf(QLatin1Char('$'));
    return dollar >= 0 ? row.left(dollar + 1) : QString();
}

// A catalogue text for a control.
inline QString text(int id) {
    return QString::fromStdString(loadText(id));
}

// Header.
constexpr QRect kProductNameRect{64, 18, 190, 28};
constexpr int kTabTop = 12;
constexpr int kTabHeight = 40;
constexpr int kTabUnderlineY = 56;
constexpr int kIconTop = 20;
constexpr QRect kAccountIconRect{772, kIconTop, 24, 24};
constexpr QRect kSettingsIconRect{816, kIconTop, 24, 24};
constexpr QRect kNotificationsIconRect{860, kIconTop, 24, 24};
constexpr QRect kCloseIconRect{912, kIconTop, 24, 24};

// Page titles start at one left margin; pages 1-4 leave room for the sub-tabs on the right.
constexpr int kTitleX = 48;
constexpr QRect kTitleRectPages1To4{kTitleX, 100, 460, 36};
constexpr QRect kTitleRectPages5To8{kTitleX, 100, 600, 36};

// Sub-tabs (pages 1 and 2), at the top right of the card, each as wide as its caption.
constexpr int kSubTabTop = 102;
constexpr int kSubTabHeight = 30;
constexpr int kSubTabsRight = 912;
constexpr int kSubTabGap = 28;

// Device panel (page 1).
constexpr QRect kToolPictureRect{110, 200, 200, 260};
constexpr QRect kDeviceDetailsRect{380, 200, 520, 380};
constexpr QRect kModelRect{380, 200, 520, 40};
constexpr QRect kSerialLabelRect{380, 248, 110, 24};
constexpr QRect kSerialValueRect{490, 248, 410, 24};
constexpr int kDeviceSeparatorY = 288;
constexpr QRect kFeatureListRect{380, 304, 400, 147};  // seven rows of 21 pixels
constexpr QRect kStatusIconRect{380, 312, 33, 30};
constexpr QRect kStatusTextRect{380, 352, 520, 100};
constexpr QRect kOwnershipLinkRect{380, 460, 120, 36};

// Other Devices (page 2): three columns 120, 178, 108 with 8 pixels between them.
constexpr int kDevicesListX = 255;
constexpr QRect kOtherDevicesListRect{kDevicesListX, 196, 430, 212};  // four rows of 53 pixels
constexpr QRect kOtherDevicesThumbRect{kDevicesListX + 444, 196, 6, 212};
constexpr int kDevicesHeaderY = 160;

// Upgrade page (page 3): 25 pixels, then columns 125, 125, 100, 77 and the rest, 5 pixels apart.
constexpr int kSoftwareListX = 44;
constexpr QRect kSoftwareListRect{kSoftwareListX, 186, 860, 300};  // four rows of 75 pixels
constexpr QRect kSoftwareThumbRect{kSoftwareListX + 872, 186, 6, 300};
constexpr int kSoftwareHeaderY = 150;
constexpr QRect kSelectAllBoxRect{kSoftwareListX, 510, 16, 16};
constexpr QRect kSelectAllCaptionRect{kSoftwareListX + 25, 504, 200, 28};
constexpr QRect kProgressTextRect{kSoftwareListX, 540, 560, 40};
constexpr QRect kOneClickRect{654, 500, 120, 36};
constexpr QRect kCancelRect{786, 500, 120, 36};

// Static pages (4 and 6).
constexpr QRect kStaticPictureRect{160, 176, 640, 320};

// Settings (page 5): six rows of 56 pixels.
constexpr int kSettingsRowX = 40;
constexpr int kSettingsFirstRowY = 156;

// Version and Device Reset (pages 7 and 8): the text and the link under it start at the title's margin.
constexpr QRect kVersionTextRect{kTitleX, 160, 840, 250};
constexpr QRect kActionLinkRect{kTitleX, 430, 160, 36};  // moved under the text when it is set
constexpr int kActionLinkGap = 28;

// Company line, under the card.
constexpr QRect kCompanyLineRect{20, 608, 920, 24};

// Account pop-up: its pointer sits under the account icon.
constexpr int kAccountPopupPointerX = 212;
constexpr int kAccountPopupTop = 48;

// The tool's picture of the device panel: in colour, or faded while no usable tool is shown.
QPixmap toolPixmap(bool faded);

// A picture of the skin by its id (ui/picture_ids.h); null when it cannot be loaded.
QImage skinPicture(int id);

// A text control and a skinned button, named (tests and the screenshot tool find them by name).
QLabel* makeLabel(QWidget* parent, const char* name, const QRect& rect, const QFont& font,
                  const QColor& colour, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
CSkinButton* makeButton(QWidget* parent, const char* name, const QRect& rect, const QImage& image,
                        const QString& caption, const QFont& font, const QColor& captionColour);

// Puts the action link of pages 7 and 8 under their word-wrapped text (kVersionTextRect), whatever
// the text's length, as wide as its caption needs (at least kActionLinkRect's width).
void placeActionLink(const QLabel& text, CSkinButton& link);

// Three dots that pulse in turn while something is being fetched (the tool checked, a list loaded).
class BusyIndicator : public QWidget {
  public:
    explicit BusyIndicator(QWidget* parent);

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QTimer timer_;
    int phase_ = 0;
};

}  // namespace krevol::ui_parts
