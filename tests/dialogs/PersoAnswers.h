#pragma once

#include <string>
#include <vector>

class CDlgPersoTCOS30;

namespace dlgtest {

// Answers the next PIN prompts, one entry each, in order; an empty entry cancels its prompt.
// The group text of each prompt answered goes to `groups`.
void AnswerPrompts(std::vector<std::string> entries, std::vector<std::string>* groups = nullptr);

// The four PIN state statics, and the four PIN button captions, joined by '|'.
std::string States(const CDlgPersoTCOS30& dialog);
std::string Captions(const CDlgPersoTCOS30& dialog);

// The text of control `id`.
std::string ItemText(const CDlgPersoTCOS30& dialog, int id);

// The text of a message box line of the box log.
std::string BoxText(const std::string& box);

} // namespace dlgtest
