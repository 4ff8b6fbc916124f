// velkora-pkcs11: the card keys for every application that loads PKCS #11
// modules (p11-kit, NSS). One slot per PC/SC reader, a token per card the
// minidriver serves; the private-key operations run on the card through the
// minidriver's card commands. One lock serialises the calls; only
// C_WaitForSlotEvent waits outside it.

#include "minidriver/md/Minidriver.h"
#include "minidriver/md/ModuleVersion.h"
#include "minidriver/md/Readers.h"
#include "minidriver/pkcs11/Cryptoki.h"
#include "minidriver/pkcs11/P11Mechanism.h"
#include "minidriver/pkcs11/P11Session.h"
#include "minidriver/pkcs11/P11Template.h"
#include "minidriver/pkcs11/P11Token.h"

#include "card/PcscOwners.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

VELK_DEFINE_MODULE_VERSION();

namespace velkp11 {
namespace {

constexpr CK_ULONG kMinPin = 4;
constexpr CK_ULONG kMaxPin = 16;
constexpr DWORD kWaitSlice = 1000; // ms

struct Module {
    std::mutex lock;
    bool initialized = false;
    scard::ContextOwner context;
    std::vector<std::unique_ptr<P11Token>> tokens; // slot id = index
    std::map<CK_SESSION_HANDLE, P11Session> sessions;
    CK_SESSION_HANDLE nextSession = 1;

    // C_WaitForSlotEvent: its own context, cancelled by C_Finalize.
    SCARDCONTEXT waitContext = 0;
    int waiters = 0;
    std::condition_variable waitersGone;
    std::vector<ReaderState> reported; // per slot, what the last event showed
};

Module& TheModule() {
    static Module module;
    return module;
}

void Pad(CK_UTF8CHAR* field, size_t size, std::string_view text) {
    std::memset(field, ' ', size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

// Adds a slot for every reader PC/SC lists now; slots of readers that went
// stay (without a token), so that slot ids never change meaning.
void UpdateSlots(Module& m) {
    std::vector<std::string> readers;
    velkmd::ListReaders(readers);
    for (const std::string& reader : readers) {
        const bool known = std::any_of(m.tokens.begin(), m.tokens.end(),
                                       [&](const auto& t) { return t->Reader() == reader; });
        if (!known) {
            m.tokens.push_back(std::make_unique<P11Token>(reader));
            m.reported.push_back(QueryReader(m.context.Get(), reader));
        }
    }
}

void CloseSessionsOf(Module& m, CK_SLOT_ID slot) {
    std::erase_if(m.sessions, [&](const auto& entry) { return entry.second.slot == slot; });
}

P11Token* TokenOf(Module& m, CK_SLOT_ID slot) {
    if (slot >= m.tokens.size()) {
        return nullptr;
    }
    P11Token* token = m.tokens[slot].get();
    token->Refresh(m.context.Get());
    return token;
}

// The token of a slot with a card of the minidriver in it, seen afresh.
CK_RV CardToken(Module& m, CK_SLOT_ID slot, P11Token*& token) {
    token = TokenOf(m, slot);
    if (token == nullptr) {
        return CKR_SLOT_ID_INVALID;
    }
    if (!token->Present()) {
        return CKR_TOKEN_NOT_PRESENT;
    }
    return token->Recognized() ? CKR_OK : CKR_TOKEN_NOT_RECOGNIZED;
}

// The session and its token, seen afresh: a card that went away ends the
// session (CKR_DEVICE_REMOVED once, CKR_SESSION_HANDLE_INVALID after).
CK_RV Open(Module& m, CK_SESSION_HANDLE handle, P11Session*& session, P11Token*& token) {
    const auto it = m.sessions.find(handle);
    if (it == m.sessions.end()) {
        return CKR_SESSION_HANDLE_INVALID;
    }
    token = TokenOf(m, it->second.slot);
    if (token == nullptr || !token->Present() || token->Generation() != it->second.generation) {
        CloseSessionsOf(m, it->second.slot);
        return CKR_DEVICE_REMOVED;
    }
    session = &it->second;
    return CKR_OK;
}

// The preamble of every entry point but C_Finalize and C_WaitForSlotEvent
// (which unlock on their way): the module's lock, then CKR_CRYPTOKI_NOT_INITIALIZED
// before anything else is looked at.
#define VELK_INITIALIZED                                                                           \
    Module& m = TheModule();                                                                       \
    std::lock_guard<std::mutex> guard(m.lock);                                                     \
    if (!m.initialized) {                                                                          \
        return CKR_CRYPTOKI_NOT_INITIALIZED;                                                       \
    }                                                                                              \
    static_assert(true)

#define VELK_SESSION(handle)                                                                       \
    VELK_INITIALIZED;                                                                              \
    P11Session* session = nullptr;                                                                 \
    P11Token* token = nullptr;                                                                     \
    if (const CK_RV opened = Open(m, handle, session, token); opened != CKR_OK) {                  \
        return opened;                                                                             \
    }

// --- general -----------------------------------------------------------------

CK_RV Initialize(CK_VOID_PTR pInitArgs) {
    Module& m = TheModule();
    std::lock_guard<std::mutex> guard(m.lock);
    if (pInitArgs != nullptr) {
        const auto* args = static_cast<const CK_C_INITIALIZE_ARGS*>(pInitArgs);
        if (args->pReserved != nullptr) {
            return CKR_ARGUMENTS_BAD;
        }
        const bool someFunctions =
            args->CreateMutex || args->DestroyMutex || args->LockMutex || args->UnlockMutex;
        const bool allFunctions =
            args->CreateMutex && args->DestroyMutex && args->LockMutex && args->UnlockMutex;
        if (someFunctions && !allFunctions) {
            return CKR_ARGUMENTS_BAD;
        }
        // The module locks with the system's primitives; it cannot use the
        // application's instead.
        if (someFunctions && (args->flags & CKF_OS_LOCKING_OK) == 0) {
            return CKR_CANT_LOCK;
        }
    }
    if (m.initialized) {
        return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    }
    SCARDCONTEXT context = 0;
    SCARDCONTEXT waitContext = 0;
    // Without pcscd there are no slots, which is not an error of the module.
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) == SCARD_S_SUCCESS) {
        m.context = scard::ContextOwner(context);
    }
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &waitContext) ==
        SCARD_S_SUCCESS) {
        m.waitContext = waitContext;
    }
    m.initialized = true;
    return CKR_OK;
}

