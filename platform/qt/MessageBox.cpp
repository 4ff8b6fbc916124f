#include "platform/qt/MessageBox.h"

#include "platform/qt/UiLog.h"

#include <QMessageBox>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

namespace {

bool Offers(MsgButtons buttons, MsgResult answer) {
    switch (buttons) {
    case MsgButtons::Ok:
        return answer == MsgResult::Ok;
    case MsgButtons::OkCancel:
        return answer == MsgResult::Ok || answer == MsgResult::Cancel;
    case MsgButtons::YesNo:
        return answer == MsgResult::Yes || answer == MsgResult::No;
    case MsgButtons::YesNoCancel:
        return answer == MsgResult::Yes || answer == MsgResult::No || answer == MsgResult::Cancel;
    }
    return false;
}

MsgResult DefaultAnswer(MsgButtons buttons) {
    return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? MsgResult::Yes
                                                                              : MsgResult::Ok;
}

std::optional<MsgResult> ParseAnswer(const std::string& word) {
    for (const MsgResult r : {MsgResult::Ok, MsgResult::Cancel, MsgResult::Yes, MsgResult::No}) {
        if (word == MsgResultName(r)) {
            return r;
        }
    }
    return std::nullopt;
}

// The next scripted answer of VELKORA_MSGBOX_ANSWER, if any is left.
std::optional<MsgResult> NextScriptedAnswer() {
    static std::mutex lock;
    static std::size_t next = 0;
    const std::lock_guard guard(lock);
    const char* list = std::getenv("VELKORA_MSGBOX_ANSWER");
    if (list == nullptr) {
        return std::nullopt;
    }
    const std::string answers = list;
    std::size_t start = 0;
    for (std::size_t index = 0; start <= answers.size(); ++index) {
        std::size_t end = answers.find(',', start);
        if (end == std::string::npos) {
            end = answers.size();
        }
        if (index == next) {
            ++next;
            return ParseAnswer(answers.substr(start, end - start));
        }
        start = end + 1;
    }
    return std::nullopt;
}

QMessageBox::Icon ToQt(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQt(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MsgButtons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

MsgResult FromQt(int button) {
    switch (button) {
    case QMessageBox::Cancel:
        return MsgResult::Cancel;
    case QMessageBox::Yes:
        return MsgResult::Yes;
    case QMessageBox::No:
        return MsgResult::No;
    default:
        return MsgResult::Ok;
    }
}

} // namespace

const char* MsgIconName(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Error:
        return "error";
    case MsgIcon::Warning:
        return "warning";
    case MsgIcon::Information:
        return "information";
    case MsgIcon::Question:
        return "question";
    case MsgIcon::None:
        break;
    }
    return "none";
}

const char* MsgResultName(MsgResult result) {
    switch (result) {
    case MsgResult::Cancel:
        return "cancel";
    case MsgResult::Yes:
        return "yes";
    case MsgResult::No:
        return "no";
    case MsgResult::Ok:
        break;
    }
    return "ok";
}

MsgResult ShowMessageBox(const QString& text, const QString& caption, MsgIcon icon,
                         MsgButtons buttons) {
    if (uilog::Enabled()) {
        MsgResult answer = DefaultAnswer(buttons);
        if (const auto scripted = NextScriptedAnswer(); scripted && Offers(buttons, *scripted)) {
            answer = *scripted;
        }
        uilog::Append("msgbox", {MsgIconName(icon), caption.toStdString(), text.toStdString(),
                                 MsgResultName(answer)});
        return answer;
    }
    QMessageBox box(ToQt(icon), caption, text, ToQt(buttons));
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return FromQt(box.exec());
}

MsgResult ShowMessageBox(const char* text, const char* caption, MsgIcon icon, MsgButtons buttons) {
    return ShowMessageBox(QString::fromUtf8(text != nullptr ? text : ""),
                          QString::fromUtf8(caption != nullptr ? caption : ""), icon, buttons);
}
