#include "dialogs/perso/DecryptP7M.h"

#include "platform/certstore/CertStore.h"
#include "platform/crypto/CryptMsg.h"

#include <algorithm>
#include <limits>

namespace {

struct StoreClose {
    void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
using StoreOwner = std::unique_ptr<void, StoreClose>;

} // namespace

std::unique_ptr<velk::SecureBuffer> DecryptP7M(std::span<const uint8_t> file) {
    if (file.empty() || file.size() > std::numeric_limits<DWORD>::max()) {
        return nullptr;
    }
    const StoreOwner store(CertOpenSystemStoreA(0, "MY"));
    if (!store) {
        return nullptr;
    }
    HCERTSTORE stores[] = {static_cast<HCERTSTORE>(store.get())};
    CRYPT_DECRYPT_MESSAGE_PARA para{};
    para.cbSize = sizeof(para);
    para.dwMsgAndCertEncodingType = PKCS_7_ASN_ENCODING | X509_ASN_ENCODING;
    para.cCertStore = 1;
    para.rghCertStore = stores;

    DWORD size = 0;
    if (!CryptDecryptMessage(&para, file.data(), static_cast<DWORD>(file.size()), nullptr, &size,
                             nullptr) ||
        size == 0) {
        return nullptr;
    }
    auto content = std::make_unique<velk::SecureBuffer>(size);
    if (!content->Ok() ||
        !CryptDecryptMessage(&para, file.data(), static_cast<DWORD>(file.size()), content->Data(),
                             &size, nullptr) ||
        size > content->Size()) {
        return nullptr;
    }
    // The second call may report fewer bytes than the first asked for.
    if (size < content->Size()) {
        auto exact = std::make_unique<velk::SecureBuffer>(size);
        if (!exact->Ok()) {
            return nullptr;
        }
        std::copy_n(content->Data(), size, exact->Data());
        return exact;
    }
    return content;
}
