#include "tests/pkcs11/P11TestCard.h"

#include "tests/support/RunCommand.h"
#include "vcard/VirtualCard.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <dlfcn.h>
#include <memory>
#include <string_view>

namespace p11test {

bool MakeCardImage(const std::string& path, bool pinsSet) {
    auto card = vcard::OpenCard("tcos30", path);
    if (!card) {
        return false;
    }
    if (pinsSet) {
        const std::string_view cardPin = kCardPin;
        const std::string_view sigPin = kSigPin;
        return card->SetPin(0x00,
                            {reinterpret_cast<const uint8_t*>(cardPin.data()), cardPin.size()}) &&
               card->SetPin(0x81,
                            {reinterpret_cast<const uint8_t*>(sigPin.data()), sigPin.size()}) &&
               card->Save();
    }
    return true;
}

Module::Module() {
    // Kept loaded to the end, so that sanitizers can name its code.
    m_handle = dlopen(VELK_PKCS11_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (m_handle == nullptr) {
        return;
    }
    auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(m_handle, "C_GetFunctionList"));
    if (get == nullptr || get(&m_functions) != CKR_OK) {
        m_functions = nullptr;
    }
}

Module::~Module() {
    if (m_functions != nullptr) {
        m_functions->C_Finalize(nullptr);
    }
    if (m_handle != nullptr) {
        dlclose(m_handle);
    }
}

// Whether `signature` is an RSA SHA-256 signature of `data` by the key of the certificate.
bool Verifies(const Bytes& certDer, const Bytes& data, const Bytes& signature) {
    const unsigned char* p = certDer.data();
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        d2i_X509(nullptr, &p, static_cast<long>(certDer.size())), X509_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return cert && ctx &&
           EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr,
                                X509_get0_pubkey(cert.get())) == 1 &&
           EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), data.data(),
                            data.size()) == 1;
}

int RunShell(const std::string& command, std::string& output) {
    velktest::CommandRun run = velktest::RunCommand(command + " 2>&1 </dev/null");
    output = std::move(run.out);
    return run.status;
}

} // namespace p11test
