#include "dialogs/perso/DlgPersoTCOS30.h"

void CDlgPersoTCOS30::PersonalizeFromP7M() {}
