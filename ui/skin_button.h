// A button drawn from a skin picture: the picture is stretched to the button, the caption is
// centred on it. Hovering lightens the picture a little, pressing darkens it; a button that is
// itself disabled is drawn faded (one under a disabled window, as while a message box is up, is not).
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QImage>
#include <QPixmap>

namespace krevol {

class CSkinButton : public QAbstractButton {
    Q_OBJECT
  public:
    explicit CSkinButton(QWidget* parent = nullptr);

    // The picture (from loadPngResource); a null picture draws nothing but the caption.
    void setPicture(const QImage& picture);
    void setCaptionColor(const QColor& color);
    QColor captionColor() const { return captionColor_; }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPixmap normal_;
    QPixmap hover_;
    QPixmap pressed_;
    QColor captionColor_{Qt::white};
};

}  // namespace krevol
