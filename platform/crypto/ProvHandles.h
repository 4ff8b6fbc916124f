#pragma once

// The objects behind HCRYPTPROV and HCRYPTKEY. A handle is a number from one
// process-wide counter, valid while its object is in the table; a key holds
// its provider context, so the context's module handle lives until both are
// gone.

#include "platform/certstore/WinCryptTypes.h"
#include "platform/crypto/ProviderInterface.h"

#include <memory>
#include <mutex>
#include <string>

namespace velk::crypto {

class CProvContext {
public:
    CProvContext(const VelkProviderFunctions& functions, VelkProviderHandle* handle,
                 std::string name, DWORD type)
        : m_functions(functions), m_handle(handle), m_name(std::move(name)), m_type(type) {}
    ~CProvContext() {
        if (m_handle) {
            m_functions.release(m_handle);
        }
    }
    CProvContext(const CProvContext&) = delete;
    CProvContext& operator=(const CProvContext&) = delete;

    const VelkProviderFunctions& Functions() const { return m_functions; }
    VelkProviderHandle* Handle() const { return m_handle; }
    const std::string& Name() const { return m_name; }
    DWORD Type() const { return m_type; }

    std::mutex m_mutex;       // one call into the module at a time
    uint32_t m_enumIndex = 0; // the next PP_ENUMCONTAINERS position

private:
    const VelkProviderFunctions m_functions;
    VelkProviderHandle* const m_handle;
    const std::string m_name;
    const DWORD m_type;
};

struct CKeyContext {
    std::shared_ptr<CProvContext> provider;
    DWORD keySpec = 0;
};

ULONG_PTR RegisterProv(std::shared_ptr<CProvContext> context);
std::shared_ptr<CProvContext> LookupProv(ULONG_PTR handle);
bool UnregisterProv(ULONG_PTR handle);

ULONG_PTR RegisterKey(std::shared_ptr<CKeyContext> key);
std::shared_ptr<CKeyContext> LookupKey(ULONG_PTR handle);
bool UnregisterKey(ULONG_PTR handle);

} // namespace velk::crypto
