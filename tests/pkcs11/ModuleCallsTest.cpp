// velkora-pkcs11 called directly, as an application calls it, over a private
// pcscd with the virtual card: the PIN states, bad input, and the card going
// away under an operation.

#include "card/SCard.h"
#include "tests/pkcs11/P11TestCard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace p11test {
namespace {

class ModuleCalls : public ::testing::Test {
protected:
    void Start(bool pinsSet) {
        ASSERT_TRUE(m_pcscd.Ok());
        ASSERT_TRUE(MakeCardImage(m_dir.File("card.img"), pinsSet));
        ASSERT_TRUE(m_pcscd.InsertCard(0, "tcos30", m_dir.File("card.img")));
        ASSERT_TRUE(m_module.Ok());
        CK_C_INITIALIZE_ARGS args{};
        args.flags = CKF_OS_LOCKING_OK;
        ASSERT_EQ(m_module->C_Initialize(&args), CKR_OK);
        CK_ULONG count = 1;
        ASSERT_EQ(m_module->C_GetSlotList(CK_TRUE, &m_slot, &count), CKR_OK);
        ASSERT_EQ(count, 1u);
    }

    CK_SESSION_HANDLE OpenSession() {
        CK_SESSION_HANDLE session = 0;
        EXPECT_EQ(m_module->C_OpenSession(m_slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session),
                  CKR_OK);
        return session;
    }

    CK_RV Login(CK_SESSION_HANDLE session, const std::string& pin, CK_USER_TYPE user = CKU_USER) {
        return m_module->C_Login(session, user,
                                 reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(pin.data())),
                                 pin.size());
    }

    CK_OBJECT_HANDLE FindOne(CK_SESSION_HANDLE session, CK_OBJECT_CLASS cls,
                             const std::string& label) {
        CK_ATTRIBUTE templ[] = {{CKA_CLASS, &cls, sizeof cls},
                                {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
        CK_OBJECT_HANDLE found[2] = {};
        CK_ULONG count = 0;
        EXPECT_EQ(m_module->C_FindObjectsInit(session, templ, 2), CKR_OK);
        EXPECT_EQ(m_module->C_FindObjects(session, found, 2, &count), CKR_OK);
        EXPECT_EQ(m_module->C_FindObjectsFinal(session), CKR_OK);
        EXPECT_EQ(count, 1u) << label;
        return found[0];
    }

    Bytes Attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
        CK_ATTRIBUTE a{type, nullptr, 0};
        if (m_module->C_GetAttributeValue(session, object, &a, 1) != CKR_OK) {
            return {};
        }
        Bytes value(a.ulValueLen);
        a.pValue = value.data();
        EXPECT_EQ(m_module->C_GetAttributeValue(session, object, &a, 1), CKR_OK);
        return value;
    }

    int CardPin1Tries() {
        SCard card(m_pcscd.ReaderName(0));
        return card.CardPin1Status();
    }

    TempDir m_dir;
    velktest::VirtualPcscd m_pcscd{1};
    Module m_module;
    CK_SLOT_ID m_slot = 0;
};

TEST_F(ModuleCalls, LoginFollowsTheCardPinFromNullPinToBlocked) {
    ASSERT_NO_FATAL_FAILURE(Start(false));
    const CK_SESSION_HANDLE session = OpenSession();
    EXPECT_EQ(Login(session, "000000"), CKR_PIN_EXPIRED);

    {
        SCard card(m_pcscd.ReaderName(0));
        const uint8_t nullPin[6] = {};
        const std::string_view pin = kCardPin;
        uint8_t tries = 0;
        ASSERT_EQ(card.ChangeReferenceData(
                      "3f002f02", 0x00, nullPin,
                      {reinterpret_cast<const uint8_t*>(pin.data()), pin.size()}, tries),
                  scard::kPinOk);
    }
    EXPECT_EQ(Login(session, "999999"), CKR_PIN_INCORRECT);
    EXPECT_EQ(CardPin1Tries(), 2);
    // Too long or too short never reaches the card.
    EXPECT_EQ(Login(session, std::string(17, '1')), CKR_PIN_LEN_RANGE);
    EXPECT_EQ(Login(session, "12"), CKR_PIN_LEN_RANGE);
    EXPECT_EQ(CardPin1Tries(), 2);
    EXPECT_EQ(Login(session, kCardPin), CKR_OK);
    EXPECT_EQ(Login(session, kCardPin), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(m_module->C_Logout(session), CKR_OK);
    EXPECT_EQ(m_module->C_Logout(session), CKR_USER_NOT_LOGGED_IN);

    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Login(session, "999999"), CKR_PIN_INCORRECT);
    }
    EXPECT_EQ(Login(session, kCardPin), CKR_PIN_LOCKED);
}

