// The pictures of the main window: background, header icons, bars, buttons, tick boxes and rows.
#include "ui/skin_generator/skin_pictures.h"

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <functional>

#include "ui/picture_ids.h"

namespace krevol::skin_art {

namespace {

namespace pic = krevol::picture;

QImage barPicture(int w, int h, const QColor& c) {
    QImage img = blank(w, h);
    QPainter p(&img);
    antialias(p);
    fillRounded(p, QRectF(0, 0, w, h), std::min(w, h) / 2.0, c);
    return img;
}

QImage headerIcon(const std::function<void(QPainter&)>& draw) {
    QImage img = blank(24, 24);
    QPainter p(&img);
    antialias(p);
    p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    draw(p);
    return img;
}

QImage tickBox(bool ticked) {
    QImage img = blank(16, 16);
    QPainter p(&img);
    antialias(p);
    if (ticked) {
        fillRounded(p, QRectF(0.5, 0.5, 15, 15), 3.5, kAccent);
        QPen pen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        QPolygonF mark;
        mark << QPointF(4.0, 8.3) << QPointF(6.9, 11.0) << QPointF(12.0, 5.2);
        p.drawPolyline(mark);
    } else {
        fillRounded(p, QRectF(0.5, 0.5, 15, 15), 3.5, Qt::white);
        strokeRounded(p, QRectF(1.0, 1.0, 14, 14), 3, QColor(170, 178, 189), 1.2);
    }
    return img;
}

}  // namespace

// ---- Main window -------------------------------------------------------------------------

QImage mainBackground() {
    QImage img = blank(960, 640);
    QPainter p(&img);
    antialias(p);
    p.fillRect(img.rect(), kBody);
    // Header strip.
    const QRect header(0, 0, 960, pic::kMainHeaderHeight);
    QLinearGradient hg(0, 0, 960, 0);
    hg.setColorAt(0.0, kAccentDark);
    hg.setColorAt(0.6, kAccent);
    hg.setColorAt(1.0, QColor(58, 158, 208));
    p.fillRect(header, hg);
    p.save();
    p.setClipRect(header);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 14));
    p.drawEllipse(QPointF(820, -40), 150, 150);
    p.setBrush(QColor(255, 255, 255, 10));
    p.drawEllipse(QPointF(700, 90), 80, 80);
    p.setBrush(QColor(0, 0, 0, 14));
    p.drawEllipse(QPointF(-30, 80), 110, 110);
    p.restore();
    p.fillRect(QRect(0, pic::kMainHeaderHeight, 960, 1), QColor(28, 100, 140));
    // Emblem at the left of the header.
    drawEmblem(p, QRectF(pic::kMainEmblemRect));
    // Content card with a soft shadow.
    const QRectF card(pic::kMainCardRect);
    softShadow(p, card, 8, 5, 30, 1.5);
    fillRounded(p, card, 8, Qt::white);
    strokeRounded(p, card.adjusted(0.5, 0.5, -0.5, -0.5), 8, kBorderSoft);
    // Hairline frame of the body.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(kBorder);
    p.drawLine(0, pic::kMainHeaderHeight, 0, 639);
    p.drawLine(959, pic::kMainHeaderHeight, 959, 639);
    p.drawLine(0, 639, 959, 639);
    return img;
}

QImage iconAccount() {
    return headerIcon([](QPainter& p) {
        p.drawEllipse(QPointF(12, 8.5), 4.2, 4.2);
        QPainterPath body;
        body.moveTo(4.2, 20.5);
        body.cubicTo(4.8, 15.6, 8.0, 13.9, 12, 13.9);
        body.cubicTo(16.0, 13.9, 19.2, 15.6, 19.8, 20.5);
        p.drawPath(body);
    });
}

QImage iconSettings() {
    return headerIcon([](QPainter& p) {
        // A gear: eight teeth around a ring.
        QPainterPath gear;
        const int teeth = 8;
        const qreal outer = 9.6, inner = 7.4;
        for (int i = 0; i < teeth * 4; ++i) {
            const qreal a = (i - 1.5) * M_PI * 2 / (teeth * 4);
            const qreal rr = (i % 4 == 0 || i % 4 == 1) ? outer : inner;
            const QPointF pt(12 + rr * std::cos(a), 12 + rr * std::sin(a));
            if (i == 0)
                gear.moveTo(pt);
            else
                gear.lineTo(pt);
        }
        gear.closeSubpath();
        p.drawPath(gear);
        p.drawEllipse(QPointF(12, 12), 3.0, 3.0);
    });
}

