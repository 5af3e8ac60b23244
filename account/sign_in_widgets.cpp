#include "account/sign_in_widgets.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QTimer>

namespace krevol {

SignInText::SignInText(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
}

void SignInText::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    update();
}

void SignInText::setColor(const QColor& color) {
    color_ = color;
    update();
}

int SignInText::textWidth() const {
    return QFontMetrics(font()).horizontalAdvance(text_);
}

void SignInText::setFitWidth(int width) {
    fitWidth_ = width;
    update();
}

QFont SignInText::drawnFont() const {
    QFont drawn = font();
    if (fitWidth_ <= 0 || drawn.pixelSize() <= 0) return drawn;
    while (drawn.pixelSize() > 12 && QFontMetrics(drawn).horizontalAdvance(text_) > fitWidth_) {
        drawn.setPixelSize(drawn.pixelSize() - 1);
    }
    return drawn;
}

void SignInText::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(drawnFont());
    painter.setPen(color_);
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text_);
}

void SignInText::mousePressEvent(QMouseEvent* event) {
    // The press belongs to this text; the window behind it does not see it.
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void SignInText::mouseReleaseEvent(QMouseEvent* event) {
    const bool click =
        pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click) emit clicked();
}

BusySpinner::BusySpinner(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    timer_->setInterval(60);
    connect(timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
    hide();
}

void BusySpinner::setColor(const QColor& color) {
    color_ = color;
    update();
}

void BusySpinner::start() {
    angle_ = 0;
    timer_->start();
    show();
    raise();
}

void BusySpinner::stop() {
    timer_->stop();
    hide();
}

bool BusySpinner::isSpinning() const {
    return timer_->isActive();
}

void BusySpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = qMin(width(), height()) - 4;
    const QRectF box((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    QColor faint = color_;
    faint.setAlpha(70);
    painter.setPen(QPen(faint, 2.0));
    painter.drawEllipse(box);
    painter.setPen(QPen(color_, 2.0, Qt::SolidLine, Qt::RoundCap));
    // Qt counts arc angles in sixteenths of a degree, counter-clockwise from three o'clock.
    painter.drawArc(box, -angle_ * 16, 100 * 16);
}

}  // namespace krevol
