#pragma once

#include "card/StatusWords.h"

#include <string>

// What the personalization dialog shows for the state query of PIN `index` (0 Card PIN1, 1 Card
// PIN2, 2 SigG PIN1, 3 SigG PIN2): the state text in the current language and the caption of
// the PIN's button, which carries the mode of its next operation.
std::string PinStateText(int index, PinResult status);
const char* PinButtonCaption(int index, PinResult status);
