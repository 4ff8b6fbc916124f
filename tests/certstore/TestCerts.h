#pragma once

// Certificates made on the fly for the store and provider tests, and small
// helpers around the store calls.

#include "platform/crypto/WinCrypt.h"

#include <openssl/evp.h>

#include <memory>
#include <string>
#include <vector>

namespace velktest {

using KeyPtr = std::shared_ptr<EVP_PKEY>;

struct TestCert {
    std::vector<uint8_t> der;
    KeyPtr key;
};

struct CertRecipe {
    std::string commonName = "Test";
    const TestCert* issuer = nullptr; // null: self-signed
    KeyPtr key;                       // null: a fresh P-256 key
    bool qcStatements = false;
    bool issuerNameIsSubject = false; // issuer name = subject, yet signed by `issuer`
    long serial = 1;

    CertRecipe& Issuer(const TestCert& cert) {
        issuer = &cert;
        return *this;
    }
    CertRecipe& Key(KeyPtr k) {
        key = std::move(k);
        return *this;
    }
    CertRecipe& QcStatements() {
        qcStatements = true;
        return *this;
    }
    CertRecipe& IssuerNameIsSubject() {
        issuerNameIsSubject = true;
        return *this;
    }
    CertRecipe& Serial(long value) {
        serial = value;
        return *this;
    }
};

inline CertRecipe Cert(std::string commonName) {
    CertRecipe recipe;
    recipe.commonName = std::move(commonName);
    return recipe;
}

KeyPtr NewEcKey();
KeyPtr NewRsaKey(int bits = 2048);
TestCert MakeCert(const CertRecipe& recipe);

// Upper-case hex SHA-1 of the DER: the store's key name.
std::string Thumbprint(const std::vector<uint8_t>& der);
std::string Thumbprint(PCCERT_CONTEXT context);

// Owns an open store handle.
struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG); }
};
using Store = std::unique_ptr<void, StoreCloser>;
Store OpenUserStore(const char* name);

struct ContextFree {
    void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
using Context = std::unique_ptr<const CERT_CONTEXT, ContextFree>;
Context CreateContext(const std::vector<uint8_t>& der);

// The thumbprints of a store, in enumeration order (the store freshly opened).
std::vector<std::string> StoreThumbprints(const char* name);

// Sets key-provider information with these wide strings.
bool SetKeyLink(PCCERT_CONTEXT context, const std::u16string& container,
                const std::u16string& provider, DWORD keySpec = AT_KEYEXCHANGE);
// The container name of the key-provider information ("" when there is none).
std::u16string KeyLinkContainer(PCCERT_CONTEXT context);

bool AddToUserStore(const char* name, const TestCert& cert, DWORD disposition);

} // namespace velktest
