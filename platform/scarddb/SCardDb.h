#pragma once

// The smart-card database, WinSCard-shaped, over the machine hive laid out as
//   HKLM\SOFTWARE\Microsoft\Cryptography\Calais\SmartCards\<card name>
//     "ATR" REG_BINARY, "ATRMask" REG_BINARY (optional, same length as ATR),
//     "Crypto Provider" REG_SZ
// An ATR matches a card type when it has the same length as the stored ATR
// and (atr[i] & mask[i]) == (ATR[i] & mask[i]) for every byte (no mask: all
// bytes compared).
//
// The SCARDCONTEXT argument is accepted and not used (the database needs no
// connection to the resource manager); 0 is fine. SCARD_AUTOALLOCATE works as
// with pcsc-lite: the buffer is allocated with malloc and released with
// SCardFreeMemory.

#include "platform/registry/WinTypes.h"

#include <PCSC/pcsclite.h>
#include <PCSC/winscard.h>

#include <cstdint>
#include <string>
#include <vector>

#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
#endif
typedef const GUID* LPCGUID;

// A PC/SC implementation whose SCardFreeMemory frees only blocks it handed
// out itself (the in-process library of the unit tests) defines this hook and
// takes over each block that SCARD_AUTOALLOCATE hands out here; such a block
// comes from malloc and is released with free. Left undefined with pcsc-lite.
extern "C" void VelkPcscAdoptAllocation(void* block) __attribute__((weak));

#define SCARD_PROVIDER_PRIMARY 1UL
#define SCARD_PROVIDER_CSP 2UL
#define SCARD_PROVIDER_KSP 3UL
#define SCARD_PROVIDER_CARD_MODULE 0x80000001UL

// Multi-string of the card names whose ATR matches pbAtr (all card types when
// pbAtr is null), in the database's name order. The call has no ATR length:
// it is taken from the ATR's own structure (interface bytes, historical
// bytes, check byte; see AtrLength), and pbAtr is read no further than that
// (MAX_ATR_SIZE at most). A type matches only an ATR of its own length.
// No match: SCARD_S_SUCCESS and an empty multi-string ("\0", *pcchCards 1).
// Interfaces (rgquidInterfaces) are not stored and must be absent (0 count).
LONG SCardListCardsA(SCARDCONTEXT hContext, LPCBYTE pbAtr, LPCGUID rgquidInterfaces,
                     DWORD cguidInterfaceCount, LPSTR mszCards, LPDWORD pcchCards);

// The provider of a card type: SCARD_PROVIDER_CSP gives "Crypto Provider".
// SCARD_E_UNKNOWN_CARD for an unknown name or a missing value.
LONG SCardGetCardTypeProviderNameA(SCARDCONTEXT hContext, LPCSTR szCardName, DWORD dwProviderId,
                                   LPSTR szProvider, LPDWORD pcchProvider);

// Registers a card type (needs write access to the machine hive). pbAtrMask
// may be null; cbAtrLen is the length of both. Failures of the hive come back
// as the registry's codes (ERROR_ACCESS_DENIED on a read-only machine hive).
LONG SCardIntroduceCardTypeA(SCARDCONTEXT hContext, LPCSTR szCardName, LPCGUID pguidPrimaryProvider,
                             LPCGUID rgguidInterfaces, DWORD dwInterfaceCount, LPCBYTE pbAtr,
                             LPCBYTE pbAtrMask, DWORD cbAtrLen);
LONG SCardSetCardTypeProviderNameA(SCARDCONTEXT hContext, LPCSTR szCardName, DWORD dwProviderId,
                                   LPCSTR szProvider);
LONG SCardForgetCardTypeA(SCARDCONTEXT hContext, LPCSTR szCardName);

namespace velk {

// One card type as the install step registers it.
struct CardType {
    std::string name;
    std::vector<uint8_t> atr;
    std::vector<uint8_t> mask; // empty: all bytes significant
    std::string provider;
};

// The maker's card types ("Velkora MD - ..." with "Velkora Base Smart Card
// Crypto Provider") and one card type of another make ("Other Card") with a
// provider of its own.
const std::vector<CardType>& KnownCardTypes();

// Registers KnownCardTypes() in the machine hive. SCARD_S_SUCCESS or the
// first failure, as SCardIntroduceCardTypeA gives it.
LONG InstallCardTypes();

// The length of an ATR from its own structure (ISO/IEC 7816-3: T0's
// historical byte count and interface bytes, TCK when a protocol other than
// T=0 is indicated), reading at most `available` bytes; 0 when malformed or
// longer than `available`.
size_t AtrLength(const uint8_t* atr, size_t available);

} // namespace velk
