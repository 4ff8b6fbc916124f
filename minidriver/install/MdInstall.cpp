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

} // namespace velkmd
