#pragma once

// Card and provider utilities of the certificates dialog and the About
// dialog. They run on the user-interface thread; each returns owned text.

#include "platform/crypto/WinCrypt.h"

#include <string>

// The folder for exported certificates: the user hive's "Personal" shell
// folder, else the XDG documents folder, else $TEMP, $TMP or $TMPDIR, else a
// private folder of this user (~/.local/state/velkora/export-<host>, created),
// else the current directory.
std::string GetExportFolder();

// Writes the certificate's DER bytes to the export folder as
// "msign0000.cer" .. "msign0999.cer": the first name that is free or whose
// old file can be deleted; when all 1000 are taken, the same in the private
// folder above. The path written, or empty (null certificate, no name left in
// either, a write failure).
std::string SaveCertificateFile(PCCERT_CONTEXT cert);

// Have the card's provider change or unblock the PIN of the certificate's
// key: the provider asks the user and talks to the card itself. True when
// the certificate's key could be reached (also when its container is not
// the minidriver's: no command is sent then).
bool CspChangePin(PCCERT_CONTEXT cert);
bool CspUnblockPin(PCCERT_CONTEXT cert);

// The source (reader name or "STORE") of the last list entry whose container
// path equals `path` without regard to case; empty when none. Always false:
// the answer is `readerName`.
bool ReaderForContainer(const std::string& path, std::string& readerName);

// The reader that a container name's tail encodes, by the reader list of
// now; empty when it is beyond the list.
std::string ReaderNameFromContainer(const WCHAR* containerName);

// The provider registered for the card type of ATR number `index` (1 to 9)
// of the known ATRs, or "Unknown Cryptographic Service Provider".
std::string ProviderNameByAtrIndex(int index);
