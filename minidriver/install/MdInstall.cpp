#include "minidriver/install/MdInstall.h"

#include "platform/crypto/ProviderInstall.h"
#include "platform/scarddb/SCardDb.h"

#include <filesystem>
#include <system_error>

namespace velkmd {

long InstallMinidriver(const std::string& moduleDirectory) {
    // Stored absolute: a relative path would be looked up wherever each program runs.
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::absolute(moduleDirectory, ec);
    if (ec || moduleDirectory.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string image = (folder.lexically_normal() / kCspModuleFile).string();
    if (const LONG error = velk::RegisterProvider(kProviderName, image, PROV_RSA_FULL)) {
        return error;
    }
    return velk::InstallCardTypes();
}

long UninstallMinidriver() {
    return velk::UnregisterProvider(kProviderName);
}

long PurgeMinidriver() {
    const long provider = UninstallMinidriver();
    if (provider != 0 && provider != ERROR_FILE_NOT_FOUND) {
        return provider;
    }
    for (const velk::CardType& type : velk::KnownCardTypes()) {
        const LONG error = SCardForgetCardTypeA(0, type.name.c_str());
        if (error != SCARD_S_SUCCESS && error != SCARD_E_UNKNOWN_CARD &&
            error != ERROR_FILE_NOT_FOUND) {
            return error;
        }
    }
    return 0;
}

} // namespace velkmd
