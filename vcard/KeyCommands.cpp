#include "vcard/KeyCommands.h"

#include "vcard/CardKeys.h"
#include "vcard/StatusWords.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>

namespace vcard {

namespace {

constexpr uint8_t kChainingCla = 0x10;
constexpr uint16_t kChainingNotSupported = 0x6884;
// More than any cryptogram of the card's keys with its padding indicator.
constexpr size_t kMaxChained = 1024;
constexpr uint16_t kSignatureDf = 0xDF01;
constexpr uint8_t kSignaturePin = 0x81;
constexpr uint8_t kCardPin = 0x00;

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};

// PKCS #1 v1.5 block type 1 over `data`, then the private-key operation.
std::optional<Bytes> RsaSignPkcs1(std::span<const uint8_t> privateKeyDer,
                                  std::span<const uint8_t> data) {
    const unsigned char* p = privateKeyDer.data();
    std::unique_ptr<EVP_PKEY, PkeyFree> key(
        d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(privateKeyDer.size())));
    if (!key) {
        return std::nullopt;
    }
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1) {
        return std::nullopt;
    }
    size_t length = 0;
    if (EVP_PKEY_sign(ctx.get(), nullptr, &length, data.data(), data.size()) != 1) {
        return std::nullopt;
    }
    Bytes signature(length);
    if (EVP_PKEY_sign(ctx.get(), signature.data(), &length, data.data(), data.size()) != 1) {
        return std::nullopt;
    }
    signature.resize(length);
    return signature;
}

bool InSignatureApplication(const CardPath& keyFile) {
    return keyFile.size() >= 2 && keyFile[1] == kSignatureDf;
}

} // namespace

KeySession::~KeySession() {
    OPENSSL_cleanse(chained.data(), chained.size());
}

void KeySession::EndChain() {
    OPENSSL_cleanse(chained.data(), chained.size());
    chained.clear();
    chainedIns = 0;
}

KeyCommands::KeyCommands(CardState& state, KeySession& keys, std::vector<bool>& verified,
                         const CardPath& currentDf)
    : m_state(state), m_keys(keys), m_verified(verified), m_currentDf(currentDf) {}

std::optional<Response> KeyCommands::Process(const CommandApdu& cmd) {
    // Any command but the next part of a chain ends a chain that was not finished.
    // Nothing to do for the commands outside a chain, nearly all of them.
    if (m_keys.chainedIns != 0 && (m_keys.chainedIns != cmd.ins || m_keys.chainedP1 != cmd.p1 ||
                                   m_keys.chainedP2 != cmd.p2)) {
        m_keys.EndChain();
    }
    // MSE SET for computation (41); 81 A4 is the maker key's installation.
    const bool security = cmd.ins == 0x2A || (cmd.ins == 0x22 && cmd.p1 == 0x41);
    if (m_state.keys.empty() || (cmd.cla & ~kChainingCla) != 0x00 ||
        (!security && cmd.cla == 0x00)) {
        return std::nullopt;
    }
    if (cmd.cla == kChainingCla && cmd.ins != 0x2A) {
        return Response::Status(kChainingNotSupported);
    }
    if (cmd.ins == 0x22) {
        return ManageSecurityEnvironment(cmd);
    }
    if (cmd.apduCase == kCase1 || cmd.apduCase == kCase2) {
        return Response::Status(sw::kWrongLength);
    }
    if (m_keys.chained.size() + cmd.data.size() > kMaxChained) {
        m_keys.EndChain();
        return Response::Status(sw::kWrongLength);
    }
    m_keys.chained.insert(m_keys.chained.end(), cmd.data.begin(), cmd.data.end());
    if (cmd.cla == kChainingCla) {
        m_keys.chainedIns = cmd.ins;
        m_keys.chainedP1 = cmd.p1;
        m_keys.chainedP2 = cmd.p2;
        return Response::Status(sw::kOk);
    }
    Bytes data = std::move(m_keys.chained);
    m_keys.EndChain();
    Response r = PerformSecurityOperation(cmd, data);
    OPENSSL_cleanse(data.data(), data.size());
    return r;
}

