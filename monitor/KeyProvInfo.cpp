#include "monitor/KeyProvInfo.h"

#include "platform/certstore/WideText.h"

#include <cstdint>
#include <vector>

namespace monitor {

std::optional<std::u16string> KeyProvContainerWide(PCCERT_CONTEXT cert) {
    if (cert == nullptr) {
        return std::nullopt;
    }
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) ||
        size < sizeof(CRYPT_KEY_PROV_INFO)) {
        return std::nullopt;
    }
    // The information and its strings come in one buffer; 8-byte units keep
    // the structure at its alignment.
    std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                           &size)) {
        return std::nullopt;
    }
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    return std::u16string(velk::WideView(info->pwszContainerName));
}

std::optional<std::string> KeyProvContainer(PCCERT_CONTEXT cert) {
    auto wide = KeyProvContainerWide(cert);
    if (!wide) {
        return std::nullopt;
    }
    return velk::WideToUtf8(*wide);
}

bool SetKeyProvInfo(PCCERT_CONTEXT cert, const std::string& containerPath,
                    const std::string& provider) {
    std::u16string container = velk::Utf8ToWide(containerPath);
    std::u16string providerName = velk::Utf8ToWide(provider);
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = container.data();
    info.pwszProvName = providerName.data();
    info.dwProvType = PROV_RSA_FULL;
    info.dwFlags = 0;
    info.cProvParam = 0;
    info.rgProvParam = nullptr;
    info.dwKeySpec = AT_KEYEXCHANGE;
    return CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info) != FALSE;
}

} // namespace monitor
