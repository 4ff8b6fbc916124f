#pragma once

// The parts of the certificate utilities that need the desktop.

#include "platform/crypto/WinCrypt.h"

// Saves the certificate as a .cer file in the export folder and opens it
// with the desktop's viewer; true when the desktop could open it.
bool SaveAndOpenCertificate(PCCERT_CONTEXT cert);

// Fills the certificate list from the store when there is none, telling the
// user in a message box when CryptoAPI or the store cannot be opened.
void BuildCertificateList(void* ownerWindow = nullptr);

// Handles the events waiting for the calling thread during a long
// operation of the user-interface thread; the last peek result (0: none
// waiting any more).
int PumpMessages();
