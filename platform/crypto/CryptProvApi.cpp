// CryptAcquireContextA and the calls on provider contexts and their keys.

#include "platform/certstore/CertStore.h"
#include "platform/certstore/WideText.h"
#include "platform/crypto/CryptProv.h"
#include "platform/crypto/ProvHandles.h"
#include "platform/crypto/ProviderModule.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace velk::crypto;

namespace {

constexpr DWORD kAcquireFlags = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                                CRYPT_MACHINE_KEYSET | CRYPT_SILENT |
                                CRYPT_DEFAULT_CONTAINER_OPTIONAL;
constexpr uint32_t kMaxContainers = 100000; // an end for a module that never says "no more"

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL Result(uint32_t error) {
    return error == 0 ? TRUE : Fail(error);
}

// The usual out-buffer rule: null asks for the size, too small is
// ERROR_MORE_DATA with the size.
BOOL CopyOut(const void* data, size_t size, BYTE* pbData, DWORD* pdwDataLen) {
    if (!pbData) {
        *pdwDataLen = static_cast<DWORD>(size);
        return TRUE;
    }
    if (*pdwDataLen < size) {
        *pdwDataLen = static_cast<DWORD>(size);
        return Fail(ERROR_MORE_DATA);
    }
    if (size > 0) {
        std::memcpy(pbData, data, size);
    }
    *pdwDataLen = static_cast<DWORD>(size);
    return TRUE;
}

// Calls a module function that follows the out-buffer rule with the caller's
// buffer directly.
template <typename Call> BOOL ModuleOut(Call call, BYTE* pbData, DWORD* pdwDataLen) {
    size_t length = pbData ? static_cast<size_t>(*pdwDataLen) : 0;
    const uint32_t error = call(pbData, &length);
    if (error == 0 || error == ERROR_MORE_DATA) {
        *pdwDataLen = static_cast<DWORD>(length);
    }
    return Result(error);
}

BOOL EnumContainers(CProvContext& context, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
    const auto& functions = context.Functions();
    if (dwFlags & CRYPT_FIRST) {
        context.m_enumIndex = 0;
    }
    if (!pbData) {
        // The size of the longest name, so that one buffer serves the whole
        // enumeration.
        size_t longest = 0;
        uint32_t index = 0;
        for (; index < kMaxContainers; ++index) {
            size_t length = 0;
            const uint32_t error =
                functions.enum_containers(context.Handle(), index, nullptr, &length);
            if (error == ERROR_NO_MORE_ITEMS) {
                break;
            }
            if (error != 0) {
                return Fail(error);
            }
            longest = std::max(longest, length);
        }
        if (index == 0) {
            return Fail(ERROR_NO_MORE_ITEMS);
        }
        *pdwDataLen = static_cast<DWORD>(longest);
        return TRUE;
    }
    if (context.m_enumIndex >= kMaxContainers) {
        return Fail(ERROR_NO_MORE_ITEMS);
    }
    const BOOL ok = ModuleOut(
        [&](BYTE* out, size_t* length) {
            return functions.enum_containers(context.Handle(), context.m_enumIndex,
                                             reinterpret_cast<char*>(out), length);
        },
        pbData, pdwDataLen);
    if (ok) {
        ++context.m_enumIndex;
    }
    return ok;
}

} // namespace

BOOL CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                          DWORD dwProvType, DWORD dwFlags) {
    if (!phProv) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *phProv = 0;
    if (dwFlags & ~kAcquireFlags) {
        return Fail(NTE_BAD_FLAGS);
    }
    try {
        ResolvedProvider provider;
        DWORD error = 0;
        if (!ResolveProvider(szProvider, dwProvType, provider, error)) {
            return Fail(error);
        }
        VelkProviderHandle* handle = nullptr;
        if (const uint32_t result =
                provider.functions.acquire(szContainer, static_cast<uint32_t>(dwFlags), &handle)) {
            return Fail(result);
        }
        if (dwFlags & CRYPT_DELETEKEYSET) {
            if (handle) {
                provider.functions.release(handle);
            }
            return TRUE;
        }
        if (!handle) {
            return Fail(NTE_PROVIDER_DLL_FAIL);
        }
        *phProv = RegisterProv(
            std::make_shared<CProvContext>(provider.functions, handle, provider.name, dwProvType));
        return TRUE;
    } catch (const std::bad_alloc&) {
        return Fail(NTE_NO_MEMORY);
    }
}

BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
    if (!UnregisterProv(hProv)) {
        return Fail(NTE_BAD_UID);
    }
    return dwFlags == 0 ? TRUE : Fail(NTE_BAD_FLAGS);
}

BOOL CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags) {
    const auto context = LookupProv(hProv);
    if (!context) {
        return Fail(NTE_BAD_UID);
    }
    if (!pdwDataLen) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    try {
        const std::lock_guard lock(context->m_mutex);
        switch (dwParam) {
        case PP_NAME:
            return CopyOut(context->Name().c_str(), context->Name().size() + 1, pbData, pdwDataLen);
        case PP_CONTAINER:
        case PP_UNIQUE_CONTAINER:
            return ModuleOut(
                [&](BYTE* out, size_t* length) {
                    return context->Functions().get_container_name(
                        context->Handle(), reinterpret_cast<char*>(out), length);
                },
                pbData, pdwDataLen);
        case PP_ENUMCONTAINERS:
            return EnumContainers(*context, pbData, pdwDataLen, dwFlags);
        case PP_PROVTYPE: {
            const DWORD type = context->Type();
            return CopyOut(&type, sizeof type, pbData, pdwDataLen);
        }
        default:
            return Fail(NTE_BAD_TYPE);
        }
    } catch (const std::bad_alloc&) {
        return Fail(NTE_NO_MEMORY);
    }
}

BOOL CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD /*dwFlags*/) {
    const auto context = LookupProv(hProv);
    if (!context) {
        return Fail(NTE_BAD_UID);
    }
    if (dwParam != PP_KEYEXCHANGE_PIN && dwParam != PP_SIGNATURE_PIN) {
        return Fail(NTE_BAD_TYPE);
    }
    if (!pbData) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const size_t length = std::strlen(reinterpret_cast<const char*>(pbData));
    const std::lock_guard lock(context->m_mutex);
    return Result(context->Functions().set_param(context->Handle(), static_cast<uint32_t>(dwParam),
                                                 pbData, length));
}

BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
    const auto context = LookupProv(hProv);
    if (!context) {
        return Fail(NTE_BAD_UID);
    }
    if (!phUserKey) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *phUserKey = 0;
    if (dwKeySpec != AT_KEYEXCHANGE && dwKeySpec != AT_SIGNATURE) {
        return Fail(NTE_BAD_KEY);
    }
    try {
        {
            const std::lock_guard lock(context->m_mutex);
            if (const uint32_t error = context->Functions().get_user_key(
                    context->Handle(), static_cast<uint32_t>(dwKeySpec))) {
                return Fail(error);
            }
        }
        *phUserKey = RegisterKey(std::make_shared<CKeyContext>(CKeyContext{context, dwKeySpec}));
        return TRUE;
    } catch (const std::bad_alloc&) {
        return Fail(NTE_NO_MEMORY);
    }
}

BOOL CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                      DWORD /*dwFlags*/) {
    const auto key = LookupKey(hKey);
    if (!key) {
        return Fail(NTE_BAD_KEY);
    }
    if (!pdwDataLen) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (dwParam != KP_CERTIFICATE) {
        return Fail(NTE_BAD_TYPE);
    }
    CProvContext& context = *key->provider;
    const std::lock_guard lock(context.m_mutex);
    return ModuleOut(
        [&](BYTE* out, size_t* length) {
            return context.Functions().get_key_certificate(
                context.Handle(), static_cast<uint32_t>(key->keySpec), out, length);
        },
        pbData, pdwDataLen);
}

