#include "minidriver/install/MdInstall.h"

#include "platform/crypto/ProviderInstall.h"
#include "platform/scarddb/SCardDb.h"

namespace velkmd {

long InstallMinidriver(const std::string& moduleDirectory) {
    std::string image = moduleDirectory;
    if (!image.empty() && image.back() != '/') {
        image += '/';
    }
    image += kCspModuleFile;
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
