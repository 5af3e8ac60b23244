// Draws every picture of the skin and writes it as "<dir>/png/<number>.png", plus the resource
// list "<dir>/krevol_skin.qrc" that makes each picture the resource ":/png/<number>.png".
//
//   krevol_skin_generator OUTPUT_DIR
//
// The pictures are plain vector drawings (no text, no fonts), so the output is the same on
// every machine and every run. Numbers and sizes are listed in ui/picture_ids.h.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRadialGradient>
#include <QString>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "ui/picture_ids.h"

namespace {

namespace pic = krevol::picture;

// Palette.
const QColor kAccent(45, 143, 193);
const QColor kAccentDark(31, 112, 156);
const QColor kAccentLight(96, 178, 220);
const QColor kAccentPale(229, 242, 250);
const QColor kBorder(205, 212, 220);
const QColor kBorderSoft(228, 232, 237);
const QColor kBody(243, 245, 248);
const QColor kGreyButton(140, 149, 160);
const QColor kGreyMark(134, 141, 151);
const QColor kGraphite(44, 49, 57);

QColor withAlpha(QColor c, int alpha) {
    c.setAlpha(alpha);
    return c;
}

QImage blank(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

void antialias(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
}

void fillRounded(QPainter& p, const QRectF& r, qreal radius, const QBrush& brush) {
    p.setPen(Qt::NoPen);
    p.setBrush(brush);
    p.drawRoundedRect(r, radius, radius);
}

void strokeRounded(QPainter& p, const QRectF& r, qreal radius, const QColor& c, qreal width = 1.0) {
    p.setPen(QPen(c, width));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r, radius, radius);
}

// A soft shadow below a rounded rectangle, built from a few widening translucent outlines.
void softShadow(QPainter& p, const QRectF& r, qreal radius, int spread, int strongestAlpha, qreal dy = 1.0) {
    p.setBrush(Qt::NoBrush);
    for (int i = spread; i >= 1; --i) {
        const int alpha = strongestAlpha * (spread - i + 1) / (spread * spread);
        p.setPen(QPen(QColor(20, 40, 60, alpha), 2.0 * i));
        p.drawRoundedRect(r.translated(0, dy), radius, radius);
    }
}

void drawCross(QPainter& p, const QRectF& r, const QColor& c, qreal width) {
    QPen pen(c, width, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
}

// The product emblem: a white key on a blue rounded square (sign-in window, program icon, header).
void drawEmblem(QPainter& p, const QRectF& r) {
    const qreal s = r.width();
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0.0, kAccentLight);
    g.setColorAt(0.55, kAccent);
    g.setColorAt(1.0, kAccentDark);
    fillRounded(p, r, s * 0.24, g);
    // A faint gloss on the upper half.
    QPainterPath gloss;
    gloss.addRoundedRect(r, s * 0.24, s * 0.24);
    QPainterPath upper;
    upper.addEllipse(QRectF(r.left() - s * 0.3, r.top() - s * 0.75, s * 1.6, s * 1.2));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 28));
    p.drawPath(gloss.intersected(upper));

    p.save();
    p.translate(r.center());
    p.rotate(-40);
    const qreal u = s / 100.0;
    const QColor white(255, 255, 255);
    // Bow of the key: a ring.
    p.setPen(QPen(white, 10 * u));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(-19 * u, 0), 14 * u, 14 * u);
    // Blade with a bit of two teeth at its end.
    QPainterPath blade;
    blade.setFillRule(Qt::WindingFill);
    blade.addRect(QRectF(-6 * u, -5 * u, 46 * u, 10 * u));
    blade.addRect(QRectF(21 * u, 0, 8 * u, 15 * u));
    blade.addRect(QRectF(34 * u, 0, 6 * u, 11 * u));
    p.setPen(Qt::NoPen);
    p.setBrush(white);
    p.drawPath(blade.simplified());
    p.restore();
}

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

