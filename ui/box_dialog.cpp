#include "ui/box_dialog.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QTextLayout>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"

namespace krevol {

namespace {

// A picture of the skin, or a plain stand-in of the right size when it cannot be loaded, so
// that the box stays readable and usable.
QImage pictureOr(int id, QSize size, const QColor& standIn) {
    QImage image;
    if (loadPngResource(image, id)) return image;
    image = QImage(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(standIn);
    return image;
}

// Left-aligned text wrapped at word boundaries (or inside a word too long for a line),
// clipped at the bottom of the area.
void drawWrappedText(QPainter& p, const QRect& area, const QString& text, const QFont& font) {
    const QFontMetrics metrics(font);
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QString laidOut = text;
    laidOut.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    laidOut.replace(QLatin1Char('\r'), QChar::LineSeparator);
    laidOut.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(laidOut, font);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(area.width());
        line.setPosition(QPointF(0, y));
        y += metrics.lineSpacing();
    }
    layout.endLayout();
    p.save();
    p.setClipRect(area);
    layout.draw(&p, area.topLeft());
    p.restore();
}

}  // namespace

QRect boxTextRect(int oneLineWidth) {
    return oneLineWidth <= box_layout::kSingleLineMaxWidth ? box_layout::kSingleLineTextRect
                                                           : box_layout::kWrappedTextRect;
}

QRect boxTextRect(const QString& text, const QFont& font) {
    // A text with its own line breaks needs the tall area whatever its width.
    if (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
        return box_layout::kWrappedTextRect;
    return boxTextRect(QFontMetrics(font).horizontalAdvance(text));
}

QRect boxWindowRect(int width, int height, QPoint origin) {
    return centredRect(QRect(origin, QSize(width, height)), QSize(box_layout::kWidth, box_layout::kHeight));
}

const QFont& messageBoxFont() {
    static const QFont font = createUiFont(15, 400);
    return font;
}

CKrevolBoxDlg::CKrevolBoxDlg(const QString& text, int type, QWidget* parent)
    : FramelessWindow<QDialog>(parent, Qt::Dialog, 0), text_(text), type_(type) {
    setWindowTitle(QString::fromStdString(loadText(102)));
    setFont(messageBoxFont());
    resize(box_layout::kWidth, box_layout::kHeight);

    background_ =
        pictureOr(picture::kBoxBackground, QSize(box_layout::kWidth, box_layout::kHeight), Qt::white);
    icon_ = pictureOr(picture::kBoxInformationIcon, box_layout::kIconRect.size(), Qt::transparent);

    textRect_ = boxTextRect(text_, messageBoxFont());

    close_ = new CSkinButton(this);
    close_->setObjectName(QStringLiteral("closeControl"));
    close_->setPicture(pictureOr(picture::kBoxClose, box_layout::kCloseRect.size(), Qt::transparent));
    close_->setGeometry(box_layout::kCloseRect);
    connect(close_, &QAbstractButton::clicked, this, [this] { done(kAnswerSecond); });

    const QImage blue = pictureOr(picture::kBoxYesButton, box_layout::kOkRect.size(), colour::kLink);
    first_ = new CSkinButton(this);
    first_->setObjectName(QStringLiteral("firstButton"));
    first_->setPicture(blue);
    first_->setFont(messageBoxFont());
    connect(first_, &QAbstractButton::clicked, this, [this] { done(kAnswerFirst); });

    second_ = new CSkinButton(this);
    second_->setObjectName(QStringLiteral("secondButton"));
    second_->setPicture(
        pictureOr(picture::kBoxNoButton, box_layout::kNoRect.size(), colour::kSecondaryButton));
    second_->setFont(messageBoxFont());
    connect(second_, &QAbstractButton::clicked, this, [this] { done(kAnswerSecond); });

    if (type_ == kBoxOk) {
        first_->setText(QString::fromStdString(loadText(msgId(322))));
        first_->setGeometry(box_layout::kOkRect);
        second_->hide();
    } else {
        first_->setText(QString::fromStdString(loadText(msgId(323))));
        first_->setGeometry(box_layout::kYesRect);
        second_->setText(QString::fromStdString(loadText(msgId(324))));
        second_->setGeometry(box_layout::kNoRect);
    }
}

QAbstractButton* CKrevolBoxDlg::firstButton() const {
    return first_;
}
QAbstractButton* CKrevolBoxDlg::secondButton() const {
    return second_;
}
QAbstractButton* CKrevolBoxDlg::closeControl() const {
    return close_;
}

void CKrevolBoxDlg::placeOnScreen() {
    setGeometry(centredRect(QSize(box_layout::kWidth, box_layout::kHeight)));
}

void CKrevolBoxDlg::accept() {
    done(kAnswerFirst);
}
void CKrevolBoxDlg::reject() {
    done(kAnswerSecond);
}

void CKrevolBoxDlg::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.drawImage(rect(), background_);
    p.drawImage(box_layout::kIconRect, icon_);
    p.setPen(Qt::black);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    drawWrappedText(p, textRect_, text_, messageBoxFont());
}

void CKrevolBoxDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        done(kAnswerFirst);
        return;
    }
    FramelessWindow<QDialog>::keyPressEvent(event);
}

void CKrevolBoxDlg::escapePressed() {
    done(kAnswerSecond);
}

}  // namespace krevol
