#include "platform/crypto/ProviderInstall.h"

#include "platform/certstore/HiveKey.h"
#include "platform/crypto/ProviderModule.h"
#include "platform/registry/RegTransaction.h"

namespace velk {

namespace {

LONG Write(const std::string& path, const char* value, const std::string* text,
           const uint32_t* number) {
    CHiveKey key;
    if (const LONG error = key.Create(HKEY_LOCAL_MACHINE, path)) {
        return error;
    }
    return text ? key.SetString(value, *text) : key.SetDword(value, *number);
}

} // namespace

LONG RegisterProvider(const std::string& name, const std::string& imagePath, DWORD type) {
    if (name.empty() || name.find('\\') != std::string::npos) {
        return ERROR_INVALID_PARAMETER;
    }
    RegTransaction transaction(HKEY_LOCAL_MACHINE);
    if (const LONG error = transaction.Status()) {
        return error;
    }
    const std::string path = crypto::ProviderKeyPath(name);
    const auto typeValue = static_cast<uint32_t>(type);
    if (const LONG error = Write(path, "Image Path", &imagePath, nullptr)) {
        return error;
    }
    if (const LONG error = Write(path, "Type", nullptr, &typeValue)) {
        return error;
    }
    return transaction.Commit();
}

LONG UnregisterProvider(const std::string& name) {
    if (name.empty() || name.find('\\') != std::string::npos) {
        return ERROR_INVALID_PARAMETER;
    }
    return RegDeleteTreeA(HKEY_LOCAL_MACHINE, crypto::ProviderKeyPath(name).c_str());
}

LONG SetDefaultProvider(DWORD type, const std::string& name) {
    return Write(crypto::ProviderTypeKeyPath(type), "Name", &name, nullptr);
}

LONG InstallSoftwareProvider() {
    RegTransaction transaction(HKEY_LOCAL_MACHINE);
    if (const LONG error = transaction.Status()) {
        return error;
    }
    for (const char* name : {MS_ENHANCED_PROV_A, MS_DEF_PROV_A}) {
        if (const LONG error = RegisterProvider(name, kBuiltinProviderImage, PROV_RSA_FULL)) {
            return error;
        }
    }
    if (const LONG error = SetDefaultProvider(PROV_RSA_FULL, MS_ENHANCED_PROV_A)) {
        return error;
    }
    return transaction.Commit();
}

} // namespace velk