QImage flatButton(int w, int h, const QColor& top, const QColor& bottom, qreal radius) {
    QImage img = blank(w, h);
    QPainter p(&img);
    antialias(p);
    // A one-pixel darker lip at the bottom gives the button a little depth.
    fillRounded(p, QRectF(0, 0, w, h), radius, bottom.darker(118));
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0.0, top);
    g.setColorAt(1.0, bottom);
    fillRounded(p, QRectF(0, 0, w, h - 1), radius, g);
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

// The hand-held tool, front view: a graphite body with a colour screen and a keypad.
QImage deviceTool() {
    QImage img = blank(200, 260);
    QPainter p(&img);
    antialias(p);
    // Shadow on the ground.
    QRadialGradient ground(QPointF(100, 248), 80);
    ground.setColorAt(0.0, QColor(20, 40, 60, 70));
    ground.setColorAt(1.0, QColor(20, 40, 60, 0));
    p.save();
    p.translate(100, 248);
    p.scale(1.0, 0.14);
    p.translate(-100, -248);
    p.setPen(Qt::NoPen);
    p.setBrush(ground);
    p.drawEllipse(QPointF(100, 248), 80, 80);
    p.restore();

    // Connector on top.
    fillRounded(p, QRectF(78, 4, 44, 16), 4, QColor(70, 76, 86));
    fillRounded(p, QRectF(86, 0, 28, 8), 3, QColor(150, 158, 168));

    // Body.
    const QRectF body(34, 12, 132, 232);
    QLinearGradient bg(body.topLeft(), body.topRight());
    bg.setColorAt(0.0, QColor(36, 40, 47));
    bg.setColorAt(0.18, QColor(62, 69, 80));
    bg.setColorAt(0.82, QColor(56, 62, 72));
    bg.setColorAt(1.0, QColor(30, 34, 40));
    fillRounded(p, body, 24, bg);
    strokeRounded(p, body.adjusted(1, 1, -1, -1), 23, QColor(255, 255, 255, 30), 1.2);
    // Accent grips on both sides.
    fillRounded(p, QRectF(34, 140, 5, 70), 2.5, kAccent);
    fillRounded(p, QRectF(161, 140, 5, 70), 2.5, kAccent);

    // Screen with a small home view of tiles.
    fillRounded(p, QRectF(46, 28, 108, 98), 9, QColor(14, 16, 20));
    const QRectF screen(51, 33, 98, 88);
    QLinearGradient sg(screen.topLeft(), screen.bottomRight());
    sg.setColorAt(0.0, QColor(64, 168, 218));
    sg.setColorAt(1.0, QColor(26, 96, 140));
    fillRounded(p, screen, 5, sg);
    p.fillRect(QRectF(51, 33, 98, 10), QColor(0, 0, 0, 40));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(57, 38), 1.8, 1.8);
    p.drawRoundedRect(QRectF(130, 36, 14, 4), 1, 1);
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 3; ++col) {
            const QRectF tile(56 + col * 30, 50 + row * 34, 26, 28);
            const bool lit = row == 0 && col == 0;
            fillRounded(p, tile, 4, lit ? QColor(255, 255, 255, 230) : QColor(255, 255, 255, 56));
            p.setBrush(lit ? kAccent : QColor(255, 255, 255, 170));
            p.drawEllipse(tile.center() - QPointF(0, 3), 5, 5);
            p.drawRoundedRect(QRectF(tile.center().x() - 7, tile.bottom() - 7, 14, 2.5), 1, 1);
        }
    }
    // Glass reflection.
    QPainterPath glass;
    glass.moveTo(51, 33);
    glass.lineTo(110, 33);
    glass.lineTo(70, 121);
    glass.lineTo(51, 121);
    glass.closeSubpath();
    QPainterPath screenPath;
    screenPath.addRoundedRect(screen, 5, 5);
    p.setBrush(QColor(255, 255, 255, 20));
    p.drawPath(glass.intersected(screenPath));

    // Navigation pad.
    const QPointF pad(100, 176);
    QRadialGradient pg(pad - QPointF(6, 8), 34);
    pg.setColorAt(0.0, QColor(84, 92, 104));
    pg.setColorAt(1.0, QColor(44, 49, 57));
    p.setBrush(pg);
    p.setPen(QPen(QColor(20, 22, 26), 1.5));
    p.drawEllipse(pad, 27, 27);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 206, 214, 160));
    for (int i = 0; i < 4; ++i) {
        p.save();
        p.translate(pad);
        p.rotate(90.0 * i);
        QPolygonF tri;
        tri << QPointF(-4, -16) << QPointF(4, -16) << QPointF(0, -21);
        p.drawPolygon(tri);
        p.restore();
    }
    QLinearGradient ok(pad - QPointF(0, 10), pad + QPointF(0, 10));
    ok.setColorAt(0.0, kAccentLight);
    ok.setColorAt(1.0, kAccentDark);
    p.setBrush(ok);
    p.drawEllipse(pad, 10, 10);
    // Function keys.
    for (const qreal x : {50.0, 128.0}) {
        fillRounded(p, QRectF(x, 144, 22, 9), 4.5, QColor(82, 90, 102));
    }
    for (const qreal x : {50.0, 128.0}) {
        fillRounded(p, QRectF(x, 198, 22, 9), 4.5, QColor(82, 90, 102));
    }
    // Speaker slots.
    for (int i = 0; i < 4; ++i) fillRounded(p, QRectF(82 + i * 10, 222, 6, 2.5), 1.2, QColor(20, 22, 26));
    // Power light.
    p.setBrush(QColor(96, 214, 130));
    p.drawEllipse(QPointF(100, 132.5), 2.0, 2.0);
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

