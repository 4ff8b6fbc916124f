#include "monitor/BuildCertificateList.h"

#include "monitor/CardUtils.h"
#include "monitor/CertCollection.h"
#include "monitor/ContainerName.h"
#include "monitor/CryptOwners.h"
#include "monitor/KeyProvInfo.h"
#include "platform/certstore/WideText.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

std::string AcquireFailed(DWORD code) {
    char text[80];
    std::snprintf(text, sizeof text, "CryptAcquireContext failed(%X)", static_cast<unsigned>(code));
    return text;
}

std::string OpenStoreFailed(DWORD code) {
    char text[80];
    std::snprintf(text, sizeof text, "CertOpenStore failed (%X)", static_cast<unsigned>(code));
    return text;
}

} // namespace

void BuildCertificateListCore(std::string& error) {
    error.clear();
    if (g_CertCollection.Exists()) {
        return;
    }
    std::vector<CertEntry> entries;
    monitor::ProvOwner prov;
    if (!CryptAcquireContextA(prov.Put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        error = AcquireFailed(GetLastError());
        g_CertCollection.InstallIfAbsent({});
        return;
    }
    const monitor::StoreOwner store(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, prov.Get(),
                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_NO_CRYPT_RELEASE_FLAG, "MY"));
    if (!store) {
        error = OpenStoreFailed(GetLastError());
        g_CertCollection.InstallIfAbsent({});
        return;
    }
    for (PCCERT_CONTEXT cert =
             CertFindCertificateInStore(store.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                        CERT_FIND_ANY, nullptr, nullptr);
         cert != nullptr;
         cert = CertFindCertificateInStore(store.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                           CERT_FIND_ANY, nullptr, cert)) {
        const auto container = monitor::KeyProvContainerWide(cert);
        if (!container || !monitor::HasContainerMarker(velk::WideToUtf8(*container))) {
            continue;
        }
        entries.push_back(std::make_shared<const CCertCollection>(
            cert, *container, ReaderNameFromContainer(container->c_str())));
    }
    g_CertCollection.InstallIfAbsent(std::move(entries));
}
