// libFuzzer target: a store entry's Blob as it may lie in a hive file. A
// parsed blob must serialise back to what parses the same, and its
// certificate and key-provider information must go through the context
// calls without harm.

#include "platform/certstore/CertBlob.h"
#include "platform/certstore/CertStore.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace velk::certstore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto blob = ParseCertBlob(std::span(data, size));
    if (!blob) {
        return 0;
    }
    const auto again = ParseCertBlob(SerializeCertBlob(*blob));
    if (!again || again->der != blob->der || again->sequence != blob->sequence ||
        again->properties != blob->properties) {
        __builtin_trap();
    }
    PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING, blob->der.data(),
                                                          static_cast<DWORD>(blob->der.size()));
    if (!context) {
        return 0;
    }
    if (const auto& info = blob->properties.keyProvInfo) {
        std::u16string container = info->container;
        std::u16string provider = info->provider;
        std::vector<CRYPT_KEY_PROV_PARAM> params;
        for (const auto& p : info->params) {
            params.push_back({p.param, const_cast<BYTE*>(p.data.data()),
                              static_cast<DWORD>(p.data.size()), p.flags});
        }
        CRYPT_KEY_PROV_INFO in{container.data(),
                               provider.data(),
                               info->provType,
                               info->flags,
                               static_cast<DWORD>(params.size()),
                               params.empty() ? nullptr : params.data(),
                               info->keySpec};
        if (CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0, &in)) {
            DWORD length = 0;
            if (CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                                  &length)) {
                std::vector<uint64_t> out(length / sizeof(uint64_t) + 1);
                CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, out.data(),
                                                  &length);
            }
        }
    }
    const CERT_INFO* certInfo = context->pCertInfo;
    CertFindExtension("1.3.6.1.5.5.7.1.3", certInfo->cExtension, certInfo->rgExtension);
    WTHelperCertIsSelfSigned(X509_ASN_ENCODING, context->pCertInfo);
    CertFreeCertificateContext(context);
    return 0;
}
