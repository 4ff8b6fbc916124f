#include "dialogs/common/DialogBuilder.h"

#include "app/catalogue/Msg.h"
#include "dialogs/common/DialogUnits.h"
#include "dialogs/common/ParentOwned.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <vector>

namespace {

// Marks an accessible name that the builder gave, so that a name the dialog sets stays.
constexpr char kGivenName[] = "velkGivenAccessibleName";
// The control's index in the resource table (stacking changes the order of the children).
constexpr char kTableIndex[] = "velkTableIndex";

// The built controls in table order; null where a control is missing.
std::vector<QWidget*> ControlsInTableOrder(const QWidget& dialog, const DlgResource& resource) {
    std::vector<QWidget*> controls(resource.controls.size(), nullptr);
    for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        bool ok = false;
        const qsizetype index = child->property(kTableIndex).toLongLong(&ok);
        if (ok && index >= 0 && static_cast<size_t>(index) < controls.size()) {
            controls[static_cast<size_t>(index)] = child;
        }
    }
    return controls;
}

QWidget* MakeControl(const DlgControlResource& control, QWidget* parent,
                     const DlgCustomFactory& makeCustom) {
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
    case DlgControlKind::GroupBox:
        return ParentOwned<QGroupBox>(text, parent);
    case DlgControlKind::Static: {
        auto* label = ParentOwned<QLabel>(text, parent);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap((control.style & kDlgMultiLine) != 0);
        label->setAlignment(((control.style & kDlgCentre) != 0 ? Qt::AlignHCenter : Qt::AlignLeft) |
                            Qt::AlignTop);
        return label;
    }
    case DlgControlKind::Bitmap:
        return ParentOwned<QLabel>(parent);
    case DlgControlKind::Edit: {
        auto* edit = ParentOwned<QLineEdit>(text, parent);
        edit->setFrame((control.style & kDlgBorder) != 0);
        if ((control.style & kDlgPassword) != 0) {
            edit->setEchoMode(QLineEdit::Password);
        }
        return edit;
    }
    case DlgControlKind::PushButton: {
        auto* button = ParentOwned<QPushButton>(text, parent);
        button->setDefault((control.style & kDlgDefault) != 0);
        return button;
    }
    case DlgControlKind::CheckBox:
        return ParentOwned<QCheckBox>(text, parent);
    case DlgControlKind::ComboBox:
        return ParentOwned<QComboBox>(parent);
    case DlgControlKind::ListView: {
        auto* list = ParentOwned<QTreeWidget>(parent);
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        list->setAllColumnsShowFocus(true);
        list->setSortingEnabled((control.style & kDlgSorted) != 0);
        if ((control.style & kDlgSorted) != 0) {
            list->sortByColumn(0, Qt::AscendingOrder);
        }
        list->setFrameShape((control.style & kDlgBorder) != 0 ? QFrame::StyledPanel
                                                              : QFrame::NoFrame);
        return list;
    }
    case DlgControlKind::Custom:
        if (makeCustom) {
            if (QWidget* widget = makeCustom(control, parent)) {
                return widget;
            }
        }
        return ParentOwned<QLabel>(text, parent);
    }
    return ParentOwned<QLabel>(text, parent);
}

bool HasOwnText(DlgControlKind kind) {
    switch (kind) {
    case DlgControlKind::GroupBox:
    case DlgControlKind::Static:
    case DlgControlKind::PushButton:
    case DlgControlKind::CheckBox:
    case DlgControlKind::Custom:
        return true;
    default:
        return false;
    }
}

// A control without a text of its own is named after the static before it in the table, as
// screen readers on the resource's home platform name it.
void NameUnlabelledControls(QWidget& dialog, const DlgResource& resource) {
    const std::vector<QWidget*> controls = ControlsInTableOrder(dialog, resource);
    QLabel* label = nullptr;
    for (size_t i = 0; i < controls.size(); ++i) {
        const DlgControlResource& control = resource.controls[i];
        QWidget* widget = controls[i];
        if (widget == nullptr) {
            continue;
        }
        if (control.kind == DlgControlKind::Static) {
            label = qobject_cast<QLabel*>(widget);
            continue;
        }
        if (HasOwnText(control.kind) || label == nullptr) {
            continue;
        }
        if (widget->accessibleName().isEmpty() || widget->property(kGivenName).toBool()) {
            QString name = label->text();
            name.remove(QLatin1Char('&'));
            widget->setAccessibleName(name);
            widget->setProperty(kGivenName, true);
        }
        if (control.kind != DlgControlKind::Bitmap) {
            label->setBuddy(widget);
        }
        label = nullptr;
    }
}

// The text a control shows: a label's or button's text, a frame's title, an edit's contents,
// a drop-down list's current item. Nothing for other controls or none.
void SetControlText(QWidget* widget, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text);
    } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
        frame->setTitle(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(text);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setCurrentText(text);
    }
}

} // namespace

void BuildDialog(QWidget& dialog, const DlgResource& resource, const DlgCustomFactory& makeCustom) {
    dialog.setFont(QFont(QString::fromUtf8(resource.font), resource.fontPointSize));
    dialog.setWindowTitle(QString::fromUtf8(resource.title));
    if (!resource.caption) {
        dialog.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    }
    const QSize base = DialogBaseUnits(dialog.font());
    dialog.setFixedSize(DialogUnitsToPixels(QRect(0, 0, resource.cx, resource.cy), base).size());

    QWidget* previous = nullptr;
    for (size_t i = 0; i < resource.controls.size(); ++i) {
        const DlgControlResource& control = resource.controls[i];
        QWidget* widget = MakeControl(control, &dialog, makeCustom);
        widget->setObjectName(QString::number(control.id));
        widget->setProperty(kTableIndex, static_cast<qlonglong>(i));
        widget->setGeometry(
            DialogUnitsToPixels(QRect(control.x, control.y, control.cx, control.cy), base));
        widget->setEnabled((control.style & kDlgDisabled) == 0);
        widget->setVisible((control.style & kDlgHidden) == 0);
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previous != nullptr) {
                QWidget::setTabOrder(previous, widget);
            }
            previous = widget;
        }
    }
    for (QGroupBox* frame : dialog.findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly)) {
        frame->lower();
    }
    NameUnlabelledControls(dialog, resource);
}

void SetCatalogueTexts(QWidget& dialog, const DlgResource& resource) {
    if (resource.titleId != 0) {
        dialog.setWindowTitle(QString::fromUtf8(CMsg::Get(resource.titleId)));
    }
    const std::vector<QWidget*> controls = ControlsInTableOrder(dialog, resource);
    for (size_t i = 0; i < controls.size(); ++i) {
        if (resource.controls[i].textId != 0) {
            SetControlText(controls[i], QString::fromUtf8(CMsg::Get(resource.controls[i].textId)));
        }
    }
    NameUnlabelledControls(dialog, resource);
}

QWidget* DlgItem(const QWidget& dialog, int id) {
    return dialog.findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void SetDlgItemText(QWidget& dialog, int id, const QString& text) {
    SetControlText(DlgItem(dialog, id), text);
}

QString GetDlgItemText(const QWidget& dialog, int id) {
    QWidget* widget = DlgItem(dialog, id);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return button->text();
    }
    if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
        return frame->title();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        return edit->text();
    }
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        return combo->currentText();
    }
    return {};
}
