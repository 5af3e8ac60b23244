// The owner-drawn lists of the main window and the scroll thumb drawn beside them.
//
// CMyListBox holds display rows whose column texts are joined by "$"; a row is split at "$" when it
// is drawn, each text into its column (from the row's left edge: a leading gap, then fixed widths
// separated by a gap; optionally the rest of the row for the text after the last fixed column).
// Texts that do not fit their column are elided; resting the pointer on one shows the whole text
// in a tooltip. The list has no system scroll bar: the window scrolls it by its top row, normally
// through a CMyScrollThumb.
//
// CMyScrollThumb is the track beside a list, the list's height tall, with a thumb inside it. While
// active, dragging the thumb (its top at offset t from the track's top, 0 <= t <= trackLength())
// shows the list from row t / step, and each wheel notch over the list or the thumb moves the thumb
// by one step. Activating it (setScroll) puts the thumb at the top. The top row never goes below
// count() - 3, so a thumb at the end of its track always shows the last rows.
#pragma once

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <vector>

class CMyListBox : public QWidget {
    Q_OBJECT

  public:
    enum class Selection { None, MultipleToggle };  // MultipleToggle: a click ticks or unticks a row
    // Draws the decoration of one row (a tick box...) before its texts.
    using RowDecorator = std::function<void(QPainter& painter, const QRect& row, int index, bool selected)>;

    explicit CMyListBox(QWidget* parent = nullptr);

    void setRowHeight(int pixels);
    int rowHeight() const { return rowHeight_; }
    // Columns: `leading` pixels before the first, `gap` between columns, `widths` of the fixed
    // columns; with `restColumn` the text after the last fixed column takes the rest of the row.
    void setColumns(int leading, int gap, std::vector<int> widths, bool restColumn);
    void setTextColor(const QColor& colour);
    void setRowFont(const QFont& font);
    void setBackground(const QBrush& brush);     // NoBrush (default): the parent's background shows
    void setRowSeparator(const QColor& colour);  // a line under each row; invalid colour = none
    void setSelectionMode(Selection mode);
    void setRowDecorator(RowDecorator decorator);

    int count() const { return static_cast<int>(rows_.size()); }
    void addRow(const QString& row);
    void clear();  // removes every row, selection included, and goes back to the first row
    QString rowText(int index) const;
    void setRowText(int index, const QString& row);
    QStringList rows() const { return rows_; }

    int topRow() const { return topRow_; }
    void setTopRow(int row);      // clamped to 0 .. max(0, count() - 3)
    int visibleRowCount() const;  // rows that fit, partly shown ones included

    bool isSelected(int index) const;
    void setSelected(int index, bool selected);  // no selectionChanged: only user clicks emit it
    void setAllSelected(bool selected);
    int selectedCount() const;
    // The row at a point of this widget, -1 for none.
    int rowAt(const QPoint& point) const;
    // The whole text of the cell at a point of this widget when the cell shows it cut off;
    // empty when the text fits or there is no cell there.
    QString cutOffTextAt(const QPoint& point) const;

  signals:
    void selectionChanged();
    void wheelSteps(int steps);  // one per notch over the list; positive = towards later rows

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    struct Cell {
        QRect rect;
        QString text;
    };
    // The cells in which the row `index` draws its texts, with the row's top at `y`.
    std::vector<Cell> cellsOf(int index, int y) const;

    QStringList rows_;
    std::vector<bool> selected_;
    int rowHeight_ = 20;
    int topRow_ = 0;
    int leading_ = 0;
    int gap_ = 0;
    std::vector<int> widths_;
    bool restColumn_ = false;
    QColor textColour_{62, 62, 62};
    QBrush background_;
    QColor separator_;
    Selection selection_ = Selection::None;
    RowDecorator decorator_;
    int wheelRemainder_ = 0;
};

class CMyScrollThumb : public QWidget {
    Q_OBJECT

  public:
    // The thumb scrolls `list`; place it beside the list with the list's height.
    explicit CMyScrollThumb(CMyListBox* list, QWidget* parent = nullptr);

    void setThumbPicture(const QImage& picture);  // drawn stretched to the thumb's size
    void setThumbHeight(int pixels);
    int thumbHeight() const { return thumbHeight_; }
    // Pixels the thumb's top can travel: the track's height less the thumb's.
    int trackLength() const;

    // Activates or deactivates the thumb; either way the thumb goes to the top and the list to its
    // first row. An active thumb with a step below 1 (a list longer than its track) uses step 1. An inactive
    // thumb is not drawn and ignores the mouse and the wheel.
    void setScroll(bool active, int step);
    bool isActive() const { return active_; }
    int step() const { return step_; }
    int thumbOffset() const { return offset_; }

    // Moves the thumb's top to `offset` (clamped to the track) and scrolls the list to offset / step.
    void moveThumbTo(int offset);
    // The wheel: `steps` steps down (negative: up).
    void stepBy(int steps);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    CMyListBox* list_;
    QImage picture_;
    int thumbHeight_ = 40;
    bool active_ = false;
    int step_ = 0;
    int offset_ = 0;
    bool dragging_ = false;
    int grabY_ = 0;  // pointer y inside the thumb when the drag began
    int wheelRemainder_ = 0;
};
