#pragma once

#include "platform/crypto/WinCrypt.h"

#include <optional>
#include <string>

namespace monitor {

// The container name of a certificate's key-provider information, UTF-8;
// nullopt when the certificate has none (or it cannot be read).
std::optional<std::string> KeyProvContainer(PCCERT_CONTEXT cert);

// The same as UTF-16, as the information holds it.
std::optional<std::u16string> KeyProvContainerWide(PCCERT_CONTEXT cert);

// Links a certificate to the card container `containerPath` of `provider`:
// PROV_RSA_FULL, no flags, no provider parameters, the exchange key.
bool SetKeyProvInfo(PCCERT_CONTEXT cert, const std::string& containerPath,
                    const std::string& provider);

} // namespace monitor