CK_RV Finalize(CK_VOID_PTR pReserved) {
    Module& m = TheModule();
    std::unique_lock<std::mutex> guard(m.lock);
    if (pReserved != nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    if (!m.initialized) {
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    }
    m.initialized = false;
    if (m.waitContext != 0) {
        SCardCancel(m.waitContext);
        m.waitersGone.wait(guard, [&] { return m.waiters == 0; });
        SCardReleaseContext(m.waitContext);
        m.waitContext = 0;
    }
    m.sessions.clear();
    m.tokens.clear();
    m.reported.clear();
    m.context.Close();
    return CKR_OK;
}

CK_RV GetInfo(CK_INFO_PTR pInfo) {
    VELK_INITIALIZED;
    if (pInfo == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    *pInfo = {};
    pInfo->cryptokiVersion = {2, 40};
    Pad(pInfo->manufacturerID, sizeof pInfo->manufacturerID, "Velkora");
    Pad(pInfo->libraryDescription, sizeof pInfo->libraryDescription, "Velkora smart card module");
    pInfo->libraryVersion = {VELK_MODULE_VERSION_MAJOR, VELK_MODULE_VERSION_MINOR};
    return CKR_OK;
}

// --- slots and tokens --------------------------------------------------------

CK_RV GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    VELK_INITIALIZED;
    if (pulCount == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    UpdateSlots(m);
    std::vector<std::string> readers;
    velkmd::ListReaders(readers);
    std::vector<CK_SLOT_ID> slots;
    for (CK_SLOT_ID id = 0; id < m.tokens.size(); ++id) {
        P11Token& token = *m.tokens[id];
        if (std::find(readers.begin(), readers.end(), token.Reader()) == readers.end()) {
            continue;
        }
        token.Refresh(m.context.Get());
        if (tokenPresent == CK_FALSE || (token.Present() && token.Recognized())) {
            slots.push_back(id);
        }
    }
    if (pSlotList == nullptr) {
        *pulCount = slots.size();
        return CKR_OK;
    }
    if (*pulCount < slots.size()) {
        *pulCount = slots.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    std::copy(slots.begin(), slots.end(), pSlotList);
    *pulCount = slots.size();
    return CKR_OK;
}

CK_RV GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
    VELK_INITIALIZED;
    if (pInfo == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    P11Token* token = TokenOf(m, slotID);
    if (token == nullptr) {
        return CKR_SLOT_ID_INVALID;
    }
    *pInfo = {};
    Pad(pInfo->slotDescription, sizeof pInfo->slotDescription, token->Reader());
    Pad(pInfo->manufacturerID, sizeof pInfo->manufacturerID, "Velkora");
    pInfo->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT;
    if (token->Present() && token->Recognized()) {
        pInfo->flags |= CKF_TOKEN_PRESENT;
    }
    return CKR_OK;
}

CK_RV GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
    VELK_INITIALIZED;
    if (pInfo == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    P11Token* token = nullptr;
    if (const CK_RV found = CardToken(m, slotID, token); found != CKR_OK) {
        return found;
    }
    *pInfo = {};
    const std::string& number = token->CardNumber();
    Pad(pInfo->label, sizeof pInfo->label, "Velkora " + number);
    Pad(pInfo->manufacturerID, sizeof pInfo->manufacturerID, "Velkora");
    Pad(pInfo->model, sizeof pInfo->model, "T-COS 3.0");
    Pad(pInfo->serialNumber, sizeof pInfo->serialNumber,
        number.size() > 16 ? number.substr(number.size() - 16) : number);
    pInfo->flags =
        CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED | CKF_WRITE_PROTECTED;
    pInfo->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
    pInfo->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    pInfo->ulSessionCount = CK_UNAVAILABLE_INFORMATION;
    pInfo->ulRwSessionCount = CK_UNAVAILABLE_INFORMATION;
    pInfo->ulMinPinLen = kMinPin;
    pInfo->ulMaxPinLen = kMaxPin;
    pInfo->ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
    pInfo->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    pInfo->ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
    pInfo->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    pInfo->hardwareVersion = {3, 0};
    pInfo->firmwareVersion = {3, 0};
    return CKR_OK;
}

CK_RV GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pList, CK_ULONG_PTR pulCount) {
    VELK_INITIALIZED;
    if (pulCount == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    if (slotID >= m.tokens.size()) {
        return CKR_SLOT_ID_INVALID;
    }
    const auto all = Mechanisms();
    if (pList == nullptr) {
        *pulCount = all.size();
        return CKR_OK;
    }
    if (*pulCount < all.size()) {
        *pulCount = all.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    for (size_t i = 0; i < all.size(); ++i) {
        pList[i] = all[i].type;
    }
    *pulCount = all.size();
    return CKR_OK;
}

CK_RV GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
    VELK_INITIALIZED;
    if (pInfo == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    if (slotID >= m.tokens.size()) {
        return CKR_SLOT_ID_INVALID;
    }
    const MechanismUse* use = FindMechanism(type);
    if (use == nullptr) {
        return CKR_MECHANISM_INVALID;
    }
    pInfo->ulMinKeySize = 1024;
    pInfo->ulMaxKeySize = 2048;
    pInfo->flags = use->flags;
    return CKR_OK;
}

CK_RV WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved) {
    Module& m = TheModule();
    std::unique_lock<std::mutex> guard(m.lock);
    if (!m.initialized) {
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    }
    if (pSlot == nullptr || pReserved != nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    ++m.waiters;
    CK_RV rv = CKR_NO_EVENT;
    while (m.initialized) {
        UpdateSlots(m);
        bool found = false;
        for (CK_SLOT_ID id = 0; id < m.tokens.size() && !found; ++id) {
            const ReaderState now = QueryReader(m.context.Get(), m.tokens[id]->Reader());
            if (!(now == m.reported[id])) {
                m.reported[id] = now;
                *pSlot = id;
                found = true;
            }
        }
        if (found) {
            rv = CKR_OK;
            break;
        }
        if ((flags & CKF_DONT_BLOCK) != 0 || m.waitContext == 0) {
            break;
        }
        // Wait for the next change of any reader, outside the lock.
        std::vector<std::string> names;
        for (const auto& token : m.tokens) {
            names.push_back(token->Reader());
        }
        names.emplace_back("\\\\?PnP?\\Notification");
        std::vector<SCARD_READERSTATE> states(names.size());
        for (size_t i = 0; i < names.size(); ++i) {
            states[i].szReader = names[i].c_str();
            states[i].dwCurrentState =
                i < m.reported.size()
                    ? (m.reported[i].present ? SCARD_STATE_PRESENT : SCARD_STATE_EMPTY) |
                          (static_cast<DWORD>(m.reported[i].events) << 16)
                    : SCARD_STATE_UNAWARE;
        }
        const SCARDCONTEXT waitContext = m.waitContext;
        guard.unlock();
        // Bounded, so that a C_Finalize whose cancel came before this call
        // began still ends the wait soon.
        const LONG waited = SCardGetStatusChange(waitContext, kWaitSlice, states.data(),
                                                 static_cast<DWORD>(states.size()));
        guard.lock();
        if (waited == SCARD_E_CANCELLED || !m.initialized) {
            rv = CKR_CRYPTOKI_NOT_INITIALIZED;
            break;
        }
        if (waited != SCARD_S_SUCCESS && waited != SCARD_E_TIMEOUT) {
            rv = CKR_DEVICE_ERROR;
            break;
        }
    }
    if (!m.initialized && rv == CKR_NO_EVENT) {
        rv = CKR_CRYPTOKI_NOT_INITIALIZED;
    }
    --m.waiters;
    m.waitersGone.notify_all();
    return rv;
}

// --- sessions ----------------------------------------------------------------

CK_RV OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
                  CK_SESSION_HANDLE_PTR phSession) {
    VELK_INITIALIZED;
    if (phSession == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    if ((flags & CKF_SERIAL_SESSION) == 0) {
        return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    }
    P11Token* token = nullptr;
    if (const CK_RV found = CardToken(m, slotID, token); found != CKR_OK) {
        return found;
    }
    P11Session& session = m.sessions[m.nextSession];
    session.slot = slotID;
    session.flags = flags;
    session.generation = token->Generation();
    *phSession = m.nextSession++;
    return CKR_OK;
}

// The last session of a token closed logs its user out.
void LogoutIfLast(Module& m, CK_SLOT_ID slot) {
    const bool any = std::any_of(m.sessions.begin(), m.sessions.end(),
                                 [&](const auto& entry) { return entry.second.slot == slot; });
    if (!any && slot < m.tokens.size()) {
        m.tokens[slot]->Logout();
    }
}

CK_RV CloseSession(CK_SESSION_HANDLE hSession) {
    VELK_INITIALIZED;
    const auto it = m.sessions.find(hSession);
    if (it == m.sessions.end()) {
        return CKR_SESSION_HANDLE_INVALID;
    }
    const CK_SLOT_ID slot = it->second.slot;
    m.sessions.erase(it);
    LogoutIfLast(m, slot);
    return CKR_OK;
}

CK_RV CloseAllSessions(CK_SLOT_ID slotID) {
    VELK_INITIALIZED;
    if (slotID >= m.tokens.size()) {
        return CKR_SLOT_ID_INVALID;
    }
    CloseSessionsOf(m, slotID);
    LogoutIfLast(m, slotID);
    return CKR_OK;
}

CK_RV GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
    VELK_SESSION(hSession);
    if (pInfo == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    const bool rw = (session->flags & CKF_RW_SESSION) != 0;
    *pInfo = {};
    pInfo->slotID = session->slot;
    pInfo->flags = session->flags;
    if (token->LoggedIn()) {
        pInfo->state = rw ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
    } else {
        pInfo->state = rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    }
    return CKR_OK;
}

CK_RV Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin,
            CK_ULONG ulPinLen) {
    VELK_SESSION(hSession);
    if (pPin == nullptr && ulPinLen > 0) {
        return CKR_ARGUMENTS_BAD;
    }
    if (pPin == nullptr) {
        // No protected authentication path: the PIN comes from the application.
        return CKR_ARGUMENTS_BAD;
    }
    if (userType != CKU_USER && userType != CKU_CONTEXT_SPECIFIC && userType != CKU_SO) {
        return CKR_USER_TYPE_INVALID;
    }
    if (userType == CKU_SO) {
        return token->LoggedIn() ? CKR_USER_ANOTHER_ALREADY_LOGGED_IN : CKR_USER_TYPE_INVALID;
    }
    const P11Object* key = nullptr;
    if (userType == CKU_CONTEXT_SPECIFIC) {
        if (session->operation.kind == P11Operation::Kind::None) {
            return CKR_OPERATION_NOT_INITIALIZED;
        }
        key = token->Find(session->operation.key);
    } else if (token->LoggedIn()) {
        return CKR_USER_ALREADY_LOGGED_IN;
    }
    if (ulPinLen < kMinPin || ulPinLen > kMaxPin) {
        return CKR_PIN_LEN_RANGE;
    }
    const CK_RV rv = token->Login(userType, {pPin, ulPinLen}, key);
    if (rv == CKR_DEVICE_REMOVED) {
        CloseSessionsOf(m, session->slot);
    }
    return rv;
}

CK_RV Logout(CK_SESSION_HANDLE hSession) {
    VELK_SESSION(hSession);
    if (!token->LoggedIn()) {
        return CKR_USER_NOT_LOGGED_IN;
    }
    token->Logout();
    return CKR_OK;
}

// --- objects -----------------------------------------------------------------

CK_RV GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                        CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    VELK_SESSION(hSession);
    if (pTemplate == nullptr && ulCount > 0) {
        return CKR_ARGUMENTS_BAD;
    }
    const P11Object* object = token->Find(hObject);
    if (object == nullptr) {
        return CKR_OBJECT_HANDLE_INVALID;
    }
    return ReadAttributes(*object, pTemplate, ulCount);
}

CK_RV FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    VELK_SESSION(hSession);
    if (pTemplate == nullptr && ulCount > 0) {
        return CKR_ARGUMENTS_BAD;
    }
    if (session->finding) {
        return CKR_OPERATION_ACTIVE;
    }
    session->found.clear();
    for (const P11Object& object : token->Objects()) {
        if (MatchesTemplate(object, pTemplate, ulCount)) {
            session->found.push_back(object.handle);
        }
    }
    session->foundNext = 0;
    session->finding = true;
    return CKR_OK;
}

CK_RV FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject,
                  CK_ULONG ulMaxObjectCount, CK_ULONG_PTR pulObjectCount) {
    VELK_SESSION(hSession);
    if (!session->finding) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    if (pulObjectCount == nullptr || (phObject == nullptr && ulMaxObjectCount > 0)) {
        return CKR_ARGUMENTS_BAD;
    }
    CK_ULONG n = 0;
    while (n < ulMaxObjectCount && session->foundNext < session->found.size()) {
        phObject[n++] = session->found[session->foundNext++];
    }
    *pulObjectCount = n;
    return CKR_OK;
}

