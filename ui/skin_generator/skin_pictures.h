// The drawing kit of the skin generator: the palette, small painting helpers and every picture
// function, grouped by window in box_and_sign_in_pictures.cpp, main_window_pictures.cpp and
// illustrations.cpp.
#pragma once

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRectF>

namespace krevol::skin_art {

// Palette.
inline const QColor kAccent(45, 143, 193);
inline const QColor kAccentDark(31, 112, 156);
inline const QColor kAccentLight(96, 178, 220);
inline const QColor kAccentPale(229, 242, 250);
inline const QColor kBorder(205, 212, 220);
inline const QColor kBorderSoft(228, 232, 237);
inline const QColor kBody(243, 245, 248);
inline const QColor kGreyButton(140, 149, 160);
inline const QColor kGreyMark(134, 141, 151);
inline const QColor kGraphite(44, 49, 57);

QColor withAlpha(QColor c, int alpha);
QImage blank(int w, int h);
void antialias(QPainter& p);
void fillRounded(QPainter& p, const QRectF& r, qreal radius, const QBrush& brush);
void strokeRounded(QPainter& p, const QRectF& r, qreal radius, const QColor& c, qreal width = 1.0);
// A soft shadow below a rounded rectangle, built from a few widening translucent outlines.
void softShadow(QPainter& p, const QRectF& r, qreal radius, int spread, int strongestAlpha, qreal dy = 1.0);
void drawCross(QPainter& p, const QRectF& r, const QColor& c, qreal width);
// The product emblem: a white key on a blue rounded square (sign-in window, program icon, header).
void drawEmblem(QPainter& p, const QRectF& r);
QImage flatButton(int w, int h, const QColor& top, const QColor& bottom, qreal radius);

// ---- Message box and sign-in window (box_and_sign_in_pictures.cpp) ----
QImage boxBackground();
QImage boxClose();
QImage boxNoButton();
QImage boxYesButton();
QImage infoIcon();
QImage signInBackground();
QImage signInClose();
QImage languageArrow();
QImage inputFrame();
QImage languagePanel();
QImage actionButton();

// ---- Main window (main_window_pictures.cpp) ----
QImage mainBackground();
QImage iconAccount();
QImage iconSettings();
QImage iconNotifications();
QImage iconClose();
QImage settingsRow();
QImage accountPopup();
QImage programIcon();
QImage tabUnderline();
QImage subTabUnderline();
QImage scrollThumb();
QImage scrollTrack();
QImage primaryButton();
QImage secondaryButton();
QImage tickedBox();
QImage untickedBox();

// ---- Illustrations (illustrations.cpp) ----
// The hand-held tool, front view: a graphite body with a colour screen and a keypad.
QImage deviceTool();
// Static illustration of the Information page: the PC and the tool kept in sync.
QImage informationPicture();
// Static illustration of the Notifications page: a calm bell, nothing waiting.
QImage notificationsPicture();

}  // namespace krevol::skin_art
