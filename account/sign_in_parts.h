// Pieces shared by the sign-in window's source files: its layout, colours and small helpers.
// Private to account/.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

#include "ui/frameless_window.h"

namespace krevol::sign_in {

// Colours of the window.
inline const QColor kTitleColor(0, 0, 0);
inline const QColor& kLinkColor = colour::kLink;
inline const QColor& kLanguageLabelColor = colour::kLabelGrey;
inline const QColor& kPlaceholderColor = colour::kPlaceholderGrey;
inline const QColor& kTypedColor = colour::kTextDark;
inline const QColor& kListTextColor = colour::kTextDark;
inline const QColor kPanelFrameColor(205, 212, 220);

// Positions in the client area.
constexpr QRect kLanguageArrowRect(30, 23, 14, 8);
constexpr QRect kLanguageLabelRect(52, 18, 100, 18);
constexpr QRect kLanguageListRect(42, 40, 100, 50);
constexpr QRect kLanguagePanelRect(29, 25, 126, 79);
constexpr QRect kCloseRect(253, 13, 22, 22);
constexpr QRect kTitleRect(30, 137, 300, 36);
constexpr QRect kRecoveryTitleRect(30, 137, 270, 32);
constexpr QRect kSwitchLinkRect(30, 173, 149, 18);
constexpr QRect kField1Rect(42, 205, 227, 24);
constexpr QRect kField1FrameRect(30, 195, 241, 36);
constexpr QRect kField2Rect(42, 253, 227, 24);
constexpr QRect kField2FrameRect(30, 243, 241, 36);
constexpr QRect kActionRect(30, 291, 241, 36);
constexpr QRect kForgotLinkRect(30, 335, 300, 15);
constexpr int kLanguageEntryHeight = 25;
constexpr int kTitleFitWidth = 241;
// The drop-down part of the language panel starts below the language label.
constexpr int kLanguagePanelDropTop = 37;
constexpr int kInstallerWatchMs = 100;

// The catalogue text with this id.
QString text(int id);
// A picture of the skin (null when it cannot be loaded).
QImage picture(int id);

}  // namespace krevol::sign_in
