#pragma once

#include <QString>

// Every open-file prompt of the program goes through ChooseFileToOpen: a modal file dialog
// without owner window. `filter` is written as the Windows common dialogs take it,
// "Text (*.txt)|*.txt||"; `defaultExtension` is added to a typed name without one.
//
// For tests and scripted runs, when VELKORA_OPENFILE_ANSWER is set the dialog is not shown: its
// value is the chosen path (an empty value chooses an empty path), and the value "cancel"
// cancels the prompt. With VELKORA_MSGBOX_LOG the prompt is recorded there as a line
// "openfile<TAB>filter<TAB>answer" (see UiLog.h).
struct FileChoice {
    bool chosen = false; // false: the user cancelled
    QString path;
};

FileChoice ChooseFileToOpen(const QString& filter, const QString& defaultExtension);
