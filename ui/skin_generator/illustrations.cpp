// The larger illustrations: the hand-held tool and the pictures of the Information and
// Notifications pages.
#include "ui/skin_generator/skin_pictures.h"

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRadialGradient>

#include <cmath>

namespace krevol::skin_art {

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

}  // namespace krevol::skin_art
