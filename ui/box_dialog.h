// The program's own message box: 380 x 180, no caption, drawn from pictures 219-223.
//
// Type 1 shows one "OK" button; any other type shows "YES" and "NO". "OK"/"YES" and Enter end
// the box with 1; "NO", the close control and Escape with 2. The captions are catalogue texts
// (322-324), in the language of the run. The box can be dragged with the left button anywhere in it
// (FramelessWindow with the whole window as its drag strip).
//
// Show it through the message presenter (app/message_presenter.h), not directly: the presenter
// also disables the window behind it and brings calls of worker threads to this thread.
#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

#include "ui/frameless_window.h"

namespace krevol {

class CSkinButton;

// Fixed layout of the box, client coordinates.
namespace box_layout {
constexpr int kWidth = 380;
constexpr int kHeight = 180;
constexpr QRect kIconRect{23, 46, 33, 30};
constexpr QRect kCloseRect{355, 12, 15, 15};
constexpr QRect kWrappedTextRect{68, 43, 290, 92};
constexpr QRect kSingleLineTextRect{73, 52, 290, 48};
constexpr int kSingleLineMaxWidth = 290;
constexpr QRect kOkRect{156, 140, 68, 24};
constexpr QRect kYesRect{120, 140, 68, 24};
constexpr QRect kNoRect{208, 140, 68, 24};
}  // namespace box_layout

// The text area for a text whose width, measured as one line, is `oneLineWidth` pixels.
QRect boxTextRect(int oneLineWidth);
// The text area for this text in this font (one-line width measured with the font; a text
// with line breaks of its own always gets the tall, wrapped area).
QRect boxTextRect(const QString& text, const QFont& font);
// The box's window rectangle in an area of `width` x `height` pixels whose top left is
// `origin`: x = (W - 380) / 2, y = (H - 180) / 2, width W - 2x, height 180 + (H - 180) % 2
// (centredPlacement: on an area smaller than the box it keeps its size from the area's edge).
QRect boxWindowRect(int width, int height, QPoint origin = QPoint(0, 0));

// The shared font of every box: the embedded family, 15 pixels, normal weight.
// User-interface thread only.
const QFont& messageBoxFont();

class CKrevolBoxDlg : public FramelessWindow<QDialog> {
    Q_OBJECT
  public:
    CKrevolBoxDlg(const QString& text, int type, QWidget* parent = nullptr);

    QString text() const { return text_; }
    int type() const { return type_; }
    // Where the text is drawn (one of the two text areas of the layout).
    QRect textRect() const { return textRect_; }
    QAbstractButton* firstButton() const;   // "OK" or "YES"
    QAbstractButton* secondButton() const;  // "NO"; hidden in a type 1 box
    QAbstractButton* closeControl() const;

    // Centres the box on the available area of its screen (formula of boxWindowRect).
    void placeOnScreen();

  public slots:
    void accept() override;  // ends with 1
    void reject() override;  // ends with 2

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void escapePressed() override;  // ends with 2

  private:
    QString text_;
    int type_;
    QRect textRect_;
    QImage background_;
    QImage icon_;
    CSkinButton* first_ = nullptr;
    CSkinButton* second_ = nullptr;
    CSkinButton* close_ = nullptr;
};

}  // namespace krevol
