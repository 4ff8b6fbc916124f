// PIN commands through the card's provider: the provider takes a command
// string as its exchange-key PIN, asks the user and talks to the card itself.

#include "monitor/CardUtils.h"

#include "monitor/ContainerName.h"
#include "monitor/CryptOwners.h"

#include <vector>

namespace {

constexpr const char* kChangePin = "md@cp@0";
constexpr const char* kUnblockPin = "md@up@0";
constexpr const char* kEndCommands = "md@cls@@";
constexpr int kCommandAttempts = 3;

bool SetPinParam(HCRYPTPROV prov, const std::string& value) {
    return CryptSetProvParam(prov, PP_KEYEXCHANGE_PIN, reinterpret_cast<const BYTE*>(value.c_str()),
                             0) != FALSE;
}

std::string ContainerOf(HCRYPTPROV prov) {
    DWORD length = 0;
    if (!CryptGetProvParam(prov, PP_CONTAINER, nullptr, &length, 0) || length == 0) {
        return {};
    }
    std::vector<char> name(length + 1, '\0');
    if (!CryptGetProvParam(prov, PP_CONTAINER, reinterpret_cast<BYTE*>(name.data()), &length, 0)) {
        return {};
    }
    return name.data();
}

bool SendPinCommand(PCCERT_CONTEXT cert, const char* command) {
    if (cert == nullptr || cert->pCertInfo == nullptr) {
        return false;
    }
    monitor::ProvOwner prov;
    if (!CryptAcquireContextA(prov.Put(), nullptr, nullptr, PROV_RSA_FULL, 0)) {
        if (GetLastError() != NTE_BAD_KEYSET ||
            !CryptAcquireContextA(prov.Put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET)) {
            return false;
        }
    }
    const monitor::StoreOwner store = monitor::OpenUserStore("MY", prov.Get());
    if (!store) {
        return false;
    }
    const monitor::CertOwner found(CertFindCertificateInStore(
        store.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_PUBLIC_KEY,
        &cert->pCertInfo->SubjectPublicKeyInfo, nullptr));
    if (!found) {
        return false;
    }
    monitor::ProvOwner key;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    if (!CryptAcquireCertificatePrivateKey(found.Get(), 0, nullptr, key.Put(), &keySpec,
                                           &callerFrees)) {
        return false;
    }
    const std::string container = ContainerOf(key.Get());
    const char selector = monitor::TailChar(container, 7);
    if (!monitor::HasContainerMarker(container) || selector == '\0') {
        return true; // not a container of the minidriver: nothing to send
    }
    const std::string text = std::string(command) + selector;
    for (int attempt = 0; attempt < kCommandAttempts; ++attempt) {
        if (SetPinParam(key.Get(), text)) {
            break;
        }
    }
    SetPinParam(key.Get(), kEndCommands);
    return true;
}

} // namespace

bool CspChangePin(PCCERT_CONTEXT cert) {
    return SendPinCommand(cert, kChangePin);
}

bool CspUnblockPin(PCCERT_CONTEXT cert) {
    return SendPinCommand(cert, kUnblockPin);
}
