#pragma once

// A session of an application with a token: its search and the one
// cryptographic operation it may have under way.

#include "minidriver/pkcs11/Cryptoki.h"
#include "minidriver/pkcs11/P11Object.h"

#include <openssl/crypto.h>

#include <cstdint>
#include <vector>

namespace velkp11 {

struct P11Operation {
    enum class Kind : uint8_t { None, Sign, Decrypt };
    Kind kind = Kind::None;
    CK_MECHANISM_TYPE mechanism = 0;
    CK_OBJECT_HANDLE key = 0;
    Bytes data;   // signed data collected by C_SignUpdate
    Bytes result; // a plaintext waiting for a large enough buffer
    bool haveResult = false;

    P11Operation() = default;
    P11Operation(const P11Operation&) = delete;
    P11Operation& operator=(const P11Operation&) = delete;
    ~P11Operation() { Clear(); }
    void Clear() {
        OPENSSL_cleanse(data.data(), data.size());
        OPENSSL_cleanse(result.data(), result.size());
        data.clear();
        result.clear();
        haveResult = false;
        kind = Kind::None;
        mechanism = 0;
        key = 0;
    }
};

struct P11Session {
    CK_SLOT_ID slot = 0;
    CK_FLAGS flags = 0;
    uint64_t generation = 0; // the token's, when the session was opened
    bool finding = false;
    std::vector<CK_OBJECT_HANDLE> found;
    size_t foundNext = 0;
    P11Operation operation;
};

} // namespace velkp11
