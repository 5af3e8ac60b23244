// Helpers shared by the main window and its pages.
#include "mainwindow/main_window_ui_parts.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>

#include <algorithm>

#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"

namespace krevol::ui_parts {

QImage skinPicture(int id) {
    QImage image;
    loadPngResource(image, id);
    return image;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QRect& rect, const QFont& font,
                  const QColor& colour, Qt::Alignment alignment) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(rect);
    label->setFont(font);
    label->setAlignment(alignment);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

CSkinButton* makeButton(QWidget* parent, const char* name, const QRect& rect, const QImage& image,
                        const QString& caption, const QFont& font, const QColor& captionColour) {
    auto* button = new CSkinButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(rect);
    button->setPicture(image);
    button->setText(caption);
    button->setFont(font);
    button->setCaptionColor(captionColour);
    return button;
}

void placeActionLink(const QLabel& text, CSkinButton& link) {
    const QRect area = kVersionTextRect;
    const QRect used = QFontMetrics(text.font())
                           .boundingRect(QRect(0, 0, area.width(), 10000), Qt::TextWordWrap, text.text());
    const int y = area.y() + std::min(area.height(), used.height()) + kActionLinkGap;
    const int width =
        std::max(kActionLinkRect.width(), QFontMetrics(link.font()).horizontalAdvance(link.text()) + 40);
    link.setGeometry(kActionLinkRect.x(), y, width, kActionLinkRect.height());
}

QPixmap toolPixmap(bool faded) {
    static const QPixmap colour = QPixmap::fromImage(skinPicture(picture::kDeviceTool));
    static const QPixmap pale = [] {
        QImage image = skinPicture(picture::kDeviceTool).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (image.isNull()) return QPixmap();
        QImage grey(image.size(), QImage::Format_ARGB32_Premultiplied);
        grey.fill(Qt::transparent);
        QPainter painter(&grey);
        painter.setOpacity(0.22);
        painter.drawImage(0, 0,
                          image.convertToFormat(QImage::Format_Grayscale8)
                              .convertToFormat(QImage::Format_ARGB32_Premultiplied));
        painter.end();
        // Keep the tool's outline: transparent where the original is.
        QPainter mask(&grey);
        mask.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        mask.drawImage(0, 0, image);
        mask.end();
        return QPixmap::fromImage(grey);
    }();
    return faded ? pale : colour;
}

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(160);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        phase_ = (phase_ + 1) % 3;
        update();
    });
}

void BusyIndicator::showEvent(QShowEvent*) {
    timer_.start();
}

void BusyIndicator::hideEvent(QHideEvent*) {
    timer_.stop();
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        QColor colour = kAccent;
        colour.setAlphaF(i == phase_ ? 1.0f : 0.3f);
        painter.setBrush(colour);
        const double radius = i == phase_ ? 5.5 : 4.5;
        painter.drawEllipse(QPointF(6 + i * 16, height() / 2.0), radius, radius);
    }
}

}  // namespace krevol::ui_parts
