// "Velkora Base Smart Card Crypto Provider": the provider interface over the
// minidriver. Key containers are the card's; nothing is kept on disk.

#include "minidriver/csp/CspHandle.h"
#include "minidriver/md/ContainerKey.h"
#include "minidriver/md/MdNotify.h"
#include "minidriver/md/ModuleVersion.h"
#include "minidriver/md/Readers.h"

#include "platform/certstore/WinCryptTypes.h"
#include "platform/crypto/ProviderInterface.h"

#include <openssl/crypto.h>
#include <winscard.h>

#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <vector>

VELK_DEFINE_MODULE_VERSION();

namespace {

using velkmd::Container;

uint32_t Put(const void* source, std::size_t size, uint8_t* buffer, size_t* length) {
    if (length == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (buffer == nullptr) {
        *length = size;
        return 0;
    }
    if (*length < size) {
        *length = size;
        return ERROR_MORE_DATA;
    }
    if (size > 0) {
        std::memcpy(buffer, source, size);
    }
    *length = size;
    return 0;
}

uint32_t PutName(const std::string& name, char* buffer, size_t* length) {
    return Put(name.c_str(), name.size() + 1, reinterpret_cast<uint8_t*>(buffer), length);
}

// Nothing may be thrown across the interface.
template <typename F> uint32_t Guard(F&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return NTE_NO_MEMORY;
    } catch (...) {
        return NTE_FAIL;
    }
}

// The container names of one reader, or of all readers for an empty name.
uint32_t Snapshot(const std::string& reader, std::vector<std::string>& names) {
    names.clear();
    std::vector<std::string> readers;
    if (reader.empty()) {
        if (const uint32_t error = velkmd::ListReaders(readers)) {
            return error;
        }
    } else {
        readers.push_back(reader);
    }
    for (const std::string& r : readers) {
        std::vector<Container> containers;
        const uint32_t error = velkmd::ListContainers(r, containers);
        if (error != 0 && !reader.empty()) {
            return error;
        }
        for (const Container& c : containers) {
            names.push_back(c.name);
        }
    }
    return 0;
}

// A plain name without a reader: the first reader whose card has it.
uint32_t FindAnywhere(const std::string& name, std::string& reader, Container& out) {
    std::vector<std::string> readers;
    if (const uint32_t error = velkmd::ListReaders(readers)) {
        return error;
    }
    for (const std::string& r : readers) {
        if (velkmd::FindContainer(r, name, out) == 0) {
            reader = r;
            return 0;
        }
    }
    return NTE_BAD_KEYSET;
}

uint32_t Acquire(const char* container, uint32_t flags, VelkProviderHandle** handle) {
    if (handle == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *handle = nullptr;
    // The card's containers come and go with its certificates: none is made
    // or deleted through the provider.
    if ((flags & (CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET)) != 0) {
        return NTE_PERM;
    }
    const velkcsp::Target target = velkcsp::ParseTarget(container);
    auto context = std::make_unique<VelkProviderHandle>();
    context->reader = target.reader;
    if (!target.name.empty()) {
        Container found;
        const uint32_t error = target.prefixed
                                   ? velkmd::FindContainer(target.reader, target.name, found)
                                   : FindAnywhere(target.name, context->reader, found);
        if (error != 0) {
            return error;
        }
        context->container = std::move(found);
    } else if (target.prefixed) {
        // A whole reader: there must be a card of ours in it.
        std::vector<Container> containers;
        if (const uint32_t error = velkmd::ListContainers(target.reader, containers)) {
            return error;
        }
    }
    *handle = context.release();
    return 0;
}

void Release(VelkProviderHandle* handle) {
    // The layer hands back what Acquire made; the owner wipes the PIN it holds.
    const std::unique_ptr<VelkProviderHandle> owned(handle);
}

uint32_t EnumContainers(VelkProviderHandle* handle, uint32_t index, char* name, size_t* length) {
    // Index 0 starts a new listing, unless the call before only asked for the
    // size of the first name: then the name comes from the snapshot just taken.
    if (index == 0 && !handle->keepSnapshot) {
        if (const uint32_t error = Snapshot(handle->reader, handle->listing)) {
            return error;
        }
    }
    if (index >= handle->listing.size()) {
        handle->keepSnapshot = false;
        return ERROR_NO_MORE_ITEMS;
    }
    const uint32_t result = PutName(handle->listing[index], name, length);
    handle->keepSnapshot = index == 0 && (name == nullptr || result == ERROR_MORE_DATA);
    return result;
}

uint32_t GetContainerName(VelkProviderHandle* handle, char* name, size_t* length) {
    return PutName(handle->container ? handle->container->name : std::string(), name, length);
}

uint32_t GetUserKey(VelkProviderHandle* handle, uint32_t keySpec) {
    // One key per container, the exchange key that carries the certificate.
    return handle->container && keySpec == AT_KEYEXCHANGE ? 0 : NTE_NO_KEY;
}

uint32_t GetKeyCertificate(VelkProviderHandle* handle, uint32_t keySpec, uint8_t* certificate,
                           size_t* length) {
    if (!handle->container || keySpec != AT_KEYEXCHANGE) {
        return NTE_NO_KEY;
    }
    if (!handle->certificate) {
        std::vector<uint8_t> der;
        if (const uint32_t error =
                velkmd::ReadCertificate(handle->reader, *handle->container, der)) {
            return error;
        }
        handle->certificate = std::move(der);
    }
    return Put(handle->certificate->data(), handle->certificate->size(), certificate, length);
}

uint32_t SetParam(VelkProviderHandle* handle, uint32_t param, const uint8_t* value, size_t length) {
    if (param != PP_KEYEXCHANGE_PIN && param != PP_SIGNATURE_PIN) {
        return NTE_BAD_TYPE;
    }
    if (value == nullptr && length > 0) {
        return ERROR_INVALID_PARAMETER;
    }
    velkmd::Secret copy;
    if (!copy.Assign(std::span<const uint8_t>(value, length))) {
        return NTE_BAD_DATA;
    }
    const std::string_view text(reinterpret_cast<const char*>(copy.View().data()), copy.Size());
    if (velkmd::IsEndCommand(text)) {
        handle->sticky = 0;
        return 0;
    }
    if (velkmd::IsPinCommand(text)) {
        if (handle->sticky != 0) {
            return handle->sticky;
        }
        if (handle->reader.empty()) {
            return NTE_BAD_KEYSET;
        }
        const uint32_t result = velkmd::RunPinCommand(handle->reader, text);
        if (result == static_cast<uint32_t>(SCARD_W_CANCELLED_BY_USER) ||
            result == static_cast<uint32_t>(SCARD_W_CHV_BLOCKED)) {
            handle->sticky = result;
        }
        return result;
    }
    // A PIN for the key operations to come.
    return handle->pin.Assign(copy.View()) ? 0 : NTE_BAD_DATA;
}

// The card deciphers with the container's key after the user has given its
// PIN to the desktop's PIN entry; the key never leaves the card. A PIN set
// with PP_KEYEXCHANGE_PIN is not used: the card's PIN is always asked for.
uint32_t Decrypt(VelkProviderHandle* handle, uint32_t keySpec, const uint8_t* ciphertext,
                 size_t size, uint8_t* plaintext, size_t* plaintextLength) {
    if (plaintextLength == nullptr || (ciphertext == nullptr && size > 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!handle->container || handle->container->slot.authority || keySpec != AT_KEYEXCHANGE) {
        return NTE_NO_KEY;
    }
    if (size == 0) {
        return NTE_BAD_DATA;
    }
    if (plaintext == nullptr) {
        // The message is shorter than its cryptogram; no PIN for a size.
        *plaintextLength = size;
        return 0;
    }
    std::vector<uint8_t> plain;
    uint32_t result = velkmd::DecipherWithContainer(
        handle->reader, *handle->container, std::span<const uint8_t>(ciphertext, size), plain);
    if (result == NTE_BAD_KEYSET) {
        result = NTE_NO_KEY;
    }
    if (result == 0) {
        result = Put(plain.data(), plain.size(), plaintext, plaintextLength);
    }
    OPENSSL_cleanse(plain.data(), plain.size());
    return result;
}

const VelkProviderFunctions kFunctions = {
    VELK_PROVIDER_INTERFACE_VERSION,
    sizeof(VelkProviderFunctions),
    [](const char* container, uint32_t flags, VelkProviderHandle** handle) {
        return Guard([&] { return Acquire(container, flags, handle); });
    },
    [](VelkProviderHandle* handle) { Release(handle); },
    [](VelkProviderHandle* handle, uint32_t index, char* name, size_t* length) {
        return Guard([&] { return EnumContainers(handle, index, name, length); });
    },
    [](VelkProviderHandle* handle, char* name, size_t* length) {
        return Guard([&] { return GetContainerName(handle, name, length); });
    },
    [](VelkProviderHandle* handle, uint32_t keySpec) {
        return Guard([&] { return GetUserKey(handle, keySpec); });
    },
    [](VelkProviderHandle* handle, uint32_t keySpec, uint8_t* certificate, size_t* length) {
        return Guard([&] { return GetKeyCertificate(handle, keySpec, certificate, length); });
    },
    [](VelkProviderHandle* handle, uint32_t param, const uint8_t* value, size_t length) {
        return Guard([&] { return SetParam(handle, param, value, length); });
    },
    [](VelkProviderHandle* handle, uint32_t keySpec, const uint8_t* ciphertext, size_t size,
       uint8_t* plaintext, size_t* plaintextLength) {
        return Guard(
            [&] { return Decrypt(handle, keySpec, ciphertext, size, plaintext, plaintextLength); });
    },
};

} // namespace

extern "C" __attribute__((visibility("default"))) const VelkProviderFunctions*
VelkGetProviderInterface(uint32_t requestedVersion) {
    return requestedVersion == VELK_PROVIDER_INTERFACE_VERSION ? &kFunctions : nullptr;
}
