// Numbers of the skin's pictures. Each picture is the resource ":/png/<number>.png" (RGBA PNG,
// drawn at build time by ui/skin_generator); load it with krevol::loadPngResource(image, number).
//
// Colours of the skin: accent blue RGB 45,143,193; body grey RGB 243,245,248; hairlines
// RGB 205,212,220 (frames) and 228,232,237 (separators); texts black or RGB 62,62,62.
#pragma once

#include <QRect>
#include <QSize>

namespace krevol::picture {

// Message box (380 x 180).
constexpr int kBoxBackground = 219;       // 380 x 180: white, accent bar on top, footer band from y 132
constexpr int kBoxClose = 220;            // 15 x 15: grey cross
constexpr int kBoxNoButton = 221;         // 68 x 24: grey button, for a white caption
constexpr int kBoxYesButton = 222;        // 68 x 24: blue button ("OK" / "YES"), for a white caption
constexpr int kBoxInformationIcon = 223;  // 33 x 30: blue round "i"

// Sign-in window (300 x 377).
constexpr int kSignInBackground = 164;     // 300 x 377: white, accent bar, emblem centred at 150,86
constexpr int kSignInClose = 184;          // 22 x 22: grey cross
constexpr int kSignInLanguageArrow = 185;  // 14 x 8: grey chevron pointing down
constexpr int kSignInInputFrame = 186;     // 241 x 36: rounded white field with a hairline frame
constexpr int kSignInLanguagePanel = 187;  // 126 x 79: drop-down panel with shadow; a hairline between
                                           // the two 25-pixel entries at panel y 40
constexpr int kSignInActionButton = 216;   // 241 x 36: blue button, for a white caption

// Main window (960 x 640, no caption).
constexpr int kMainBackground = 300;     // 960 x 640: header strip, emblem, white content card
constexpr int kTabUnderline = 301;       // white bar under the current tab of the header (stretch in x)
constexpr int kSubTabUnderline = 302;    // accent bar under the current sub-tab on the card (stretch in x)
constexpr int kIconAccount = 303;        // 24 x 24, white line icon for the blue header
constexpr int kIconSettings = 304;       // 24 x 24, white gear
constexpr int kIconNotifications = 305;  // 24 x 24, white bell
constexpr int kIconClose = 306;          // 24 x 24, white cross
constexpr int kDeviceTool = 307;         // 200 x 260: the hand-held tool for the device panel
constexpr int kTickBoxTicked = 308;      // 16 x 16
constexpr int kTickBoxUnticked = 309;    // 16 x 16
constexpr int kScrollThumb = 310;        // 6 x 60, rounded ends (draw ends unscaled if stretching)
constexpr int kScrollTrack = 311;        // 6 x 360, rounded ends
constexpr int kPrimaryButton = 312;      // 120 x 36: blue ("Upgrade"), for a white caption
constexpr int kSecondaryButton =
    313;                           // 120 x 36: white with a frame ("Cancel"), for an accent or dark caption
constexpr int kSettingsRow = 314;  // 880 x 56: white row, separator at the bottom, accent mark at x 16
constexpr int kInformationPicture = 315;  // 640 x 320: illustration of the Information page (PC and tool)
constexpr int kNotificationsPicture =
    316;                            // 640 x 320: illustration of the Notifications page (bell, all read)
constexpr int kProgramIcon = 317;   // 64 x 64: the program's icon
constexpr int kAccountPopup = 318;  // 240 x 52: pop-up bubble with a pointer up at x 212; text area
                                    // is kAccountPopupTextRect

// Geometry of the main window's background picture.
constexpr int kMainHeaderHeight = 64;             // blue header strip, y 0..63 (dark line at y 64)
constexpr QRect kMainEmblemRect{20, 14, 36, 36};  // the emblem inside the header
constexpr QRect kMainCardRect{20, 84, 920, 520};  // white content card (radius 8)
// Below the card (y 604..639) the body grey is free for the company line.

constexpr QSize kTabUnderlineSize{60, 4};
constexpr QSize kSubTabUnderlineSize{60, 3};
constexpr QSize kScrollThumbSize{6, 60};
constexpr QSize kScrollTrackSize{6, 360};
constexpr QSize kPageButtonSize{120, 36};
constexpr QSize kSettingsRowSize{880, 56};
constexpr QSize kAccountPopupSize{240, 52};
constexpr QRect kAccountPopupTextRect{12, 14, 216, 32};

}  // namespace krevol::picture
