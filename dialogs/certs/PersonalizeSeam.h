#pragma once

#include <functional>
#include <string>

// The personalization dialog that the certificates dialog's Personalize button opens for the
// card in a reader. It runs modally and answers whether it launched a restarted instance of
// the program. Until one is installed, Personalize does nothing.
using PersonalizeRunner = std::function<bool(const std::string& readerName)>;

void SetPersonalizeRunner(PersonalizeRunner runner);
// False (no restart) when none is installed.
bool RunPersonalization(const std::string& readerName);
