// The card's private-key commands: MSE SET, PSO COMPUTE DIGITAL SIGNATURE and
// PSO DECIPHER with command chaining, APDU in, status word out.

#include "tests/vcard/CardTestUtil.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <memory>

namespace vcardtest {
namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct CtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};

std::unique_ptr<EVP_PKEY, PkeyFree> PublicKey(Card& card, std::string_view keyFile) {
    const auto spki = card->PublicKeyInfo(keyFile);
    const unsigned char* p = spki ? spki->data() : nullptr;
    return std::unique_ptr<EVP_PKEY, PkeyFree>(
        spki ? d2i_PUBKEY(nullptr, &p, static_cast<long>(spki->size())) : nullptr);
}

// RSA with PKCS #1 v1.5 padding by the public key: the message inside a signature
// (`encrypt` false), or a cryptogram of the message.
Bytes PublicRsa(EVP_PKEY* key, const Bytes& in, bool encrypt) {
    std::unique_ptr<EVP_PKEY_CTX, CtxFree> ctx(EVP_PKEY_CTX_new(key, nullptr));
    size_t length = 512;
    Bytes out(length);
    if (!ctx ||
        (encrypt ? EVP_PKEY_encrypt_init(ctx.get()) : EVP_PKEY_verify_recover_init(ctx.get())) !=
            1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        (encrypt ? EVP_PKEY_encrypt(ctx.get(), out.data(), &length, in.data(), in.size())
                 : EVP_PKEY_verify_recover(ctx.get(), out.data(), &length, in.data(), in.size())) !=
            1) {
        return {};
    }
    out.resize(length);
    return out;
}

Card KeyCard() {
    auto profile = vcard::FindProfile("tcos30");
    profile->keyBits = 1024; // the commands do not care; small keys are made fast
    Card card(vcard::OpenCard(*profile, ""));
    card->SetPin(0x00, Ascii("123456"));
    card->SetPin(0x81, Ascii("654321"));
    return card;
}

const Bytes kDigestInfo =
    H("3021300906052b0e03021a05000414 00112233445566778899aabbccddeeff00112233");

TEST(VirtualCardKeys, SignsAfterThePinOfTheKeysApplicationOnly) {
    Card card = KeyCard();
    const Bytes pso = Cat(Case3("00 2A 9E 9A", kDigestInfo), {0x00});

    // Without MSE SET, and with a key the DF does not have.
    ASSERT_EQ(card.Sw("00 A4 08 04 04 DF 02 45 31 00"), 0x9000);
    EXPECT_EQ(card.Sw(pso), 0x6985);
    EXPECT_EQ(card.Sw("00 22 41 B6 03 84 01 99"), 0x6A88);
    EXPECT_EQ(card.Sw("00 22 41 B6 06 84 01 31 80 01 07"), 0x6A80);
    ASSERT_EQ(card.Sw("00 22 41 B6 06 84 01 31 80 01 02"), 0x9000);
    // The card PIN opens the keys of DF02; the SigG PIN does not.
    EXPECT_EQ(card.Sw(pso), 0x6982);
    ASSERT_EQ(card.Sw("00 A4 08 0C 02 DF 01"), 0x9000);
    ASSERT_EQ(card.Sw(Case3("00 20 00 81", Ascii("654321"))), 0x9000);
    ASSERT_EQ(card.Sw("00 A4 08 0C 04 DF 02 45 31"), 0x9000);
    ASSERT_EQ(card.Sw("00 22 41 B6 03 84 01 31"), 0x9000);
    EXPECT_EQ(card.Sw(pso), 0x6982);
    ASSERT_EQ(card.Sw(Case3("00 20 00 00", Ascii("123456"))), 0x9000);
    const Bytes signed1 = card.Send(pso);
    ASSERT_EQ(SwOf(signed1), 0x9000);
    const auto key = PublicKey(card, "3f00df024531");
    ASSERT_TRUE(key);
    EXPECT_EQ(PublicRsa(key.get(), DataOf(signed1), false), kDigestInfo);
    // A DigestInfo longer than the key allows is refused.
    EXPECT_EQ(card.Sw(Cat(Case3("00 2A 9E 9A", Bytes(120, 0x5A)), {0x00})), 0x6700);

    // The SigG key: one signature per verification of PIN 81.
    ASSERT_EQ(card.Sw("00 A4 08 0C 04 DF 01 45 31"), 0x9000);
    ASSERT_EQ(card.Sw("00 22 41 B6 03 84 01 31"), 0x9000);
    EXPECT_EQ(SwOf(card.Send(pso)), 0x9000);
    EXPECT_EQ(card.Sw(pso), 0x6982);
    // It does not decipher.
    EXPECT_EQ(card.Sw("00 22 41 B8 03 84 01 31"), 0x6985);

    // A reset forgets the security environment.
    card->Reset();
    EXPECT_EQ(card.Sw(pso), 0x6985);
}

TEST(VirtualCardKeys, DeciphersAChainedCryptogram) {
    Card card = KeyCard();
    const auto key = PublicKey(card, "3f00df0245b1");
    ASSERT_TRUE(key);
    const Bytes message = Ascii("session key 0123456789abcdef");
    const Bytes cryptogram = Cat({0x00}, PublicRsa(key.get(), message, true));
    ASSERT_EQ(cryptogram.size(), 129u);
    const Bytes first(cryptogram.begin(), cryptogram.begin() + 100);
    const Bytes rest(cryptogram.begin() + 100, cryptogram.end());

    ASSERT_EQ(card.Sw("00 A4 08 0C 04 DF 02 45 B1"), 0x9000);
    ASSERT_EQ(card.Sw("00 22 41 B8 03 84 01 B1"), 0x9000);
    ASSERT_EQ(card.Sw(Case3("10 2A 80 86", first)), 0x9000);
    EXPECT_EQ(card.Sw(Cat(Case3("00 2A 80 86", rest), {0x00})), 0x6982);
    ASSERT_EQ(card.Sw(Case3("00 20 00 00", Ascii("123456"))), 0x9000);

    // Another command between the parts ends the chain: the rest alone is no cryptogram.
    ASSERT_EQ(card.Sw(Case3("10 2A 80 86", first)), 0x9000);
    ASSERT_EQ(card.Sw("00 22 41 B8 03 84 01 B1"), 0x9000);
    EXPECT_EQ(card.Sw(Cat(Case3("00 2A 80 86", rest), {0x00})), 0x6700);
    // Chaining other commands is refused.
    EXPECT_EQ(card.Sw("10 B0 00 00 10"), 0x6884);

    ASSERT_EQ(card.Sw(Case3("10 2A 80 86", first)), 0x9000);
    const Bytes answer = card.Send(Cat(Case3("00 2A 80 86", rest), {0x00}));
    ASSERT_EQ(SwOf(answer), 0x9000);
    EXPECT_EQ(DataOf(answer), message);
    // A cryptogram whose padding is wrong.
    Bytes broken = cryptogram;
    broken[5] ^= 0xFF;
    ASSERT_EQ(card.Sw(Case3("10 2A 80 86", Bytes(broken.begin(), broken.begin() + 100))), 0x9000);
    EXPECT_EQ(card.Sw(Cat(Case3("00 2A 80 86", Bytes(broken.begin() + 100, broken.end())), {0x00})),
              0x6A80);
}

} // namespace
} // namespace vcardtest
