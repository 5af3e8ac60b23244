#include "ui/skin_button.h"

#include <QPainter>

namespace krevol {

namespace {

// The picture with a colour laid over its opaque parts only (transparent corners stay clear).
QPixmap tinted(const QImage& picture, const QColor& overlay) {
    QImage image = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    p.fillRect(image.rect(), overlay);
    p.end();
    return QPixmap::fromImage(image);
}

}  // namespace

CSkinButton::CSkinButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover, true);
}

void CSkinButton::setPicture(const QImage& picture) {
    if (picture.isNull()) {
        normal_ = hover_ = pressed_ = QPixmap();
    } else {
        normal_ = QPixmap::fromImage(picture);
        hover_ = tinted(picture, QColor(255, 255, 255, 30));
        pressed_ = tinted(picture, QColor(0, 0, 0, 30));
    }
    update();
}

void CSkinButton::setCaptionColor(const QColor& color) {
    captionColor_ = color;
    update();
}

QSize CSkinButton::sizeHint() const {
    return normal_.isNull() ? QSize(68, 24) : normal_.size();
}

void CSkinButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QPixmap& picture = isDown() ? pressed_ : (underMouse() && isEnabled() ? hover_ : normal_);
    // A button that was itself disabled (not one under a disabled window, as while a message box is
    // up) is drawn faded, so that it does not look clickable.
    if (testAttribute(Qt::WA_ForceDisabled)) p.setOpacity(0.5);
    if (!picture.isNull()) p.drawPixmap(rect(), picture);
    if (!text().isEmpty()) {
        p.setFont(font());
        p.setPen(captionColor_);
        p.drawText(rect(), Qt::AlignCenter, text());
    }
}

}  // namespace krevol
