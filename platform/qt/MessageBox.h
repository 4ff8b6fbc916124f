#pragma once

#include <QString>

// Every message box of the program goes through ShowMessageBox: a box without owner window.
//
// For tests and scripted runs, when VELKORA_MSGBOX_LOG names a file the box is not shown: a line
// "msgbox<TAB>icon<TAB>caption<TAB>text<TAB>answer" is appended to that file (see UiLog.h) and
// the answer returns at once. The answer is the box's default button (OK, or Yes), unless
// VELKORA_MSGBOX_ANSWER holds a comma-separated list of answers ("ok", "cancel", "yes", "no"),
// which this process's boxes take one after the other.

enum class MsgIcon { None, Error, Warning, Information, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
// The values of the Windows dialog results, IDOK, IDCANCEL, IDYES, IDNO.
enum class MsgResult { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

MsgResult ShowMessageBox(const QString& text, const QString& caption, MsgIcon icon,
                         MsgButtons buttons = MsgButtons::Ok);

// Catalogue texts are UTF-8.
MsgResult ShowMessageBox(const char* text, const char* caption, MsgIcon icon,
                         MsgButtons buttons = MsgButtons::Ok);

const char* MsgIconName(MsgIcon icon);
const char* MsgResultName(MsgResult result);
