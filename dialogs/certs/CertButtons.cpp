#include "dialogs/certs/CertButtons.h"

CertButtonState ButtonStateFor(const CertRow* selected) {
    CertButtonState state;
    if (selected == nullptr) {
        return state;
    }
    state.show = state.changePin = state.unblockPin = true;
    if (selected->containerType == 2) {
        state.personalize = true;
    }
    if (selected->containerType == 7) {
        state.changePin = state.unblockPin = true;
    }
    // An authority's certificate has no PIN of its own: this wins over the type.
    if (selected->containerFlag == 1) {
        state.changePin = state.unblockPin = false;
    }
    return state;
}

CertRowImage RowImageFor(const CertRow& row) {
    if (row.containerFlag == 1) {
        return kImageAuthority;
    }
    return row.qualified ? kImageQualified : kImageUser;
}
