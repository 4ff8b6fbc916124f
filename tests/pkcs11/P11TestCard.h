#pragma once

// Surroundings of the PKCS #11 tests: a private pcscd with one vpcd reader,
// the virtual T-COS 3.0 card in it (its PINs still NULL-PINs, or set), and
// the module loaded from the build.

#include "minidriver/pkcs11/Cryptoki.h"
#include "tests/support/VirtualPcscd.h"

#include <memory>
#include <string>
#include <vector>

namespace p11test {

inline constexpr const char* kCardPin = "123456";
inline constexpr const char* kSigPin = "654321";

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

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

// Runs a shell command; its exit status and standard output (stderr joined).
int RunShell(const std::string& command, std::string& output);

inline std::string ModulePath() {
    return VELK_PKCS11_MODULE;
}

} // namespace p11test
