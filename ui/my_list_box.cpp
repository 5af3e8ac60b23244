#include "ui/my_list_box.h"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <utility>

namespace {

// Wheel angle of one notch, in eighths of a degree.
constexpr int kWheelNotch = 120;

// Whole notches out of an accumulated angle; the remainder is kept for the next event.
int takeNotches(int& remainder, int angle) {
    remainder += angle;
    const int notches = remainder / kWheelNotch;
    remainder -= notches * kWheelNotch;
    return notches;
}

}  // namespace

CMyListBox::CMyListBox(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
}

void CMyListBox::setRowHeight(int pixels) {
    rowHeight_ = std::max(1, pixels);
    update();
}

void CMyListBox::setColumns(int leading, int gap, std::vector<int> widths, bool restColumn) {
    leading_ = leading;
    gap_ = gap;
    widths_ = std::move(widths);
    restColumn_ = restColumn;
    update();
}

void CMyListBox::setTextColor(const QColor& colour) {
    textColour_ = colour;
    update();
}

void CMyListBox::setRowFont(const QFont& font) {
    setFont(font);
    update();
}

void CMyListBox::setBackground(const QBrush& brush) {
    background_ = brush;
    update();
}

void CMyListBox::setRowSeparator(const QColor& colour) {
    separator_ = colour;
    update();
}

void CMyListBox::setSelectionMode(Selection mode) {
    selection_ = mode;
}

void CMyListBox::setRowDecorator(RowDecorator decorator) {
    decorator_ = std::move(decorator);
    update();
}

void CMyListBox::addRow(const QString& row) {
    rows_.push_back(row);
    selected_.push_back(false);
    update();
}

void CMyListBox::clear() {
    rows_.clear();
    selected_.clear();
    topRow_ = 0;
    update();
}

QString CMyListBox::rowText(int index) const {
    return index >= 0 && index < rows_.size() ? rows_.at(index) : QString();
}

void CMyListBox::setRowText(int index, const QString& row) {
    if (index < 0 || index >= rows_.size()) return;
    rows_[index] = row;
    update();
}

void CMyListBox::setTopRow(int row) {
    const int last = std::max(0, static_cast<int>(rows_.size()) - 3);
    topRow_ = std::clamp(row, 0, last);
    update();
}

int CMyListBox::visibleRowCount() const {
    return (height() + rowHeight_ - 1) / rowHeight_;
}

bool CMyListBox::isSelected(int index) const {
    return index >= 0 && index < static_cast<int>(selected_.size()) && selected_[index];
}

void CMyListBox::setSelected(int index, bool selected) {
    if (index < 0 || index >= static_cast<int>(selected_.size())) return;
    selected_[index] = selected;
    update();
}

void CMyListBox::setAllSelected(bool selected) {
    std::fill(selected_.begin(), selected_.end(), selected);
    update();
}

int CMyListBox::selectedCount() const {
    return static_cast<int>(std::count(selected_.begin(), selected_.end(), true));
}

int CMyListBox::rowAt(const QPoint& point) const {
    if (point.x() < 0 || point.x() >= width() || point.y() < 0 || point.y() >= height()) return -1;
    const int index = topRow_ + point.y() / rowHeight_;
    return index < rows_.size() ? index : -1;
}

std::vector<CMyListBox::Cell> CMyListBox::cellsOf(int index, int y) const {
    std::vector<Cell> cells;
    const QStringList texts = rows_.at(index).split(QLatin1Char('$'));
    int x = leading_;
    for (int column = 0; column < texts.size(); ++column) {
        int columnWidth = 0;
        if (column < static_cast<int>(widths_.size())) {
            columnWidth = widths_[column];
        } else if (restColumn_ && column == static_cast<int>(widths_.size())) {
            columnWidth = width() - x;
        } else {
            break;
        }
        if (columnWidth > 0) cells.push_back({QRect(x, y, columnWidth, rowHeight_), texts.at(column)});
        x += columnWidth + gap_;
    }
    return cells;
}

QString CMyListBox::cutOffTextAt(const QPoint& point) const {
    const int index = rowAt(point);
    if (index < 0) return QString();
    const QFontMetrics metrics(font());
    for (const Cell& cell : cellsOf(index, (index - topRow_) * rowHeight_)) {
        if (point.x() < cell.rect.left() || point.x() > cell.rect.right()) continue;
        // The same test as the drawing's: elided text differs from the whole one.
        const QString shown = metrics.elidedText(cell.text, Qt::ElideRight, cell.rect.width());
        return shown != cell.text ? cell.text : QString();
    }
    return QString();
}

