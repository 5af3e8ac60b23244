// The palette's painting helpers shared by every picture.
#include "ui/skin_generator/skin_pictures.h"

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRadialGradient>

namespace krevol::skin_art {

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

void strokeRounded(QPainter& p, const QRectF& r, qreal radius, const QColor& c, qreal width) {
    p.setPen(QPen(c, width));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r, radius, radius);
}

void softShadow(QPainter& p, const QRectF& r, qreal radius, int spread, int strongestAlpha, qreal dy) {
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

}  // namespace krevol::skin_art
