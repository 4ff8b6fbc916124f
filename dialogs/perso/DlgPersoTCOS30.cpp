#include "dialogs/perso/DlgPersoTCOS30.h"

CDlgPersoTCOS30::CDlgPersoTCOS30(std::string readerName, QWidget* parent)
    : QDialog(parent), m_strReader(std::move(readerName)) {}

CDlgPersoTCOS30::~CDlgPersoTCOS30() = default;