bool CMyListBox::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString whole = cutOffTextAt(help->pos());
        if (whole.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            const int index = rowAt(help->pos());
            const QRect row(0, (index - topRow_) * rowHeight_, width(), rowHeight_);
            QToolTip::showText(help->globalPos(), whole, this, row);
        }
        return true;
    }
    return QWidget::event(event);
}

void CMyListBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (background_.style() != Qt::NoBrush) painter.fillRect(rect(), background_);
    painter.setFont(font());
    const QFontMetrics metrics(font());
    for (int index = topRow_, y = 0; index < rows_.size() && y < height(); ++index, y += rowHeight_) {
        const QRect row(0, y, width(), rowHeight_);
        if (decorator_) {
            painter.save();
            decorator_(painter, row, index, isSelected(index));
            painter.restore();
        }
        painter.setPen(textColour_);
        for (const Cell& cell : cellsOf(index, y)) {
            painter.drawText(cell.rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                             metrics.elidedText(cell.text, Qt::ElideRight, cell.rect.width()));
        }
        if (separator_.isValid()) {
            painter.setPen(separator_);
            painter.drawLine(0, y + rowHeight_ - 1, width() - 1, y + rowHeight_ - 1);
        }
    }
}

void CMyListBox::mousePressEvent(QMouseEvent* event) {
    if (selection_ != Selection::MultipleToggle || event->button() != Qt::LeftButton || !isEnabled()) {
        QWidget::mousePressEvent(event);
        return;
    }
    const int index = rowAt(event->position().toPoint());
    if (index < 0) {
        QWidget::mousePressEvent(event);
        return;
    }
    selected_[index] = !selected_[index];
    update();
    event->accept();
    emit selectionChanged();
}

void CMyListBox::wheelEvent(QWheelEvent* event) {
    const int notches = takeNotches(wheelRemainder_, event->angleDelta().y());
    if (notches != 0) emit wheelSteps(-notches);  // a positive angle turns away from the user: up
    event->accept();
}

CMyScrollThumb::CMyScrollThumb(CMyListBox* list, QWidget* parent) : QWidget(parent), list_(list) {
    setFocusPolicy(Qt::NoFocus);
    if (list_) connect(list_, &CMyListBox::wheelSteps, this, &CMyScrollThumb::stepBy);
}

void CMyScrollThumb::setThumbPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

void CMyScrollThumb::setThumbHeight(int pixels) {
    thumbHeight_ = std::max(1, pixels);
    update();
}

int CMyScrollThumb::trackLength() const {
    return std::max(0, height() - thumbHeight_);
}

void CMyScrollThumb::setScroll(bool active, int step) {
    active_ = active;
    step_ = active ? std::max(1, step) : 0;
    offset_ = 0;
    dragging_ = false;
    if (list_) list_->setTopRow(0);
    update();
}

void CMyScrollThumb::moveThumbTo(int offset) {
    if (!active_) return;
    offset_ = std::clamp(offset, 0, trackLength());
    if (list_) list_->setTopRow(offset_ / step_);
    update();
}

void CMyScrollThumb::stepBy(int steps) {
    if (!active_ || !isVisible()) return;
    moveThumbTo(offset_ + steps * step_);
}

void CMyScrollThumb::paintEvent(QPaintEvent*) {
    if (!active_) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A thin rail along the track, the thumb on it.
    const int railWidth = 2;
    painter.fillRect(QRect((width() - railWidth) / 2, 0, railWidth, height()), QColor(226, 229, 234));
    const QRect thumb(0, offset_, width(), thumbHeight_);
    if (!picture_.isNull()) {
        painter.drawImage(thumb, picture_);
    } else {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(170, 178, 189));
        painter.drawRoundedRect(thumb, width() / 2.0, width() / 2.0);
    }
}

void CMyScrollThumb::mousePressEvent(QMouseEvent* event) {
    if (!active_ || event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    const int y = event->position().toPoint().y();
    if (y >= offset_ && y < offset_ + thumbHeight_) {
        dragging_ = true;
        grabY_ = y - offset_;
    } else {
        // A press on the track jumps the thumb there, centred on the pointer.
        moveThumbTo(y - thumbHeight_ / 2);
        dragging_ = true;
        grabY_ = y - offset_;
    }
    event->accept();
}

void CMyScrollThumb::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton))
        moveThumbTo(event->position().toPoint().y() - grabY_);
    event->accept();
}

void CMyScrollThumb::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    event->accept();
}

void CMyScrollThumb::wheelEvent(QWheelEvent* event) {
    const int notches = takeNotches(wheelRemainder_, event->angleDelta().y());
    if (notches != 0) stepBy(-notches);
    event->accept();
}