Response KeyCommands::ManageSecurityEnvironment(const CommandApdu& cmd) {
    if (cmd.apduCase != kCase3) {
        return Response::Status(sw::kWrongLength);
    }
    KeySession::Use use = KeySession::Use::None;
    if (cmd.p1 == 0x41 && cmd.p2 == 0xB6) {
        use = KeySession::Use::Sign;
    } else if (cmd.p1 == 0x41 && cmd.p2 == 0xB8) {
        use = KeySession::Use::Decipher;
    } else {
        return Response::Status(sw::kWrongP1P2);
    }
    // Control reference template: tag, length, value; only 84 (key
    // reference) and 80 (algorithm, PKCS #1 v1.5 is all the card knows) count.
    std::optional<uint8_t> keyRef;
    const auto d = cmd.data;
    for (size_t i = 0; i < d.size();) {
        if (d.size() - i < 2 || d[i + 1] > d.size() - i - 2) {
            return Response::Status(sw::kWrongData);
        }
        const uint8_t tag = d[i];
        const uint8_t length = d[i + 1];
        if (tag == 0x84 && length == 1) {
            keyRef = d[i + 2];
        } else if (tag == 0x80 && (length != 1 || d[i + 2] != 0x02)) {
            return Response::Status(sw::kWrongData);
        }
        i += 2u + length;
    }
    if (!keyRef) {
        return Response::Status(sw::kWrongData);
    }
    CardPath keyFile = m_currentDf;
    keyFile.push_back(static_cast<uint16_t>(0x4500 | *keyRef));
    m_keys.use = KeySession::Use::None;
    m_keys.keyFile.reset();
    bool found = false;
    for (const CardKey& key : m_state.keys) {
        found = found || key.keyFile == keyFile;
    }
    if (!found) {
        return Response::Status(sw::kRefDataNotFound);
    }
    if (use == KeySession::Use::Decipher && InSignatureApplication(keyFile)) {
        return Response::Status(sw::kConditionsNotSatisfied);
    }
    m_keys.use = use;
    m_keys.keyFile = std::move(keyFile);
    return Response::Status(sw::kOk);
}

const CardKey* KeyCommands::SelectedKey() const {
    if (!m_keys.keyFile) {
        return nullptr;
    }
    for (const CardKey& key : m_state.keys) {
        if (key.keyFile == *m_keys.keyFile) {
            return &key;
        }
    }
    return nullptr;
}

uint16_t KeyCommands::PinCondition(const CardPath& keyFile, int& pinIndex) const {
    const bool signatureApp = InSignatureApplication(keyFile);
    const uint8_t ref = signatureApp ? kSignaturePin : kCardPin;
    const CardPath where =
        signatureApp ? CardPath{kMasterFile, kSignatureDf} : CardPath{kMasterFile};
    pinIndex = -1;
    for (size_t i = 0; i < m_state.pins.size(); ++i) {
        if (m_state.pins[i].ref == ref && m_state.pins[i].df == where) {
            pinIndex = static_cast<int>(i);
        }
    }
    if (pinIndex < 0 || static_cast<size_t>(pinIndex) >= m_verified.size() ||
        !m_verified[static_cast<size_t>(pinIndex)]) {
        return sw::kSecurityNotSatisfied;
    }
    return sw::kOk;
}

Response KeyCommands::PerformSecurityOperation(const CommandApdu& cmd,
                                               std::span<const uint8_t> data) {
    const bool sign = cmd.p1 == 0x9E && cmd.p2 == 0x9A;
    const bool decipher = cmd.p1 == 0x80 && cmd.p2 == 0x86;
    if (!sign && !decipher) {
        return Response::Status(sw::kWrongP1P2);
    }
    const CardKey* key = SelectedKey();
    const KeySession::Use wanted = sign ? KeySession::Use::Sign : KeySession::Use::Decipher;
    if (key == nullptr || m_keys.use != wanted) {
        return Response::Status(sw::kConditionsNotSatisfied);
    }
    int pin = -1;
    if (const uint16_t condition = PinCondition(key->keyFile, pin); condition != sw::kOk) {
        return Response::Status(condition);
    }
    Response r = sign ? Sign(*key, data) : Decipher(*key, data);
    if (sign && r.sw == sw::kOk && InSignatureApplication(key->keyFile)) {
        m_verified[static_cast<size_t>(pin)] = false;
    }
    if (cmd.le && r.data.size() > *cmd.le) {
        // The caller asked for fewer bytes than the answer has.
        return Response::Status(static_cast<uint16_t>(0x6C00 | (r.data.size() & 0xFF)));
    }
    return r;
}

Response KeyCommands::Sign(const CardKey& key, std::span<const uint8_t> data) {
    const auto modulus = RsaModulus(key.privateKeyDer);
    if (!modulus || data.empty() || data.size() + 11 > modulus->size()) {
        return Response::Status(sw::kWrongLength);
    }
    auto signature = RsaSignPkcs1(key.privateKeyDer, data);
    if (!signature) {
        return Response::Status(sw::kWrongData);
    }
    return Response{std::move(*signature), sw::kOk};
}

Response KeyCommands::Decipher(const CardKey& key, std::span<const uint8_t> data) {
    const auto modulus = RsaModulus(key.privateKeyDer);
    if (!modulus || data.size() != modulus->size() + 1 || data[0] != 0x00) {
        return Response::Status(sw::kWrongLength);
    }
    auto plain = RsaDecrypt(key.privateKeyDer, data.subspan(1), true);
    if (!plain) {
        return Response::Status(sw::kWrongData);
    }
    return Response{std::move(*plain), sw::kOk};
}

} // namespace vcard
