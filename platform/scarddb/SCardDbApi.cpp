// The smart-card database calls over the machine hive.

#include "platform/certstore/HiveKey.h"
#include "platform/registry/RegTransaction.h"
#include "platform/scarddb/SCardDb.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kCardsKey = "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards";
constexpr size_t kMaxStoredAtr = 36;

std::string CardKeyPath(const std::string& name) {
    return std::string(kCardsKey) + "\\" + name;
}

bool ValidCardName(LPCSTR name) {
    return name && *name && std::strchr(name, '\\') == nullptr &&
           std::strlen(name) <= REG_MAX_KEY_NAME;
}

const char* ProviderValueName(DWORD providerId) {
    switch (providerId) {
    case SCARD_PROVIDER_CSP:
        return "Crypto Provider";
    case SCARD_PROVIDER_KSP:
        return "Smart Card Key Storage Provider";
    case SCARD_PROVIDER_CARD_MODULE:
        return "80000001";
    default:
        return nullptr;
    }
}

// Hands `text` (with its terminating NULs) to the caller the WinSCard way:
// a null buffer asks for the length, SCARD_AUTOALLOCATE gets a malloc'ed
// copy for SCardFreeMemory, otherwise the caller's buffer must be big enough.
LONG HandOut(const std::string& text, LPSTR buffer, LPDWORD length) {
    const size_t size = text.size();
    if (*length == SCARD_AUTOALLOCATE) {
        if (!buffer) {
            return SCARD_E_INVALID_PARAMETER;
        }
        // malloc, because SCardFreeMemory releases with free().
        char* copy = static_cast<char*>(std::malloc(size));
        if (!copy) {
            return SCARD_E_NO_MEMORY;
        }
        std::memcpy(copy, text.data(), size);
        if (VelkPcscAdoptAllocation) {
            VelkPcscAdoptAllocation(copy);
        }
        std::memcpy(buffer, &copy, sizeof copy); // buffer is really a char**
        *length = static_cast<DWORD>(size);
        return SCARD_S_SUCCESS;
    }
    if (!buffer) {
        *length = static_cast<DWORD>(size);
        return SCARD_S_SUCCESS;
    }
    if (*length < size) {
        *length = static_cast<DWORD>(size);
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::memcpy(buffer, text.data(), size);
    *length = static_cast<DWORD>(size);
    return SCARD_S_SUCCESS;
}

bool Matches(const velk::CHiveKey& card, LPCBYTE atr, size_t atrLength) {
    std::vector<uint8_t> stored;
    DWORD type = 0;
    if (card.QueryBytes("ATR", stored, &type) != ERROR_SUCCESS || type != REG_BINARY ||
        stored.size() != atrLength) {
        return false;
    }
    std::vector<uint8_t> mask;
    if (card.QueryBytes("ATRMask", mask, &type) != ERROR_SUCCESS) {
        mask.assign(stored.size(), 0xFF);
    } else if (mask.size() != stored.size()) {
        return false; // a damaged entry matches nothing
    }
    for (size_t i = 0; i < atrLength; ++i) {
        if ((atr[i] & mask[i]) != (stored[i] & mask[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

LONG SCardListCardsA(SCARDCONTEXT /*hContext*/, LPCBYTE pbAtr, LPCGUID /*rgquidInterfaces*/,
                     DWORD cguidInterfaceCount, LPSTR mszCards, LPDWORD pcchCards) {
    if (!pcchCards) {
        return SCARD_E_INVALID_PARAMETER;
    }
    try {
        std::string list;
        const size_t atrLength = pbAtr ? velk::AtrLength(pbAtr, MAX_ATR_SIZE) : 0;
        // No interfaces are recorded, so a query for some matches nothing;
        // neither does an ATR whose structure does not hold together.
        const bool searchable = cguidInterfaceCount == 0 && (!pbAtr || atrLength > 0);
        velk::CHiveKey cards;
        const LONG opened = searchable ? cards.Open(HKEY_LOCAL_MACHINE, kCardsKey, KEY_READ)
                                       : static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND) {
            return SCARD_F_INTERNAL_ERROR;
        }
        std::vector<std::string> names;
        if (opened == ERROR_SUCCESS && cards.SubkeyNames(names) != ERROR_SUCCESS) {
            return SCARD_F_INTERNAL_ERROR;
        }
        for (const auto& name : names) {
            velk::CHiveKey card;
            if (card.Open(cards.Get(), name, KEY_READ) != ERROR_SUCCESS) {
                continue;
            }
            if (!pbAtr || Matches(card, pbAtr, atrLength)) {
                list += name;
                list.push_back('\0');
            }
        }
        list.push_back('\0');
        return HandOut(list, mszCards, pcchCards);
    } catch (const std::bad_alloc&) {
        return SCARD_E_NO_MEMORY;
    }
}

LONG SCardGetCardTypeProviderNameA(SCARDCONTEXT /*hContext*/, LPCSTR szCardName, DWORD dwProviderId,
                                   LPSTR szProvider, LPDWORD pcchProvider) {
    if (!szCardName || !pcchProvider) {
        return SCARD_E_INVALID_PARAMETER;
    }
    const char* valueName = ProviderValueName(dwProviderId);
    if (!valueName) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if (!ValidCardName(szCardName)) {
        return SCARD_E_UNKNOWN_CARD;
    }
    try {
        velk::CHiveKey card;
        std::string provider;
        if (card.Open(HKEY_LOCAL_MACHINE, CardKeyPath(szCardName), KEY_READ) != ERROR_SUCCESS ||
            card.QueryString(valueName, provider) != ERROR_SUCCESS) {
            return SCARD_E_UNKNOWN_CARD;
        }
        provider.push_back('\0');
        return HandOut(provider, szProvider, pcchProvider);
    } catch (const std::bad_alloc&) {
        return SCARD_E_NO_MEMORY;
    }
}

LONG SCardIntroduceCardTypeA(SCARDCONTEXT /*hContext*/, LPCSTR szCardName,
                             LPCGUID /*pguidPrimaryProvider*/, LPCGUID /*rgguidInterfaces*/,
                             DWORD /*dwInterfaceCount*/, LPCBYTE pbAtr, LPCBYTE pbAtrMask,
                             DWORD cbAtrLen) {
    if (!ValidCardName(szCardName) || !pbAtr || cbAtrLen == 0 || cbAtrLen > kMaxStoredAtr) {
        return SCARD_E_INVALID_PARAMETER;
    }
    RegTransaction transaction(HKEY_LOCAL_MACHINE);
    if (const LONG error = transaction.Status()) {
        return error;
    }
    velk::CHiveKey card;
    if (const LONG error = card.Create(HKEY_LOCAL_MACHINE, CardKeyPath(szCardName))) {
        return error;
    }
    if (const LONG error = card.SetBytes("ATR", REG_BINARY, pbAtr, cbAtrLen)) {
        return error;
    }
    if (pbAtrMask) {
        if (const LONG error = card.SetBytes("ATRMask", REG_BINARY, pbAtrMask, cbAtrLen)) {
            return error;
        }
    } else {
        RegDeleteValueA(card.Get(), "ATRMask");
    }
    card.Close();
    return transaction.Commit();
}

LONG SCardSetCardTypeProviderNameA(SCARDCONTEXT /*hContext*/, LPCSTR szCardName, DWORD dwProviderId,
                                   LPCSTR szProvider) {
    const char* valueName = ProviderValueName(dwProviderId);
    if (!ValidCardName(szCardName) || !szProvider || !valueName) {
        return SCARD_E_INVALID_PARAMETER;
    }
    velk::CHiveKey card;
    if (const LONG error = card.Open(HKEY_LOCAL_MACHINE, CardKeyPath(szCardName), KEY_ALL_ACCESS)) {
        return error == ERROR_FILE_NOT_FOUND ? SCARD_E_UNKNOWN_CARD : error;
    }
    return card.SetString(valueName, szProvider);
}

LONG SCardForgetCardTypeA(SCARDCONTEXT /*hContext*/, LPCSTR szCardName) {
    if (!ValidCardName(szCardName)) {
        return SCARD_E_INVALID_PARAMETER;
    }
    const LONG error = RegDeleteTreeA(HKEY_LOCAL_MACHINE, CardKeyPath(szCardName).c_str());
    return error == ERROR_FILE_NOT_FOUND ? SCARD_E_UNKNOWN_CARD : error;
}