CK_RV FindObjectsFinal(CK_SESSION_HANDLE hSession) {
    VELK_SESSION(hSession);
    if (!session->finding) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    session->finding = false;
    session->found.clear();
    return CKR_OK;
}

// --- signing and decryption --------------------------------------------------

CK_RV StartOperation(P11Session& session, P11Token& token, CK_MECHANISM_PTR mechanism,
                     CK_OBJECT_HANDLE key, P11Operation::Kind kind) {
    if (mechanism == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    if (session.operation.kind != P11Operation::Kind::None) {
        return CKR_OPERATION_ACTIVE;
    }
    const MechanismUse* use = FindMechanism(mechanism->mechanism);
    const CK_FLAGS wanted = kind == P11Operation::Kind::Sign ? CKF_SIGN : CKF_DECRYPT;
    if (use == nullptr || (use->flags & wanted) == 0) {
        return CKR_MECHANISM_INVALID;
    }
    if (mechanism->ulParameterLen != 0) {
        return CKR_MECHANISM_PARAM_INVALID;
    }
    const P11Object* object = token.Find(key);
    if (object == nullptr) {
        return CKR_KEY_HANDLE_INVALID;
    }
    if (object->objectClass != CKO_PRIVATE_KEY) {
        return CKR_KEY_TYPE_INCONSISTENT;
    }
    if (!object->Flag(kind == P11Operation::Kind::Sign ? CKA_SIGN : CKA_DECRYPT)) {
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    }
    session.operation.Clear();
    session.operation.kind = kind;
    session.operation.mechanism = use->type;
    session.operation.key = key;
    return CKR_OK;
}

// Signs what the operation collected; keeps the operation for a length query
// or a too small buffer, ends it otherwise.
CK_RV FinishSign(Module& m, P11Session& session, P11Token& token, CK_BYTE_PTR pSignature,
                 CK_ULONG_PTR pulSignatureLen) {
    P11Operation& op = session.operation;
    const P11Object* key = token.Find(op.key);
    if (pulSignatureLen == nullptr || key == nullptr) {
        op.Clear();
        return CKR_ARGUMENTS_BAD;
    }
    if (pSignature == nullptr) {
        *pulSignatureLen = key->modulusBytes;
        return CKR_OK;
    }
    if (*pulSignatureLen < key->modulusBytes) {
        *pulSignatureLen = key->modulusBytes;
        return CKR_BUFFER_TOO_SMALL;
    }
    auto input = SignatureInput(op.mechanism, op.data);
    if (!input || input->size() + 11 > key->modulusBytes) {
        op.Clear();
        return input ? CKR_DATA_LEN_RANGE : CKR_FUNCTION_FAILED;
    }
    Bytes signature;
    const CK_RV rv = token.Sign(*key, *input, signature);
    OPENSSL_cleanse(input->data(), input->size());
    if (rv == CKR_DEVICE_REMOVED) {
        CloseSessionsOf(m, session.slot);
        return rv;
    }
    op.Clear();
    if (rv != CKR_OK) {
        return rv;
    }
    if (signature.size() > *pulSignatureLen) {
        return CKR_DEVICE_ERROR;
    }
    std::copy(signature.begin(), signature.end(), pSignature);
    *pulSignatureLen = signature.size();
    return CKR_OK;
}

CK_RV SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    VELK_SESSION(hSession);
    return StartOperation(*session, *token, pMechanism, hKey, P11Operation::Kind::Sign);
}