// Static illustration of the Information page: the PC and the tool kept in sync.
QImage informationPicture() {
    QImage img = blank(640, 320);
    QPainter p(&img);
    antialias(p);
    // Soft backdrop.
    p.setPen(Qt::NoPen);
    p.setBrush(kAccentPale);
    p.drawEllipse(QPointF(320, 170), 250, 140);
    p.setBrush(QColor(240, 247, 252));
    p.drawEllipse(QPointF(500, 80), 60, 60);
    p.drawEllipse(QPointF(130, 260), 45, 45);
    // Laptop.
    const QRectF lid(120, 80, 190, 124);
    fillRounded(p, lid, 10, kGraphite);
    QLinearGradient scr(0, 92, 0, 192);
    scr.setColorAt(0.0, QColor(255, 255, 255));
    scr.setColorAt(1.0, QColor(236, 242, 247));
    fillRounded(p, QRectF(130, 90, 170, 104), 4, scr);
    fillRounded(p, QRectF(130, 90, 170, 16), 4, kAccent);
    p.fillRect(QRectF(130, 100, 170, 6), kAccent);
    // Window content: a list with a progress bar.
    for (int i = 0; i < 3; ++i) {
        const qreal y = 118 + i * 22;
        fillRounded(p, QRectF(142, y, 14, 14), 3, i == 0 ? kAccent : QColor(214, 226, 236));
        fillRounded(p, QRectF(164, y + 2, 70 - i * 12, 4), 2, QColor(200, 208, 217));
        fillRounded(p, QRectF(164, y + 9, 44, 3), 1.5, QColor(224, 229, 235));
        fillRounded(p, QRectF(246, y + 4, 42, 6), 3, QColor(226, 234, 241));
        fillRounded(p, QRectF(246, y + 4, 42.0 * (i == 0 ? 0.7 : i == 1 ? 1.0 : 0.0), 6), 3, kAccent);
    }
    QPainterPath base;
    base.moveTo(100, 206);
    base.lineTo(330, 206);
    base.lineTo(318, 218);
    base.lineTo(112, 218);
    base.closeSubpath();
    p.setBrush(QColor(172, 181, 192));
    p.drawPath(base);
    p.fillRect(QRectF(100, 204, 230, 4), QColor(196, 203, 212));
    // Cable from the laptop to the tool.
    QPainterPath cable;
    cable.moveTo(318, 196);
    cable.cubicTo(380, 196, 360, 250, 430, 240);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(120, 130, 142), 3.0, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cable);
    // Sync badge on the cable.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(366, 222), 19, 19);
    p.setBrush(kAccent);
    p.drawEllipse(QPointF(366, 222), 15, 15);
    p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(358, 214, 16, 16), 30 * 16, 150 * 16);
    p.drawArc(QRectF(358, 214, 16, 16), 210 * 16, 150 * 16);
    p.drawLine(QPointF(373, 217), QPointF(373.5, 222));
    p.drawLine(QPointF(373.5, 222), QPointF(369, 220));
    p.drawLine(QPointF(359, 227), QPointF(358.5, 222));
    p.drawLine(QPointF(358.5, 222), QPointF(363, 224));
    // The tool, scaled down.
    const QImage tool = deviceTool();
    p.drawImage(QRectF(420, 70, 120, 156), tool);
    // Sparkles.
    p.setPen(Qt::NoPen);
    p.setBrush(withAlpha(kAccent, 120));
    p.drawEllipse(QPointF(560, 120), 4, 4);
    p.drawEllipse(QPointF(96, 120), 3, 3);
    p.setBrush(withAlpha(kAccent, 70));
    p.drawEllipse(QPointF(540, 250), 6, 6);
    p.drawEllipse(QPointF(350, 70), 5, 5);
    return img;
}

