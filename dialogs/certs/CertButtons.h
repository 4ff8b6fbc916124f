#pragma once

#include "monitor/CertCollection.h"

// Which buttons of the certificates dialog the selected row allows, and its row image.
struct CertButtonState {
    bool show = false;
    bool changePin = false;
    bool unblockPin = false;
    bool personalize = false; // shown, not just enabled
};

// `selected`: null when no row is selected.
CertButtonState ButtonStateFor(const CertRow* selected);

// The row images in the list's image list.
enum CertRowImage : int {
    kImageAuthority = 0, // the certificate of an authority on the card
    kImageUser = 1,
    kImageQualified = 2, // a user certificate with qcStatements
};
CertRowImage RowImageFor(const CertRow& row);
