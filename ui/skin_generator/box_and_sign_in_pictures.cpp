// The pictures of the message box and of the sign-in window.
#include "ui/skin_generator/skin_pictures.h"

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRadialGradient>

namespace krevol::skin_art {

// ---- Message box -------------------------------------------------------------------------

QImage boxBackground() {
    QImage img = blank(380, 180);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 180);
    g.setColorAt(0.0, QColor(255, 255, 255));
    g.setColorAt(1.0, QColor(251, 252, 253));
    p.fillRect(img.rect(), g);
    // Footer band behind the buttons.
    p.fillRect(QRect(1, 132, 378, 47), QColor(246, 248, 250));
    p.fillRect(QRect(1, 132, 378, 1), kBorderSoft);
    // Accent bar on top and a hairline frame.
    p.fillRect(QRect(0, 0, 380, 3), kAccent);
    p.setPen(kBorder);
    p.drawRect(QRect(0, 0, 379, 179));
    p.fillRect(QRect(0, 0, 380, 3), kAccent);
    return img;
}

QImage boxClose() {
    QImage img = blank(15, 15);
    QPainter p(&img);
    antialias(p);
    drawCross(p, QRectF(3.5, 3.5, 8, 8), kGreyMark, 1.7);
    return img;
}

QImage boxNoButton() {
    return flatButton(68, 24, QColor(152, 160, 171), kGreyButton, 4);
}
QImage boxYesButton() {
    return flatButton(68, 24, QColor(56, 154, 204), QColor(40, 134, 183), 4);
}

QImage infoIcon() {
    QImage img = blank(33, 30);
    QPainter p(&img);
    antialias(p);
    const QPointF c(16.5, 15.0);
    QLinearGradient g(0, 1, 0, 29);
    g.setColorAt(0.0, kAccentLight);
    g.setColorAt(1.0, kAccent);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(c, 14.0, 14.0);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16.5, 8.6), 2.1, 2.1);
    p.drawRoundedRect(QRectF(14.8, 12.2, 3.4, 10.6), 1.5, 1.5);
    return img;
}

// ---- Sign-in window ----------------------------------------------------------------------

QImage signInBackground() {
    QImage img = blank(300, 377);
    QPainter p(&img);
    antialias(p);
    p.fillRect(img.rect(), Qt::white);
    // A pale wash behind the emblem that fades into the white body.
    QRadialGradient wash(QPointF(150, 86), 150);
    wash.setColorAt(0.0, withAlpha(kAccentPale, 255));
    wash.setColorAt(1.0, withAlpha(kAccentPale, 0));
    p.fillRect(QRect(0, 0, 300, 200), wash);
    // Two decorative rings around the emblem.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(withAlpha(kAccent, 34), 1.2));
    p.drawEllipse(QPointF(150, 86), 46, 46);
    p.setPen(QPen(withAlpha(kAccent, 18), 1.2));
    p.drawEllipse(QPointF(150, 86), 62, 62);
    softShadow(p, QRectF(124, 60, 52, 52), 13, 4, 36, 2);
    drawEmblem(p, QRectF(124, 60, 52, 52));
    // Frame and accent bar.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(kBorder);
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(0, 0, 299, 376));
    p.fillRect(QRect(0, 0, 300, 3), kAccent);
    return img;
}

QImage signInClose() {
    QImage img = blank(22, 22);
    QPainter p(&img);
    antialias(p);
    drawCross(p, QRectF(6.5, 6.5, 9, 9), kGreyMark, 1.8);
    return img;
}

QImage languageArrow() {
    QImage img = blank(14, 8);
    QPainter p(&img);
    antialias(p);
    QPen pen(QColor(128, 135, 145), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPolygonF v;
    v << QPointF(2.5, 2.0) << QPointF(7.0, 6.0) << QPointF(11.5, 2.0);
    p.drawPolyline(v);
    return img;
}

QImage inputFrame() {
    QImage img = blank(241, 36);
    QPainter p(&img);
    antialias(p);
    fillRounded(p, QRectF(0.5, 0.5, 240, 35), 5, QColor(250, 251, 252));
    strokeRounded(p, QRectF(0.5, 0.5, 240, 35), 5, kBorder);
    return img;
}

QImage languagePanel() {
    QImage img = blank(126, 79);
    QPainter p(&img);
    antialias(p);
    const QRectF panel(3.5, 2.5, 119, 72);
    softShadow(p, panel, 6, 3, 40, 1.5);
    fillRounded(p, panel, 6, Qt::white);
    strokeRounded(p, panel, 6, kBorder);
    // A hairline between the two entries (25-pixel rows starting 15 pixels into the panel).
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(13, 40, 100, 1), kBorderSoft);
    return img;
}

QImage actionButton() {
    return flatButton(241, 36, QColor(56, 154, 204), QColor(38, 130, 178), 5);
}

}  // namespace krevol::skin_art