// Static illustration of the Notifications page: a calm bell, nothing waiting.
QImage notificationsPicture() {
    QImage img = blank(640, 320);
    QPainter p(&img);
    antialias(p);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccentPale);
    p.drawEllipse(QPointF(320, 160), 120, 120);
    p.setBrush(QColor(240, 247, 252));
    p.drawEllipse(QPointF(190, 90), 30, 30);
    p.drawEllipse(QPointF(460, 240), 40, 40);
    // Bell.
    p.save();
    p.translate(320, 160);
    p.rotate(-12);
    QPainterPath bell;
    bell.moveTo(-52, 38);
    bell.lineTo(52, 38);
    bell.cubicTo(40, 28, 38, 16, 38, -6);
    bell.cubicTo(38, -34, 22, -52, 0, -52);
    bell.cubicTo(-22, -52, -38, -34, -38, -6);
    bell.cubicTo(-38, 16, -40, 28, -52, 38);
    bell.closeSubpath();
    QLinearGradient bg(-50, -52, 50, 40);
    bg.setColorAt(0.0, kAccentLight);
    bg.setColorAt(1.0, kAccentDark);
    p.setBrush(bg);
    p.drawPath(bell);
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawRoundedRect(QRectF(-24, -40, 10, 52), 5, 5);
    p.setBrush(kAccentDark);
    p.drawEllipse(QPointF(0, 48), 13, 13);
    p.drawRoundedRect(QRectF(-6, -64, 12, 14), 5, 5);
    p.restore();
    // "All read" badge.
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(378, 108), 24, 24);
    p.setBrush(QColor(82, 190, 128));
    p.drawEllipse(QPointF(378, 108), 19, 19);
    p.setPen(QPen(Qt::white, 3.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPolygonF mark;
    mark << QPointF(369, 108) << QPointF(375.5, 114.5) << QPointF(387.5, 101.5);
    p.drawPolyline(mark);
    // Motion lines.
    p.setPen(QPen(withAlpha(kAccent, 110), 3.0, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(212, 96, 40, 60), 110 * 16, 90 * 16);
    p.drawArc(QRectF(198, 86, 56, 80), 115 * 16, 80 * 16);
    p.drawArc(QRectF(392, 150, 40, 60), 290 * 16, 90 * 16);
    p.drawArc(QRectF(392, 140, 56, 80), 295 * 16, 80 * 16);
    return img;
}

QImage programIcon() {
    QImage img = blank(64, 64);
    QPainter p(&img);
    antialias(p);
    drawEmblem(p, QRectF(2, 2, 60, 60));
    return img;
}

struct Picture {
    int id;
    QImage (*draw)();
};

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
