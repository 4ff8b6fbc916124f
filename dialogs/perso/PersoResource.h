#pragma once

#include "dialogs/common/DialogResource.h"

// Dialog resource 315: the personalization dialog's layout and its own texts, with the
// catalogue ids of the title and the group boxes that SetDialogTexts shows instead.
const DlgResource& PersoTcos30Resource();