CK_RV Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
           CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    VELK_SESSION(hSession);
    P11Operation& op = session->operation;
    if (op.kind != P11Operation::Kind::Sign) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    if (pData == nullptr && ulDataLen > 0) {
        op.Clear();
        return CKR_ARGUMENTS_BAD;
    }
    op.data.assign(pData, pData + ulDataLen);
    return FinishSign(m, *session, *token, pSignature, pulSignatureLen);
}

CK_RV SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    VELK_SESSION(hSession);
    P11Operation& op = session->operation;
    if (op.kind != P11Operation::Kind::Sign) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    if (pPart == nullptr && ulPartLen > 0) {
        op.Clear();
        return CKR_ARGUMENTS_BAD;
    }
    op.data.insert(op.data.end(), pPart, pPart + ulPartLen);
    return CKR_OK;
}

CK_RV SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    VELK_SESSION(hSession);
    if (session->operation.kind != P11Operation::Kind::Sign) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    return FinishSign(m, *session, *token, pSignature, pulSignatureLen);
}

CK_RV DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    VELK_SESSION(hSession);
    return StartOperation(*session, *token, pMechanism, hKey, P11Operation::Kind::Decrypt);
}

CK_RV Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
              CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen) {
    VELK_SESSION(hSession);
    P11Operation& op = session->operation;
    if (op.kind != P11Operation::Kind::Decrypt) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    const P11Object* key = token->Find(op.key);
    if (pulDataLen == nullptr || key == nullptr ||
        (pEncryptedData == nullptr && ulEncryptedDataLen > 0)) {
        op.Clear();
        return CKR_ARGUMENTS_BAD;
    }
    if (ulEncryptedDataLen != key->modulusBytes) {
        op.Clear();
        return CKR_ENCRYPTED_DATA_LEN_RANGE;
    }
    if (!op.haveResult) {
        if (pData == nullptr) {
            // The length of the message is known only once the card has it.
            *pulDataLen = key->modulusBytes - 11;
            return CKR_OK;
        }
        const CK_RV rv = token->Decipher(*key, {pEncryptedData, ulEncryptedDataLen}, op.result);
        if (rv == CKR_DEVICE_REMOVED) {
            CloseSessionsOf(m, session->slot);
            return rv;
        }
        if (rv != CKR_OK) {
            op.Clear();
            return rv;
        }
        op.haveResult = true;
    }
    if (pData == nullptr) {
        *pulDataLen = op.result.size();
        return CKR_OK;
    }
    if (*pulDataLen < op.result.size()) {
        *pulDataLen = op.result.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    std::copy(op.result.begin(), op.result.end(), pData);
    *pulDataLen = op.result.size();
    op.Clear();
    return CKR_OK;
}

// --- everything else ---------------------------------------------------------

// The functions a read-only card token does not offer, whatever their arguments.
template <typename... Args> CK_RV NotSupported(Args...) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV GetFunctionStatus(CK_SESSION_HANDLE hSession) {
    VELK_SESSION(hSession);
    return CKR_FUNCTION_NOT_PARALLEL;
}

CK_RV CancelFunction(CK_SESSION_HANDLE hSession) {
    VELK_SESSION(hSession);
    return CKR_FUNCTION_NOT_PARALLEL;
}

CK_RV GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList);

