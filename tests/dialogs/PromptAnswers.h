#pragma once

#include "dialogs/pin/CardOSPINDialog.h"

#include <functional>
#include <string>
#include <vector>

namespace dlgtest {

// Answers the next PIN prompt that opens modally on this thread with `answer`.
void AnswerNextPrompt(std::function<void(CCardOSPINDialog&)> answer);
// Types `pin` into the prompt and presses OK.
void Enter(CCardOSPINDialog& prompt, const char* pin);
// Runs `action` once the next modal dialog of type T is open.
void WhenModalOpens(const char* className, std::function<void(QWidget&)> action);

// The message boxes recorded in `log` (VELKORA_MSGBOX_LOG), oldest first.
std::vector<std::string> Boxes(const std::string& log);

} // namespace dlgtest
