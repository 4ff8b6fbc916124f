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

} // namespace velkmd
