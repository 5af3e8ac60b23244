// The about box: product line with the running version, company line, program icon and the
// usage agreement (message 241), with a "Complete" button that closes it.
//
// The sign-in window opens it modally, without a parent, and hands it the session's user id
// and token; the box keeps them but uses neither and never contacts the server.
//
// It is placed in the work area W x H at left = trunc(W / 3.5), top = trunc(H / 5.2), with
// width W - 2 left and height H - 2 top. Its controls keep their relative places when it is
// resized: each one's rectangle is its designed rectangle scaled by the client size over the
// designed client size (computed from the design every time, so repeated resizing does not
// let rounding errors creep in).
//
// Like every window of the program it has no system caption: it is dragged with the left button
// anywhere on its body, and Escape closes it like "Complete".
#pragma once

#include <QDialog>
#include <QImage>
#include <QRect>
#include <QSize>

#include <string>
#include <vector>

#include "ui/frameless_window.h"

namespace krevol {
class CSkinButton;
}

class CKrevolSetDlg : public krevol::FramelessWindow<QDialog> {
    Q_OBJECT

  public:
    // Control ids of the box.
    static constexpr int kAgreementText = 1054;
    static constexpr int kProductLine = 1058;
    static constexpr int kProductIcon = 1059;
    static constexpr int kCompleteButton = 1;

    // The client size the controls are designed for.
    static constexpr QSize kDesignSize{560, 420};

    CKrevolSetDlg(std::string userId, std::string token, QWidget* parent = nullptr);

    // The control with the id, or none.
    QWidget* control(int id) const;
    // The ids that take part in the proportional layout, in the order they were recorded.
    std::vector<int> layoutIds() const;

    // The window's rectangle in a work area.
    static QRect placementIn(const QRect& workArea);
    // A designed rectangle scaled to a client size (integer arithmetic, truncating).
    static QRect scaledRect(const QRect& designed, QSize client);

    const std::string& userId() const { return userId_; }
    const std::string& token() const { return token_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void escapePressed() override;  // closes the box

  private:
    struct LaidOut {
        int id;
        QWidget* widget;
        QRect designed;
    };
    void layOut(QSize client);

    std::string userId_;
    std::string token_;
    std::vector<LaidOut> controls_;
    QImage iconPicture_;
};
