#pragma once

// Surroundings of the PKCS #11 tests: a private pcscd with one vpcd reader,
// the virtual T-COS 3.0 card in it (its PINs still NULL-PINs, or set), and
// the module loaded from the build.

#include "minidriver/pkcs11/Cryptoki.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualPcscd.h"

#include <cstdint>
#include <string>
#include <vector>

namespace p11test {

using Bytes = std::vector<uint8_t>;

inline constexpr const char* kCardPin = "123456";
inline constexpr const char* kSigPin = "654321";

using velktest::TempDir;

// The card image: fresh (NULL-PINs) or with Card PIN1 kCardPin and SigG PIN1 kSigPin.
bool MakeCardImage(const std::string& path, bool pinsSet);

// The module, dlopened; functions() is its function list.
class Module {
public:
    Module();
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    CK_FUNCTION_LIST* operator->() const { return m_functions; }
    bool Ok() const { return m_functions != nullptr; }

private:
    void* m_handle = nullptr;
    CK_FUNCTION_LIST* m_functions = nullptr;
};

// Whether `signature` is a SHA-256 RSA signature of `data` by the certificate's key.
bool Verifies(const Bytes& certDer, const Bytes& data, const Bytes& signature);

// Runs a shell command; its exit status and standard output (stderr joined).
int RunShell(const std::string& command, std::string& output);

inline std::string ModulePath() {
    return VELK_PKCS11_MODULE;
}

} // namespace p11test
