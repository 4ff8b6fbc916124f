#include "platform/crypto/SoftProvider.h"

#include "platform/certstore/CertContext.h"
#include "platform/certstore/HiveKey.h"
#include "platform/certstore/WinCryptTypes.h"
#include "platform/registry/RegTransaction.h"

#include <openssl/sha.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace velk::crypto {

namespace {

constexpr const char* kNameValue = "Name";

struct SoftHandle {
    std::string container; // empty for a verification context
    std::vector<std::string> listing;
};

SoftHandle* FromHandle(VelkProviderHandle* handle) {
    return reinterpret_cast<SoftHandle*>(handle);
}

std::string KeyNameFor(const std::string& container) {
    uint8_t digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(container.data()), container.size(), digest);
    return certstore::HexUpper(digest);
}

std::string ContainerKeyPath(const std::string& container) {
    return SoftContainersKeyPath() + "\\" + KeyNameFor(container);
}

// The container a null name stands for: the login user's, as the original
// provider names its default container after the user.
std::string DefaultContainerName() {
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_name && *result->pw_name) {
        return result->pw_name;
    }
    const char* user = std::getenv("USER");
    return user && *user ? user : "default";
}

bool ContainerExists(const std::string& container, uint32_t& error) {
    CHiveKey key;
    const LONG result = key.Open(HKEY_CURRENT_USER, ContainerKeyPath(container), KEY_READ);
    if (result == ERROR_SUCCESS) {
        error = 0;
        return true;
    }
    error = result == ERROR_FILE_NOT_FOUND ? 0 : static_cast<uint32_t>(result);
    return false;
}

uint32_t CreateContainer(const std::string& container) {
    RegTransaction transaction(HKEY_CURRENT_USER);
    if (const LONG error = transaction.Status()) {
        return static_cast<uint32_t>(error);
    }
    uint32_t error = 0;
    if (ContainerExists(container, error)) {
        return NTE_EXISTS;
    }
    if (error) {
        return error;
    }
    CHiveKey key;
    if (const LONG result = key.Create(HKEY_CURRENT_USER, ContainerKeyPath(container))) {
        return static_cast<uint32_t>(result);
    }
    if (const LONG result = key.SetString(kNameValue, container)) {
        return static_cast<uint32_t>(result);
    }
    key.Close();
    return static_cast<uint32_t>(transaction.Commit());
}

uint32_t DeleteContainer(const std::string& container) {
    uint32_t error = 0;
    if (!ContainerExists(container, error)) {
        return error ? error : NTE_BAD_KEYSET;
    }
    const LONG result = RegDeleteTreeA(HKEY_CURRENT_USER, ContainerKeyPath(container).c_str());
    return result == ERROR_FILE_NOT_FOUND ? NTE_BAD_KEYSET : static_cast<uint32_t>(result);
}

uint32_t ListContainers(std::vector<std::string>& out) {
    out.clear();
    CHiveKey root;
    if (const LONG error = root.Open(HKEY_CURRENT_USER, SoftContainersKeyPath(), KEY_READ)) {
        return error == ERROR_FILE_NOT_FOUND ? 0 : static_cast<uint32_t>(error);
    }
    std::vector<std::string> keys;
    if (const LONG error = root.SubkeyNames(keys)) {
        return static_cast<uint32_t>(error);
    }
    for (const auto& keyName : keys) {
        CHiveKey key;
        std::string name;
        // A key whose name value is missing or does not hash to the key is
        // not a container of ours: leave it out.
        if (key.Open(root.Get(), keyName, KEY_READ) == ERROR_SUCCESS &&
            key.QueryString(kNameValue, name) == ERROR_SUCCESS && KeyNameFor(name) == keyName) {
            out.push_back(std::move(name));
        }
    }
    return 0;
}

uint32_t CopyName(const std::string& text, char* buffer, size_t* length) {
    const size_t needed = text.size() + 1;
    if (!buffer) {
        *length = needed;
        return 0;
    }
    if (*length < needed) {
        *length = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, text.c_str(), needed);
    *length = needed;
    return 0;
}

uint32_t Acquire(const char* container, uint32_t flags, VelkProviderHandle** handle) {
    try {
        *handle = nullptr;
        const bool verify = (flags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT;
        const bool hasName = container && *container;
        if (verify) {
            if (hasName || (flags & (CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET))) {
                return NTE_BAD_FLAGS;
            }
            *handle =
                reinterpret_cast<VelkProviderHandle*>(std::make_unique<SoftHandle>().release());
            return 0;
        }
        const std::string name = hasName ? std::string(container) : DefaultContainerName();
        if ((flags & CRYPT_NEWKEYSET) && (flags & CRYPT_DELETEKEYSET)) {
            return NTE_BAD_FLAGS;
        }
        if (flags & CRYPT_DELETEKEYSET) {
            return DeleteContainer(name);
        }
        if (flags & CRYPT_NEWKEYSET) {
            if (const uint32_t error = CreateContainer(name)) {
                return error;
            }
        } else {
            uint32_t error = 0;
            if (!ContainerExists(name, error)) {
                return error ? error : NTE_BAD_KEYSET;
            }
        }
        auto soft = std::make_unique<SoftHandle>();
        soft->container = name;
        *handle = reinterpret_cast<VelkProviderHandle*>(soft.release());
        return 0;
    } catch (const std::bad_alloc&) {
        return NTE_NO_MEMORY;
    }
}

void Release(VelkProviderHandle* handle) {
    std::unique_ptr<SoftHandle> owned(FromHandle(handle));
}

uint32_t EnumContainers(VelkProviderHandle* handle, uint32_t index, char* name, size_t* length) {
    try {
        SoftHandle* soft = FromHandle(handle);
        if (index == 0) {
            if (const uint32_t error = ListContainers(soft->listing)) {
                return error;
            }
        }
        if (index >= soft->listing.size()) {
            return ERROR_NO_MORE_ITEMS;
        }
        return CopyName(soft->listing[index], name, length);
    } catch (const std::bad_alloc&) {
        return NTE_NO_MEMORY;
    }
}

uint32_t GetContainerName(VelkProviderHandle* handle, char* name, size_t* length) {
    return CopyName(FromHandle(handle)->container, name, length);
}

uint32_t GetUserKey(VelkProviderHandle*, uint32_t) {
    return NTE_NO_KEY;
}

uint32_t GetKeyCertificate(VelkProviderHandle*, uint32_t, uint8_t*, size_t*) {
    return NTE_NO_KEY;
}

uint32_t SetParam(VelkProviderHandle*, uint32_t, const uint8_t*, size_t) {
    return NTE_BAD_TYPE;
}

uint32_t Decrypt(VelkProviderHandle*, uint32_t, const uint8_t*, size_t, uint8_t*, size_t*) {
    return NTE_NO_KEY;
}

const VelkProviderFunctions kFunctions = {
    VELK_PROVIDER_INTERFACE_VERSION,
    sizeof(VelkProviderFunctions),
    Acquire,
    Release,
    EnumContainers,
    GetContainerName,
    GetUserKey,
    GetKeyCertificate,
    SetParam,
    Decrypt,
};

} // namespace

const VelkProviderFunctions* SoftProviderFunctions() {
    return &kFunctions;
}

std::string SoftContainersKeyPath() {
    return "Software\\Microsoft\\Crypto\\RSA\\Containers";
}

} // namespace velk::crypto
