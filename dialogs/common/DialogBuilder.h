#pragma once

#include "dialogs/common/DialogResource.h"

#include <QString>
#include <QWidget>
#include <functional>

// Builds a dialog resource's controls as direct children of `dialog`: each control's
// objectName is its id, its geometry its resource position through the dialog font's base
// units, its text the resource's own, its state the resource's styles; tab order is resource
// order. Group boxes stay below the controls they frame. A control without a text of its own
// (edit, list, drop-down list, picture) is named for assistive technology after the static
// text before it in the table, which is also its mnemonic's buddy.
// The dialog gets the resource's font, title and fixed size.
using DlgCustomFactory = std::function<QWidget*(const DlgControlResource&, QWidget* parent)>;
void BuildDialog(QWidget& dialog, const DlgResource& resource,
                 const DlgCustomFactory& makeCustom = {});

// Replaces the title and each control's text that has a catalogue id by the catalogue's text
// in the current language.
void SetCatalogueTexts(QWidget& dialog, const DlgResource& resource);

// The control `id` of a built dialog (the first one for IDC_STATIC), or null.
QWidget* DlgItem(const QWidget& dialog, int id);
template <class T> T* DlgItem(const QWidget& dialog, int id) {
    return qobject_cast<T*>(DlgItem(dialog, id));
}

// The text of a control whatever its kind (label, button, group box, edit, drop-down list).
void SetDlgItemText(QWidget& dialog, int id, const QString& text);
QString GetDlgItemText(const QWidget& dialog, int id);