BOOL CryptDestroyKey(HCRYPTKEY hKey) {
    return UnregisterKey(hKey) ? TRUE : Fail(NTE_BAD_KEY);
}

BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
                  DWORD* pdwDataLen) {
    const auto key = LookupKey(hKey);
    if (!key) {
        return Fail(NTE_BAD_KEY);
    }
    if (hHash != 0 || !Final || dwFlags != 0 || !pbData || !pdwDataLen || *pdwDataLen == 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    CProvContext& context = *key->provider;
    if (!context.Functions().decrypt) {
        return Fail(NTE_NOT_SUPPORTED);
    }
    try {
        const size_t length = *pdwDataLen;
        // CryptoAPI gives RSA ciphertext least significant byte first.
        std::vector<uint8_t> ciphertext(pbData, pbData + length);
        std::reverse(ciphertext.begin(), ciphertext.end());
        std::vector<uint8_t> plaintext(length);
        size_t plainLength = plaintext.size();
        uint32_t error = 0;
        {
            const std::lock_guard lock(context.m_mutex);
            error = context.Functions().decrypt(
                context.Handle(), static_cast<uint32_t>(key->keySpec), ciphertext.data(),
                ciphertext.size(), plaintext.data(), &plainLength);
        }
        if (error == 0 && plainLength > length) {
            error = NTE_BAD_LEN;
        }
        if (error == 0) {
            std::memcpy(pbData, plaintext.data(), plainLength);
            *pdwDataLen = static_cast<DWORD>(plainLength);
        }
        OPENSSL_cleanse(plaintext.data(), plaintext.size());
        return Result(error);
    } catch (const std::bad_alloc&) {
        return Fail(NTE_NO_MEMORY);
    }
}

BOOL CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags, void* /*pvParameters*/,
                                       HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey,
                                       DWORD* pdwKeySpec, BOOL* pfCallerFreeProvOrNCryptKey) {
    if (!pCert || !phCryptProvOrNCryptKey) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *phCryptProvOrNCryptKey = 0;
    try {
        DWORD size = 0;
        if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
            return Fail(GetLastError() == CRYPT_E_NOT_FOUND ? CRYPT_E_NO_KEY_PROPERTY
                                                            : GetLastError());
        }
        // DWORD-aligned storage for the structure the property hands out.
        std::vector<uint64_t> buffer(size / sizeof(uint64_t) + 1);
        if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                               &size)) {
            return FALSE;
        }
        CRYPT_KEY_PROV_INFO info{};
        std::memcpy(&info, buffer.data(), sizeof info);
        const std::string container = velk::WideToUtf8(velk::WideView(info.pwszContainerName));
        const std::string provider = velk::WideToUtf8(velk::WideView(info.pwszProvName));
        DWORD flags = info.dwFlags & (CRYPT_MACHINE_KEYSET | CRYPT_SILENT);
        if (dwFlags & CRYPT_ACQUIRE_SILENT_FLAG) {
            flags |= CRYPT_SILENT;
        }
        HCRYPTPROV hProv = 0;
        if (!CryptAcquireContextA(&hProv, container.empty() ? nullptr : container.c_str(),
                                  provider.empty() ? nullptr : provider.c_str(), info.dwProvType,
                                  flags)) {
            return FALSE;
        }
        *phCryptProvOrNCryptKey = hProv;
        if (pdwKeySpec) {
            *pdwKeySpec = info.dwKeySpec;
        }
        if (pfCallerFreeProvOrNCryptKey) {
            *pfCallerFreeProvOrNCryptKey = TRUE;
        }
        return TRUE;
    } catch (const std::bad_alloc&) {
        return Fail(NTE_NO_MEMORY);
    }
}
