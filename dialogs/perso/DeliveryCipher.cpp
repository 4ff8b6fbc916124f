#include "dialogs/perso/DeliveryCipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace {

constexpr uint8_t kUnmappable = '?';

// One character of UTF-8 text at `at` as its Latin-1 byte; advances `at`.
uint8_t NextLatin1(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<uint8_t>(text[at++]);
    if (lead < 0x80) {
        return lead;
    }
    std::size_t follow = 0;
    uint32_t code = 0;
    if ((lead & 0xE0) == 0xC0) {
        follow = 1;
        code = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        follow = 2;
        code = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        follow = 3;
        code = lead & 0x07u;
    } else {
        return kUnmappable;
    }
    for (std::size_t i = 0; i < follow; ++i) {
        if (at >= text.size() || (static_cast<uint8_t>(text[at]) & 0xC0) != 0x80) {
            return kUnmappable;
        }
        code = (code << 6) | (static_cast<uint8_t>(text[at++]) & 0x3Fu);
    }
    return code <= 0xFF ? static_cast<uint8_t>(code) : kUnmappable;
}

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

} // namespace

bool TelePasswordKey(std::string_view password, std::span<uint8_t, kTelePasswordKeySize> key) {
    // Only the first 24 characters can reach the key.
    std::array<uint8_t, kTelePasswordKeySize> characters{};
    std::size_t count = 0;
    for (std::size_t at = 0; at < password.size() && count < characters.size();) {
        characters[count++] = NextLatin1(password, at);
    }
    for (std::size_t i = 0; i < key.size() && count != 0; ++i) {
        key[i] = characters[i % count];
    }
    OPENSSL_cleanse(characters.data(), characters.size());
    if (count == 0) {
        OPENSSL_cleanse(key.data(), key.size());
        return false;
    }
    return true;
}

std::size_t DeliveryPlaintextSize(std::size_t ciphertextLength) {
    return (ciphertextLength + 15) / 16 * 16;
}

bool DecryptDelivery(std::span<const uint8_t> ciphertext,
                     std::span<const uint8_t, kTelePasswordKeySize> key,
                     velk::SecureBuffer& plaintext) {
    const std::size_t size = DeliveryPlaintextSize(ciphertext.size());
    if (ciphertext.empty() || !plaintext.Ok() || plaintext.Size() != size ||
        size > static_cast<std::size_t>(INT32_MAX)) {
        plaintext.Wipe();
        return false;
    }
    // The ciphertext is not secret; its zero-extended copy may live on the heap.
    std::vector<uint8_t> input(size, 0);
    std::copy(ciphertext.begin(), ciphertext.end(), input.begin());
    std::array<uint8_t, 8> iv{};
    iv.fill(kDeliveryIvByte);

    const std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
    int written = 0;
    int last = 0;
    const bool ok =
        ctx &&
        EVP_DecryptInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr, key.data(), iv.data()) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
        EVP_DecryptUpdate(ctx.get(), plaintext.Data(), &written, input.data(),
                          static_cast<int>(size)) == 1 &&
        EVP_DecryptFinal_ex(ctx.get(), plaintext.Data() + written, &last) == 1 &&
        static_cast<std::size_t>(written + last) == size;
    if (!ok) {
        plaintext.Wipe();
    }
    return ok;
}
