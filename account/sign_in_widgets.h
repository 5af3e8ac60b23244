// Small widgets of the sign-in window: a text drawn on the skin that can be clicked (title,
// links, language label) and the spinner that the action shows while a server call runs.
#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

class QTimer;

namespace krevol {

// A line of text on a transparent background, in its own font and colour. clicked() is sent
// when the left button is pressed and released over it.
class SignInText : public QWidget {
    Q_OBJECT
  public:
    explicit SignInText(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return text_; }
    void setColor(const QColor& color);
    QColor color() const { return color_; }
    // Width the text needs in the current font.
    int textWidth() const;
    // With a width above 0, a text wider than it is drawn in a smaller size of the font (down to
    // 12 pixels) so that it is not cut off.
    void setFitWidth(int width);
    // The font the text is drawn in.
    QFont drawnFont() const;

  signals:
    void clicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QString text_;
    QColor color_{Qt::black};
    int fitWidth_ = 0;
    bool pressed_ = false;
};

// A turning arc, drawn while work goes on; transparent for the mouse.
class BusySpinner : public QWidget {
    Q_OBJECT
  public:
    explicit BusySpinner(QWidget* parent = nullptr);

    void setColor(const QColor& color);
    void start();
    void stop();
    bool isSpinning() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QTimer* timer_ = nullptr;
    QColor color_{Qt::white};
    int angle_ = 0;
};

}  // namespace krevol
