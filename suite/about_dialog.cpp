#include "suite/about_dialog.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>
#include <QStringList>
#include <QTextEdit>

#include <utility>

#include "app/messages.h"
#include "app/version.h"
#include "ui/picture_ids.h"
#include "ui/skin.h"
#include "ui/skin_button.h"

namespace {

// Designed rectangles in the 560 x 420 client area.
constexpr QRect kIconRect(32, 28, 64, 64);
constexpr QRect kProductLineRect(112, 28, 416, 64);
constexpr QRect kAgreementRect(32, 112, 496, 240);
constexpr QRect kCompleteRect(230, 368, 100, 32);
constexpr int kSeparatorY = 100;

QString text(int id) {
    return QString::fromStdString(krevol::loadText(id));
}

// The agreement text as HTML: the first line bold, the others as they are, line by line.
QString agreementHtml(const QString& agreement) {
    QStringList lines = QString(agreement).remove(QLatin1Char('\r')).split(QLatin1Char('\n'));
    QString html;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].toHtmlEscaped();
        if (i == 0) {
            html += QStringLiteral("<p style=\"margin:0 0 6px 0; font-weight:700; color:#000000;\">%1</p>")
                        .arg(line);
        } else if (line.trimmed().isEmpty()) {
            continue;
        } else {
            html += QStringLiteral("<p style=\"margin:0 0 4px 0;\">%1</p>").arg(line);
        }
    }
    return html;
}

}  // namespace

CKrevolSetDlg::CKrevolSetDlg(std::string userId, std::string token, QWidget* parent)
    : FramelessWindow<QDialog>(parent, Qt::Dialog, 0), userId_(std::move(userId)), token_(std::move(token)) {
    krevol::installEmbeddedFont();
    setWindowTitle(text(101));
    setModal(true);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    resize(kDesignSize);

    // The agreement: its first line is the heading; the text scrolls when the box is small.
    auto* agreement = new QTextEdit(this);
    agreement->setReadOnly(true);
    agreement->setFrameShape(QFrame::NoFrame);
    agreement->setFont(krevol::createUiFont(13, 400));
    agreement->setStyleSheet(QStringLiteral("QTextEdit { background: transparent; color: %1; }")
                                 .arg(krevol::colour::kTextDark.name()));
    agreement->setHtml(agreementHtml(text(241)));
    agreement->setTextInteractionFlags(Qt::TextSelectableByMouse);
    agreement->setFocusPolicy(Qt::NoFocus);

    auto* productLine = new QLabel(this);
    productLine->setTextFormat(Qt::RichText);
    productLine->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    productLine->setText(
        QStringLiteral("<div style=\"font-size:18px; font-weight:700; color:#000000;\">%1 V%2</div>"
                       "<div style=\"font-size:13px; color:#3e3e3e; margin-top:4px;\">%3</div>")
            .arg(text(102).toHtmlEscaped(), QString::fromLatin1(krevol::kProgramVersion),
                 text(254).toHtmlEscaped()));
    productLine->setFont(krevol::createUiFont(13, 400));
    productLine->hide();

    auto* icon = new QLabel(this);
    QImage iconPicture;
    if (krevol::loadPngResource(iconPicture, krevol::picture::kProgramIcon)) {
        icon->setPixmap(QPixmap::fromImage(iconPicture));
    }
    icon->setAlignment(Qt::AlignCenter);
    icon->hide();
    iconPicture_ = iconPicture;

    auto* complete = new krevol::CSkinButton(this);
    QImage button;
    krevol::loadPngResource(button, krevol::picture::kPrimaryButton);
    complete->setPicture(button);
    complete->setCaptionColor(Qt::white);
    complete->setFont(krevol::createUiFont(14, 700));
    complete->setText(text(207));
    connect(complete, &QAbstractButton::clicked, this, &QDialog::accept);

    // The ids of the proportional layout, then the button's caption; then the hidden controls
    // appear and the window goes to its place.
    controls_ = {{kAgreementText, agreement, kAgreementRect},
                 {kCompleteButton, complete, kCompleteRect},
                 {kProductIcon, icon, kIconRect},
                 {kProductLine, productLine, kProductLineRect}};
    productLine->show();
    icon->show();
    layOut(size());

    setGeometry(placementIn(krevol::availableArea(this, kDesignSize)));
}

QWidget* CKrevolSetDlg::control(int id) const {
    for (const LaidOut& c : controls_) {
        if (c.id == id) return c.widget;
    }
    return nullptr;
}

std::vector<int> CKrevolSetDlg::layoutIds() const {
    std::vector<int> ids;
    for (const LaidOut& c : controls_) ids.push_back(c.id);
    return ids;
}

QRect CKrevolSetDlg::placementIn(const QRect& workArea) {
    const int left = static_cast<int>(workArea.width() / 3.5);
    const int top = static_cast<int>(workArea.height() / 5.2);
    return QRect(workArea.x() + left, workArea.y() + top, workArea.width() - 2 * left,
                 workArea.height() - 2 * top);
}

QRect CKrevolSetDlg::scaledRect(const QRect& designed, QSize client) {
    const int w = kDesignSize.width();
    const int h = kDesignSize.height();
    const int left = client.width() * designed.left() / w;
    const int right = client.width() * (designed.left() + designed.width()) / w;
    const int top = client.height() * designed.top() / h;
    const int bottom = client.height() * (designed.top() + designed.height()) / h;
    return QRect(left, top, right - left, bottom - top);
}

void CKrevolSetDlg::layOut(QSize client) {
    for (const LaidOut& c : controls_) c.widget->setGeometry(scaledRect(c.designed, client));
    // The icon keeps its proportions inside its place.
    if (auto* icon = qobject_cast<QLabel*>(control(kProductIcon)); icon && !iconPicture_.isNull()) {
        const int side = qMax(1, qMin(icon->width(), icon->height()));
        icon->setPixmap(QPixmap::fromImage(
            iconPicture_.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    }
}

void CKrevolSetDlg::resizeEvent(QResizeEvent* event) {
    FramelessWindow<QDialog>::resizeEvent(event);
    if (!event->size().isEmpty()) layOut(event->size());
}

void CKrevolSetDlg::paintEvent(QPaintEvent* event) {
    FramelessWindow<QDialog>::paintEvent(event);
    QPainter painter(this);
    // A hairline between the product block and the agreement.
    const int y = height() * kSeparatorY / kDesignSize.height();
    const int x0 = width() * kIconRect.left() / kDesignSize.width();
    const int x1 = width() * (kAgreementRect.left() + kAgreementRect.width()) / kDesignSize.width();
    painter.setPen(krevol::colour::kSeparator);
    painter.drawLine(x0, y, x1, y);
}

void CKrevolSetDlg::escapePressed() {
    reject();
}
