#pragma once

// The tray command "Show Certificates": runs the certificates dialog modally unless one is
// open already. True when a personalization started from it has launched a restarted
// instance of the program, which this one must then make way for.
bool ShowCertificatesDialog();

// Closes an open certificates dialog as its Back button does (the program is ending).
void CloseCertificatesDialog();
