// A provider module for the tests: one reader, two key containers, a
// certificate and an RSA key read from files the test names in the
// environment, and a log of the parameters it is sent. Built as a shared
// library and loaded by name like the card's provider.
//
//   VELK_FAKE_CERT  DER certificate of the user key (container 0)
//   VELK_FAKE_KEY   PEM private key for decrypt
//   VELK_FAKE_LOG   file that receives "param:value" lines

#include "platform/crypto/ProviderInterface.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kReader = "Fake Reader 0";
// Position 4 of the name: '0' a user key, '1' an authority certificate only.
constexpr const char* kContainers[] = {"c0000071-0efd-11dc-8314-0800200c9a66",
                                       "c0001000-0efd-11dc-8314-0800200c9a66"};
constexpr uint32_t kMoreData = 234;
constexpr uint32_t kNoMoreItems = 259;
constexpr uint32_t kBadKeyset = 0x80090016;
constexpr uint32_t kNoKey = 0x8009000D;
constexpr uint32_t kBadData = 0x80090005;
constexpr uint32_t kPerm = 0x80090010;
constexpr uint32_t kUnknownReader = 0x80100009;
constexpr uint32_t kDeleteKeyset = 0x10;
constexpr uint32_t kNewKeyset = 0x8;

struct FakeHandle {
    std::string container; // empty: the whole reader
};

FakeHandle* Fake(VelkProviderHandle* handle) {
    return reinterpret_cast<FakeHandle*>(handle);
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

uint32_t Give(const void* data, size_t size, void* buffer, size_t* length) {
    if (!buffer) {
        *length = size;
        return 0;
    }
    if (*length < size) {
        *length = size;
        return kMoreData;
    }
    std::memcpy(buffer, data, size);
    *length = size;
    return 0;
}

bool Known(const std::string& name) {
    for (const char* container : kContainers) {
        if (name == container) {
            return true;
        }
    }
    return false;
}

uint32_t Acquire(const char* container, uint32_t flags, VelkProviderHandle** handle) {
    *handle = nullptr;
    if (flags & (kDeleteKeyset | kNewKeyset)) {
        return kPerm; // card containers come and go with the card only
    }
    std::string name = container ? container : "";
    const std::string prefix = std::string("\\\\.\\") + kReader + "\\";
    if (name.rfind("\\\\.\\", 0) == 0) {
        if (name.rfind(prefix, 0) != 0) {
            return kUnknownReader;
        }
        name = name.substr(prefix.size());
    }
    if (!name.empty() && !Known(name)) {
        return kBadKeyset;
    }
    auto fake = std::make_unique<FakeHandle>();
    fake->container = name;
    *handle = reinterpret_cast<VelkProviderHandle*>(fake.release());
    return 0;
}

void Release(VelkProviderHandle* handle) {
    std::unique_ptr<FakeHandle> owned(Fake(handle));
}

uint32_t EnumContainers(VelkProviderHandle*, uint32_t index, char* name, size_t* length) {
    if (index >= std::size(kContainers)) {
        return kNoMoreItems;
    }
    return Give(kContainers[index], std::strlen(kContainers[index]) + 1, name, length);
}

uint32_t GetContainerName(VelkProviderHandle* handle, char* name, size_t* length) {
    const std::string& container = Fake(handle)->container;
    return Give(container.c_str(), container.size() + 1, name, length);
}

uint32_t GetUserKey(VelkProviderHandle* handle, uint32_t keySpec) {
    return Fake(handle)->container == kContainers[0] && keySpec == 1 ? 0 : kNoKey;
}

uint32_t GetKeyCertificate(VelkProviderHandle* handle, uint32_t keySpec, uint8_t* certificate,
                           size_t* length) {
    if (GetUserKey(handle, keySpec) != 0) {
        return kNoKey;
    }
    std::ifstream in(Env("VELK_FAKE_CERT"), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    return Give(bytes.data(), bytes.size(), certificate, length);
}

uint32_t SetParam(VelkProviderHandle*, uint32_t param, const uint8_t* value, size_t length) {
    std::ofstream log(Env("VELK_FAKE_LOG"), std::ios::app);
    log << param << ":" << std::string(reinterpret_cast<const char*>(value), length) << "\n";
    return 0;
}

uint32_t Decrypt(VelkProviderHandle* handle, uint32_t keySpec, const uint8_t* ciphertext,
                 size_t ciphertextLength, uint8_t* plaintext, size_t* plaintextLength) {
    if (GetUserKey(handle, keySpec) != 0) {
        return kNoKey;
    }
    FILE* file = std::fopen(Env("VELK_FAKE_KEY").c_str(), "r");
    if (!file) {
        return kNoKey;
    }
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_PrivateKey(file, nullptr, nullptr, nullptr), EVP_PKEY_free);
    std::fclose(file);
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        key ? EVP_PKEY_CTX_new(key.get(), nullptr) : nullptr, EVP_PKEY_CTX_free);
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_decrypt(ctx.get(), plaintext, plaintextLength, ciphertext, ciphertextLength) <=
            0) {
        return kBadData;
    }
    return 0;
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

extern "C" __attribute__((visibility("default"))) const VelkProviderFunctions*
VelkGetProviderInterface(uint32_t requestedVersion) {
    return requestedVersion == VELK_PROVIDER_INTERFACE_VERSION ? &kFunctions : nullptr;
}