TEST_F(ModuleCalls, BadInputGetsItsAnswerAndTheSignatureVerifies) {
    ASSERT_NO_FATAL_FAILURE(Start(true));
    const CK_SESSION_HANDLE session = OpenSession();
    const CK_OBJECT_HANDLE cert = FindOne(session, CKO_CERTIFICATE, "Signature");
    const CK_OBJECT_HANDLE key = FindOne(session, CKO_PRIVATE_KEY, "Signature");

    // An unknown attribute and a too small buffer spoil only their own entries.
    char label[32] = {};
    uint8_t small[4] = {};
    uint8_t unknown[8] = {};
    CK_ATTRIBUTE templ[] = {{CKA_VENDOR_DEFINED + 77, unknown, sizeof unknown},
                            {CKA_LABEL, label, sizeof label},
                            {CKA_VALUE, small, sizeof small}};
    EXPECT_EQ(m_module->C_GetAttributeValue(session, cert, templ, 3), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(templ[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(std::string(label, templ[1].ulValueLen), "Signature");
    EXPECT_EQ(templ[2].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    CK_ATTRIBUTE unknownOnly{CKA_VENDOR_DEFINED + 77, unknown, sizeof unknown};
    CK_OBJECT_HANDLE found = 0;
    CK_ULONG count = 9;
    ASSERT_EQ(m_module->C_FindObjectsInit(session, &unknownOnly, 1), CKR_OK);
    EXPECT_EQ(m_module->C_FindObjects(session, &found, 1, &count), CKR_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(m_module->C_FindObjectsInit(session, nullptr, 0), CKR_OPERATION_ACTIVE);
    ASSERT_EQ(m_module->C_FindObjectsFinal(session), CKR_OK);

    // Without the PIN the card refuses; a too small buffer keeps the operation.
    CK_MECHANISM sha256{CKM_SHA256_RSA_PKCS, nullptr, 0};
    Bytes data{'v', 'e', 'l', 'k'};
    Bytes signature(256);
    CK_ULONG length = signature.size();
    ASSERT_EQ(m_module->C_SignInit(session, &sha256, key), CKR_OK);
    EXPECT_EQ(m_module->C_Sign(session, data.data(), data.size(), signature.data(), &length),
              CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(Login(session, kCardPin), CKR_OK);
    ASSERT_EQ(m_module->C_SignInit(session, &sha256, key), CKR_OK);
    length = 10;
    EXPECT_EQ(m_module->C_Sign(session, data.data(), data.size(), signature.data(), &length),
              CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 256u);
    ASSERT_EQ(m_module->C_Sign(session, data.data(), data.size(), signature.data(), &length),
              CKR_OK);
    EXPECT_TRUE(Verifies(Attribute(session, cert, CKA_VALUE), data, signature));

    // The SigG key wants its own PIN right before each signature.
    const CK_OBJECT_HANDLE sigg = FindOne(session, CKO_PRIVATE_KEY, "SigG");
    EXPECT_EQ(Attribute(session, sigg, CKA_ALWAYS_AUTHENTICATE), Bytes{CK_TRUE});
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(m_module->C_SignInit(session, &sha256, sigg), CKR_OK);
        EXPECT_EQ(Login(session, kSigPin, CKU_CONTEXT_SPECIFIC), CKR_OK);
        length = signature.size();
        EXPECT_EQ(m_module->C_Sign(session, data.data(), data.size(), signature.data(), &length),
                  CKR_OK);
    }
    ASSERT_EQ(m_module->C_SignInit(session, &sha256, sigg), CKR_OK);
    EXPECT_EQ(m_module->C_Sign(session, data.data(), data.size(), signature.data(), &length),
              CKR_USER_NOT_LOGGED_IN);
    CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
    EXPECT_EQ(m_module->C_DecryptInit(session, &rsa, sigg), CKR_KEY_FUNCTION_NOT_PERMITTED);

    // Sessions in threads at once.
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            CK_SESSION_HANDLE own = 0;
            if (m_module->C_OpenSession(m_slot, CKF_SERIAL_SESSION, nullptr, nullptr, &own) !=
                CKR_OK) {
                ++failures;
                return;
            }
            for (int i = 0; i < 20; ++i) {
                CK_OBJECT_HANDLE all[16] = {};
                CK_ULONG n = 0;
                if (m_module->C_FindObjectsInit(own, nullptr, 0) != CKR_OK ||
                    m_module->C_FindObjects(own, all, 16, &n) != CKR_OK || n != 12 ||
                    m_module->C_FindObjectsFinal(own) != CKR_OK) {
                    ++failures;
                }
            }
            m_module->C_CloseSession(own);
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);

    // A closed session, and a module after C_Finalize.
    ASSERT_EQ(m_module->C_CloseSession(session), CKR_OK);
    EXPECT_EQ(m_module->C_SignInit(session, &sha256, key), CKR_SESSION_HANDLE_INVALID);
    ASSERT_EQ(m_module->C_Finalize(nullptr), CKR_OK);
    count = 0;
    EXPECT_EQ(m_module->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(m_module->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    EXPECT_EQ(m_module->C_Initialize(&args), CKR_OK);
}

TEST_F(ModuleCalls, CardPulledBetweenLoginAndSignAndSlotEvents) {
    ASSERT_NO_FATAL_FAILURE(Start(true));
    const CK_SESSION_HANDLE session = OpenSession();
    const CK_OBJECT_HANDLE key = FindOne(session, CKO_PRIVATE_KEY, "Signature");
    ASSERT_EQ(Login(session, kCardPin), CKR_OK);
    CK_MECHANISM sha256{CKM_SHA256_RSA_PKCS, nullptr, 0};
    ASSERT_EQ(m_module->C_SignInit(session, &sha256, key), CKR_OK);
    CK_SLOT_ID event = 99;
    EXPECT_EQ(m_module->C_WaitForSlotEvent(CKF_DONT_BLOCK, &event, nullptr), CKR_NO_EVENT);

    ASSERT_TRUE(m_pcscd.RemoveCard(0));
    uint8_t data[4] = {1, 2, 3, 4};
    uint8_t signature[256] = {};
    CK_ULONG length = sizeof signature;
    EXPECT_EQ(m_module->C_Sign(session, data, sizeof data, signature, &length), CKR_DEVICE_REMOVED);
    EXPECT_EQ(m_module->C_Sign(session, data, sizeof data, signature, &length),
              CKR_SESSION_HANDLE_INVALID);
    CK_ULONG count = 9;
    ASSERT_EQ(m_module->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 0u);
    // The slot stays, without its token (vpcd's reader has a second, empty slot).
    ASSERT_EQ(m_module->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(m_module->C_WaitForSlotEvent(CKF_DONT_BLOCK, &event, nullptr), CKR_OK);
    EXPECT_EQ(event, m_slot);
    CK_SESSION_HANDLE none = 0;
    EXPECT_EQ(m_module->C_OpenSession(m_slot, CKF_SERIAL_SESSION, nullptr, nullptr, &none),
              CKR_TOKEN_NOT_PRESENT);

    // A blocking wait sees the card come back; C_Finalize ends a wait.
    CK_RV waited = CKR_GENERAL_ERROR;
    std::thread waiter([&] { waited = m_module->C_WaitForSlotEvent(0, &event, nullptr); });
    ASSERT_TRUE(m_pcscd.InsertCard(0, "tcos30", m_dir.File("card.img")));
    waiter.join();
    EXPECT_EQ(waited, CKR_OK);
    ASSERT_EQ(m_module->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 1u);
    std::thread ended([&] { waited = m_module->C_WaitForSlotEvent(0, &event, nullptr); });
    EXPECT_EQ(m_module->C_Finalize(nullptr), CKR_OK);
    ended.join();
    EXPECT_EQ(waited, CKR_CRYPTOKI_NOT_INITIALIZED);
}

} // namespace
} // namespace p11test