CK_FUNCTION_LIST MakeFunctionList() {
    CK_FUNCTION_LIST f{};
    f.version = {2, 40};
    f.C_Initialize = Initialize;
    f.C_Finalize = Finalize;
    f.C_GetInfo = GetInfo;
    f.C_GetFunctionList = GetFunctionList;
    f.C_GetSlotList = GetSlotList;
    f.C_GetSlotInfo = GetSlotInfo;
    f.C_GetTokenInfo = GetTokenInfo;
    f.C_GetMechanismList = GetMechanismList;
    f.C_GetMechanismInfo = GetMechanismInfo;
    f.C_InitToken = NotSupported;
    f.C_InitPIN = NotSupported;
    f.C_SetPIN = NotSupported;
    f.C_OpenSession = OpenSession;
    f.C_CloseSession = CloseSession;
    f.C_CloseAllSessions = CloseAllSessions;
    f.C_GetSessionInfo = GetSessionInfo;
    f.C_GetOperationState = NotSupported;
    f.C_SetOperationState = NotSupported;
    f.C_Login = Login;
    f.C_Logout = Logout;
    f.C_CreateObject = NotSupported;
    f.C_CopyObject = NotSupported;
    f.C_DestroyObject = NotSupported;
    f.C_GetObjectSize = NotSupported;
    f.C_GetAttributeValue = GetAttributeValue;
    f.C_SetAttributeValue = NotSupported;
    f.C_FindObjectsInit = FindObjectsInit;
    f.C_FindObjects = FindObjects;
    f.C_FindObjectsFinal = FindObjectsFinal;
    f.C_EncryptInit = NotSupported;
    f.C_Encrypt = NotSupported;
    f.C_EncryptUpdate = NotSupported;
    f.C_EncryptFinal = NotSupported;
    f.C_DecryptInit = DecryptInit;
    f.C_Decrypt = Decrypt;
    f.C_DecryptUpdate = NotSupported;
    f.C_DecryptFinal = NotSupported;
    f.C_DigestInit = NotSupported;
    f.C_Digest = NotSupported;
    f.C_DigestUpdate = NotSupported;
    f.C_DigestKey = NotSupported;
    f.C_DigestFinal = NotSupported;
    f.C_SignInit = SignInit;
    f.C_Sign = Sign;
    f.C_SignUpdate = SignUpdate;
    f.C_SignFinal = SignFinal;
    f.C_SignRecoverInit = NotSupported;
    f.C_SignRecover = NotSupported;
    f.C_VerifyInit = NotSupported;
    f.C_Verify = NotSupported;
    f.C_VerifyUpdate = NotSupported;
    f.C_VerifyFinal = NotSupported;
    f.C_VerifyRecoverInit = NotSupported;
    f.C_VerifyRecover = NotSupported;
    f.C_DigestEncryptUpdate = NotSupported;
    f.C_DecryptDigestUpdate = NotSupported;
    f.C_SignEncryptUpdate = NotSupported;
    f.C_DecryptVerifyUpdate = NotSupported;
    f.C_GenerateKey = NotSupported;
    f.C_GenerateKeyPair = NotSupported;
    f.C_WrapKey = NotSupported;
    f.C_UnwrapKey = NotSupported;
    f.C_DeriveKey = NotSupported;
    f.C_SeedRandom = NotSupported;
    f.C_GenerateRandom = NotSupported;
    f.C_GetFunctionStatus = GetFunctionStatus;
    f.C_CancelFunction = CancelFunction;
    f.C_WaitForSlotEvent = WaitForSlotEvent;
    return f;
}

CK_FUNCTION_LIST g_functions = MakeFunctionList();

CK_RV GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    if (ppFunctionList == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    *ppFunctionList = &g_functions;
    return CKR_OK;
}

} // namespace
} // namespace velkp11

extern "C" __attribute__((visibility("default"))) CK_RV
C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    return velkp11::GetFunctionList(ppFunctionList);
}
