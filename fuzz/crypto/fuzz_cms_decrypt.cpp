// libFuzzer target: CryptDecryptMessage on arbitrary bytes, against a "MY"
// store in a hive of its own that holds one software certificate linked to
// a container of the built-in software provider (which has no keys, so a
// message that gets as far as the key unwrap fails there). Each input goes
// through the size call and the data call with the size it reported.

#include "fuzz/crypto/FuzzRecipientCert.h"
#include "platform/crypto/CryptMsg.h"
#include "platform/crypto/WinCrypt.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

HCERTSTORE g_my = nullptr;
std::string g_dir;

void RemoveHives() {
    CertCloseStore(g_my, 0);
    std::error_code ignored;
    std::filesystem::remove_all(g_dir, ignored);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velk-fuzz-cms-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    g_dir = pattern;
    setenv("VELKORA_USER_HIVE", (g_dir + "/user.hive").c_str(), 1);
    setenv("VELKORA_MACHINE_HIVE", (g_dir + "/machine.hive").c_str(), 1);
    std::atexit(RemoveHives);

    g_my = CertOpenSystemStoreA(0, "MY");
    PCCERT_CONTEXT cert = nullptr;
    if (g_my == nullptr || !CertAddEncodedCertificateToStore(
                               g_my, X509_ASN_ENCODING, kFuzzRecipientCert,
                               sizeof kFuzzRecipientCert, CERT_STORE_ADD_ALWAYS, &cert)) {
        std::abort();
    }
    std::u16string container = u"fuzz";
    std::u16string provider = u"" MS_ENHANCED_PROV_A;
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = container.data();
    info.pwszProvName = provider.data();
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    if (!CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) {
        std::abort();
    }
    CertFreeCertificateContext(cert);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CRYPT_DECRYPT_MESSAGE_PARA para{sizeof para, PKCS_7_ASN_ENCODING | X509_ASN_ENCODING, 1, &g_my,
                                    0};
    DWORD length = 0;
    PCCERT_CONTEXT exchange = nullptr;
    if (!CryptDecryptMessage(&para, data, static_cast<DWORD>(size), nullptr, &length, &exchange)) {
        if (exchange != nullptr) {
            __builtin_trap(); // a failure hands out no certificate
        }
        return 0;
    }
    CertFreeCertificateContext(exchange);
    std::vector<BYTE> buffer(length);
    DWORD got = length;
    if (CryptDecryptMessage(&para, data, static_cast<DWORD>(size), buffer.data(), &got, nullptr) &&
        got > length) {
        __builtin_trap(); // more than the size call promised
    }
    return 0;
}
