#include "dialogs/pin/DlgWait.h"

#include "dialogs/common/DialogBuilder.h"
#include "dialogs/pin/PinDialogIds.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace {

constexpr DlgControlResource kControls[] = {
    {IDC_WAIT_TEXT, DlgControlKind::Static, 7, 7, 119, 35, "", 0, kDlgCentre | kDlgMultiLine},
};

constexpr DlgResource kResource{IDD_WAIT, "", 0, "Tahoma", 12, 134, 49, false, kControls};

} // namespace

CDlgWait::CDlgWait(std::string text, QWidget* parent)
    : QDialog(parent), m_strText(std::move(text)) {
    BuildDialog(*this, kResource);
    setModal(false);
}

bool CDlgWait::Create() {
    const QString text = QString::fromStdString(m_strText);
    SetDlgItemText(*this, IDC_WAIT_TEXT, text);
    // No caption to read it from: the window is named by what it says.
    setAccessibleName(text);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    show();
    raise();
    activateWindow();
    return isVisible();
}

void CDlgWait::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // The thin border of a window without caption.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