QImage iconNotifications() {
    return headerIcon([](QPainter& p) {
        QPainterPath bell;
        bell.moveTo(5.0, 17.5);
        bell.lineTo(19.0, 17.5);
        bell.cubicTo(17.4, 16.0, 17.2, 14.5, 17.2, 11.0);
        bell.cubicTo(17.2, 7.6, 15.0, 5.0, 12.0, 5.0);
        bell.cubicTo(9.0, 5.0, 6.8, 7.6, 6.8, 11.0);
        bell.cubicTo(6.8, 14.5, 6.6, 16.0, 5.0, 17.5);
        bell.closeSubpath();
        p.drawPath(bell);
        p.drawLine(QPointF(12, 3.2), QPointF(12, 5.0));
        QPainterPath clapper;
        clapper.moveTo(9.8, 19.6);
        clapper.cubicTo(10.3, 21.0, 13.7, 21.0, 14.2, 19.6);
        p.drawPath(clapper);
    });
}

QImage iconClose() {
    return headerIcon([](QPainter& p) {
        p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6.5, 6.5), QPointF(17.5, 17.5));
        p.drawLine(QPointF(17.5, 6.5), QPointF(6.5, 17.5));
    });
}

QImage settingsRow() {
    QImage img = blank(pic::kSettingsRowSize.width(), pic::kSettingsRowSize.height());
    QPainter p(&img);
    const int w = img.width(), h = img.height();
    p.fillRect(img.rect(), Qt::white);
    p.fillRect(QRect(0, h - 1, w, 1), kBorderSoft);
    // A small accent mark in front of the row's label.
    antialias(p);
    fillRounded(p, QRectF(16, h / 2.0 - 9, 3, 18), 1.5, kAccent);
    return img;
}

QImage accountPopup() {
    QImage img = blank(pic::kAccountPopupSize.width(), pic::kAccountPopupSize.height());
    QPainter p(&img);
    antialias(p);
    const QRectF bubble(4.5, 10.5, img.width() - 9.0, img.height() - 16.0);
    QPainterPath shape;
    shape.addRoundedRect(bubble, 6, 6);
    QPolygonF pointer;
    const qreal px = img.width() - 28.0;
    pointer << QPointF(px - 7, 11) << QPointF(px, 3.5) << QPointF(px + 7, 11);
    QPainterPath tip;
    tip.addPolygon(pointer);
    shape = shape.united(tip);
    softShadow(p, bubble, 6, 4, 40, 1.5);
    p.setPen(QPen(kBorder, 1.0));
    p.setBrush(Qt::white);
    p.drawPath(shape.simplified());
    return img;
}

QImage programIcon() {
    QImage img = blank(64, 64);
    QPainter p(&img);
    antialias(p);
    drawEmblem(p, QRectF(2, 2, 60, 60));
    return img;
}

QImage tabUnderline() {
    return barPicture(pic::kTabUnderlineSize.width(), pic::kTabUnderlineSize.height(), Qt::white);
}
QImage subTabUnderline() {
    return barPicture(pic::kSubTabUnderlineSize.width(), pic::kSubTabUnderlineSize.height(), kAccent);
}
QImage scrollThumb() {
    return barPicture(pic::kScrollThumbSize.width(), pic::kScrollThumbSize.height(), QColor(184, 192, 202));
}
QImage scrollTrack() {
    return barPicture(pic::kScrollTrackSize.width(), pic::kScrollTrackSize.height(), QColor(233, 236, 240));
}
QImage primaryButton() {
    return flatButton(pic::kPageButtonSize.width(), pic::kPageButtonSize.height(), QColor(56, 154, 204),
                      QColor(38, 130, 178), 5);
}
QImage secondaryButton() {
    QImage img = blank(pic::kPageButtonSize.width(), pic::kPageButtonSize.height());
    QPainter p(&img);
    antialias(p);
    const QRectF r(0.5, 0.5, img.width() - 1.0, img.height() - 1.0);
    fillRounded(p, r, 5, Qt::white);
    strokeRounded(p, r, 5, kBorder);
    return img;
}
QImage tickedBox() {
    return tickBox(true);
}
QImage untickedBox() {
    return tickBox(false);
}

}  // namespace krevol::skin_art
