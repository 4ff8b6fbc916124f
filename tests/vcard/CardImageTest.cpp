// What a virtual card keeps in its image file, and how it treats a bad one.

#include "vcard/CardImage.h"
#include "tests/vcard/CardTestUtil.h"
#include "vcard/CardKeys.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

namespace vcardtest {
namespace {

TEST(CardImage, StateSurvivesReopeningButTheSessionDoesNot) {
    TempDir dir;
    const std::string image = dir.File("card.img");
    const vcard::CardProfile profile = Keyless("tcos30");
    Bytes number;
    {
        Card card(vcard::OpenCard(profile, image));
        number = *card->ReadFile("3f002f02");
        ASSERT_EQ(card.Sw(Case3("00 24 00 00", Cat(Bytes(6, 0), Ascii("5555")))), 0x9000);
        ASSERT_EQ(card.Sw(Case3("00 20 00 00", Ascii("5555"))), 0x9000);
        ASSERT_EQ(card.Sw(Case3("00 22 81 A4",
                                Cat(Cat(H("83 01 77 7F 49 81 89 81 81 80"), Bytes(128, 0x42)),
                                    H("82 03 01 00 01")))),
                  0x9000);
        ASSERT_EQ(card.Sw(Case3("00 20 00 00", Ascii("0000"))), 0x63C2);
        card.Send("00 A4 08 04 04 DF 02 C0 00 FF");
        ASSERT_EQ(card.Sw(Case3("00 D6 00 10", H("30 82 01 02"))), 0x9000);
    }
    Card card(vcard::OpenCard(profile, image));
    EXPECT_EQ(card->ReadFile("3f002f02"), number);
    EXPECT_EQ(card.Sw("00 20 00 00"), 0x63C2);
    EXPECT_EQ(card.Sw(Case3("00 20 00 00", Ascii("5555"))), 0x9000);
    EXPECT_EQ(card->ReadFile("3f00df02c000")->at(0x10), 0x30);
    EXPECT_EQ(card->ReadRecord("3f004500", 5), Bytes(128, 0x42));
    // Nothing but the image is left in the directory (no temporary files).
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

TEST(CardImage, AnotherProfileOrAnUnreadableImageGivesAFreshCard) {
    TempDir dir;
    const std::string image = dir.File("card.img");
    Bytes number;
    {
        Card card(vcard::OpenCard(Keyless("tcos30v2"), image));
        number = *card->ReadFile("3f002f02");
        ASSERT_EQ(card.Sw(Case3("00 24 00 00", Cat(Bytes(6, 0), Ascii("5555")))), 0x9000);
    }
    {
        Card same(vcard::OpenCard(Keyless("tcos30v2"), image));
        EXPECT_EQ(same->ReadFile("3f002f02"), number);
    }
    {
        Card other(vcard::OpenCard(Keyless("tcos20"), image));
        EXPECT_EQ(other.Sw("00 20 00 00"), 0x6985); // a new card: NULL-PIN again
        EXPECT_NE(ReadFileBytes(image).find("profile tcos20"), std::string::npos);
    }
    const std::string good = ReadFileBytes(image);
    const std::string broken[] = {
        "",
        good.substr(0, good.size() / 2), // cut short: no "end"
        "velkora-vcard-image 2\n" + good.substr(good.find('\n') + 1),
        good + "trailing\n",
        [&] { // a record for a file that does not exist
            std::string t = good;
            t.insert(t.find("end\n"), "record 3f00beef 0102\n");
            return t;
        }(),
        [&] { // a retry counter larger than its maximum
            std::string t = good;
            t.insert(t.find("end\n"), "pin 05 3f00 06 set 4 3 31\n");
            return t;
        }(),
        [&] { // odd hex
            std::string t = good;
            t.insert(t.find("end\n"), "bin 3f00aaaa rw 123\n");
            return t;
        }(),
    };
    for (const std::string& text : broken) {
        EXPECT_FALSE(vcard::ParseImage(text).has_value()) << text.substr(0, 60);
    }
    EXPECT_TRUE(vcard::ParseImage(good).has_value());
    WriteFileBytes(image, broken[1]);
    Card fresh(vcard::OpenCard(Keyless("tcos20"), image));
    EXPECT_EQ(fresh.Sw("00 20 00 00"), 0x6985);
    EXPECT_TRUE(vcard::ParseImage(ReadFileBytes(image)).has_value()); // rewritten whole

    // Unknown profiles and unwritable places give no card at all.
    EXPECT_EQ(vcard::OpenCard("tcos99", ""), nullptr);
    EXPECT_EQ(vcard::OpenCard("tcos20", dir.File("missing-dir/card.img")), nullptr);
}

TEST(CardImage, EveryProfileOpensWithItsAtrAndProtocol) {
    const auto names = vcard::ProfileNames();
    ASSERT_EQ(names.size(), 7u);
    for (const std::string& name : names) {
        Card card = Fresh(name);
        EXPECT_EQ(card->Atr(), vcard::FindProfile(name)->atr) << name;
        EXPECT_EQ(card->SupportsT1(), name != "micardo") << name;
        EXPECT_EQ(card.Sw(name.rfind("cardos", 0) == 0 || name == "micardo"
                              ? "00 A4 00 00 00"
                              : "00 A4 00 00 02 3F 00 FF"),
                  0x9000)
            << name;
    }
    EXPECT_EQ(vcard::FindProfile("tcos30")->atr.size(), 24u);
    EXPECT_EQ(vcard::FindProfile("tcos30v2")->atr.size(), 23u);
}

// The one test that makes real 2048-bit keys.
TEST(CardImage, KeyFilesShowTheModulusOfKeysTheCardCanUse) {
    TempDir dir;
    const std::string image = dir.File("card.img");
    auto opened = vcard::OpenCard("tcos30", image);
    ASSERT_NE(opened, nullptr);
    Card card(std::move(opened));
    const auto keyFiles = card->KeyFiles();
    ASSERT_EQ(keyFiles.size(), 4u);
    std::vector<Bytes> moduli;
    for (const std::string& file : keyFiles) {
        const auto record = card->ReadRecord(file, 1);
        ASSERT_TRUE(record.has_value()) << file;
        ASSERT_EQ(record->size(), 256u) << file;
        EXPECT_GE((*record)[0], 0x80); // a full 2048-bit modulus
        moduli.push_back(*record);

        // The public key a certificate would carry has the same modulus, and
        // what is encrypted to it the card decrypts.
        const auto spki = card->PublicKeyInfo(file);
        ASSERT_TRUE(spki.has_value());
        const unsigned char* p = spki->data();
        EVP_PKEY* raw = d2i_PUBKEY(nullptr, &p, static_cast<long>(spki->size()));
        ASSERT_NE(raw, nullptr);
        std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pub(raw, &EVP_PKEY_free);
        std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
            EVP_PKEY_CTX_new(pub.get(), nullptr), &EVP_PKEY_CTX_free);
        ASSERT_EQ(EVP_PKEY_encrypt_init(ctx.get()), 1);
        ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING), 1);
        const Bytes secret = Ascii("session key 0123456789abcdef");
        Bytes cipher(256);
        size_t len = cipher.size();
        ASSERT_EQ(EVP_PKEY_encrypt(ctx.get(), cipher.data(), &len, secret.data(), secret.size()),
                  1);
        cipher.resize(len);
        EXPECT_EQ(card->Decrypt(file, cipher), secret);
    }
    EXPECT_NE(moduli[0], moduli[1]);
    // Record 1 through APDUs, as the personalization reads it.
    card.Send("00 A4 08 04 04 DF 02 45 B1 FF");
    const Bytes viaApdu = card.Send("00 B2 01 04 00");
    EXPECT_EQ(SwOf(viaApdu), 0x9000);
    EXPECT_EQ(DataOf(viaApdu), moduli[2]);
    EXPECT_FALSE(card->Decrypt("3f00df01c000", H("00")).has_value());

    // Keys persist: the reopened card decrypts with the same key.
    Card again(vcard::OpenCard("tcos30", image));
    EXPECT_EQ(again->ReadRecord(keyFiles[0], 1), moduli[0]);
}

} // namespace
} // namespace vcardtest
