#pragma once

// The CryptoAPI types, constants and error codes shared by the certificate
// stores (platform/certstore) and the providers (platform/crypto).
//
// Conventions of this layer:
// - Integer types come from pcsc-lite's wintypes.h (through the registry
//   layer's WinTypes.h): DWORD is `unsigned long`, BOOL is `short`. So a file
//   may include WinSCard and these calls together, as the callers do.
// - "Wide" text is UTF-16 in `WCHAR` = `char16_t` buffers, NUL-terminated
//   (never `wchar_t`, which is 32 bits here). "A" text is UTF-8.
// - Handles are opaque values checked against a table: a stale or foreign
//   handle fails with ERROR_INVALID_HANDLE / ERROR_INVALID_PARAMETER instead of
//   crashing. Every call reports failure through GetLastError(), per thread.

#include "platform/registry/WinTypes.h"
#include "platform/system/LastError.h" // GetLastError, SetLastError

#include <cstdint>

// ---------------------------------------------------------------- base types

typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef uintptr_t ULONG_PTR;
typedef long HRESULT;

typedef ULONG_PTR HCRYPTPROV;
typedef ULONG_PTR HCRYPTKEY;
typedef ULONG_PTR HCRYPTHASH;
typedef ULONG_PTR HCRYPTPROV_LEGACY;
typedef ULONG_PTR HCRYPTPROV_OR_NCRYPT_KEY_HANDLE;
typedef void* HCERTSTORE;

// ---------------------------------------------------------------- structures

typedef struct _CRYPTOAPI_BLOB {
    DWORD cbData;
    BYTE* pbData;
} CRYPT_INTEGER_BLOB, *PCRYPT_INTEGER_BLOB, CRYPT_OBJID_BLOB, *PCRYPT_OBJID_BLOB, CERT_NAME_BLOB,
    *PCERT_NAME_BLOB, CRYPT_DATA_BLOB, *PCRYPT_DATA_BLOB, CRYPT_HASH_BLOB, *PCRYPT_HASH_BLOB,
    CRYPT_DER_BLOB, *PCRYPT_DER_BLOB;

typedef struct _CRYPT_BIT_BLOB {
    DWORD cbData;
    BYTE* pbData;
    DWORD cUnusedBits;
} CRYPT_BIT_BLOB, *PCRYPT_BIT_BLOB;

typedef struct _CRYPT_ALGORITHM_IDENTIFIER {
    LPSTR pszObjId; // dotted OID text
    CRYPT_OBJID_BLOB Parameters;
} CRYPT_ALGORITHM_IDENTIFIER, *PCRYPT_ALGORITHM_IDENTIFIER;

typedef struct _CERT_PUBLIC_KEY_INFO {
    CRYPT_ALGORITHM_IDENTIFIER Algorithm;
    CRYPT_BIT_BLOB PublicKey;
} CERT_PUBLIC_KEY_INFO, *PCERT_PUBLIC_KEY_INFO;

typedef struct _CERT_EXTENSION {
    LPSTR pszObjId; // dotted OID text, e.g. "1.3.6.1.5.5.7.1.3"
    BOOL fCritical;
    CRYPT_OBJID_BLOB Value; // the DER content of the extnValue OCTET STRING
} CERT_EXTENSION, *PCERT_EXTENSION;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME;

// Blobs point into the certificate's own DER (names are the encoded Name
// SEQUENCE). SerialNumber is little-endian, as CryptoAPI hands it out.
typedef struct _CERT_INFO {
    DWORD dwVersion; // 0 = v1, 2 = v3
    CRYPT_INTEGER_BLOB SerialNumber;
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CERT_NAME_BLOB Issuer;
    FILETIME NotBefore; // 100 ns since 1601-01-01 UTC
    FILETIME NotAfter;
    CERT_NAME_BLOB Subject;
    CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
    CRYPT_BIT_BLOB IssuerUniqueId;
    CRYPT_BIT_BLOB SubjectUniqueId;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
} CERT_INFO, *PCERT_INFO;

typedef struct _CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    PCERT_INFO pCertInfo;
    HCERTSTORE hCertStore; // the store it was enumerated from, or null
} CERT_CONTEXT, *PCERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

typedef struct _CRYPT_KEY_PROV_PARAM {
    DWORD dwParam;
    BYTE* pbData;
    DWORD cbData;
    DWORD dwFlags;
} CRYPT_KEY_PROV_PARAM, *PCRYPT_KEY_PROV_PARAM;

typedef struct _CRYPT_KEY_PROV_INFO {
    LPWSTR pwszContainerName;
    LPWSTR pwszProvName;
    DWORD dwProvType;
    DWORD dwFlags;
    DWORD cProvParam;
    PCRYPT_KEY_PROV_PARAM rgProvParam;
    DWORD dwKeySpec;
} CRYPT_KEY_PROV_INFO, *PCRYPT_KEY_PROV_INFO;

// ---------------------------------------------------------------- encodings

#define X509_ASN_ENCODING 0x00000001UL
#define PKCS_7_ASN_ENCODING 0x00010000UL

// ---------------------------------------------------------------- stores

// Store providers: only the system-store provider exists here.
#define CERT_STORE_PROV_SYSTEM_A (reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(9)))
#define CERT_STORE_PROV_SYSTEM_W (reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(10)))
#define CERT_STORE_PROV_SYSTEM CERT_STORE_PROV_SYSTEM_W

#define CERT_STORE_NO_CRYPT_RELEASE_FLAG 0x00000001UL
#define CERT_STORE_SET_LOCALIZED_NAME_FLAG 0x00000002UL
#define CERT_STORE_DEFER_CLOSE_UNTIL_LAST_FREE_FLAG 0x00000004UL
#define CERT_STORE_DELETE_FLAG 0x00000010UL
#define CERT_STORE_SHARE_CONTEXT_FLAG 0x00000080UL
#define CERT_STORE_MAXIMUM_ALLOWED_FLAG 0x00001000UL
#define CERT_STORE_CREATE_NEW_FLAG 0x00002000UL
#define CERT_STORE_OPEN_EXISTING_FLAG 0x00004000UL
#define CERT_STORE_READONLY_FLAG 0x00008000UL

#define CERT_SYSTEM_STORE_LOCATION_MASK 0x00FF0000UL
#define CERT_SYSTEM_STORE_CURRENT_USER 0x00010000UL
#define CERT_SYSTEM_STORE_LOCAL_MACHINE 0x00020000UL

#define CERT_CLOSE_STORE_FORCE_FLAG 0x00000001UL
#define CERT_CLOSE_STORE_CHECK_FLAG 0x00000002UL

#define CERT_STORE_ADD_NEW 1UL
#define CERT_STORE_ADD_USE_EXISTING 2UL
#define CERT_STORE_ADD_REPLACE_EXISTING 3UL
#define CERT_STORE_ADD_ALWAYS 4UL
#define CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES 5UL

#define CERT_COMPARE_SHIFT 16
#define CERT_FIND_ANY 0UL
#define CERT_FIND_SHA1_HASH 0x00010000UL
#define CERT_FIND_HASH CERT_FIND_SHA1_HASH
#define CERT_FIND_PUBLIC_KEY 0x00060000UL
#define CERT_FIND_EXISTING 0x000D0000UL

// ---------------------------------------------------------------- properties

#define CERT_KEY_PROV_HANDLE_PROP_ID 1UL
#define CERT_KEY_PROV_INFO_PROP_ID 2UL
#define CERT_SHA1_HASH_PROP_ID 3UL
#define CERT_HASH_PROP_ID CERT_SHA1_HASH_PROP_ID
#define CERT_FRIENDLY_NAME_PROP_ID 11UL
#define CERT_FIRST_USER_PROP_ID 0x00008000UL
#define CERT_LAST_USER_PROP_ID 0x0000FFFFUL

// ---------------------------------------------------------------- providers

#define PROV_RSA_FULL 1UL

#define CRYPT_VERIFYCONTEXT 0xF0000000UL
#define CRYPT_NEWKEYSET 0x00000008UL
#define CRYPT_DELETEKEYSET 0x00000010UL
#define CRYPT_MACHINE_KEYSET 0x00000020UL
#define CRYPT_SILENT 0x00000040UL
#define CRYPT_DEFAULT_CONTAINER_OPTIONAL 0x00000080UL

#define AT_KEYEXCHANGE 1UL
#define AT_SIGNATURE 2UL

#define PP_ENUMALGS 1UL
#define PP_ENUMCONTAINERS 2UL
#define PP_IMPTYPE 3UL
#define PP_NAME 4UL
#define PP_VERSION 5UL
#define PP_CONTAINER 6UL
#define PP_PROVTYPE 16UL
#define PP_KEYEXCHANGE_PIN 32UL
#define PP_SIGNATURE_PIN 33UL
#define PP_UNIQUE_CONTAINER 36UL

#define CRYPT_FIRST 1UL
#define CRYPT_NEXT 2UL

#define KP_CERTIFICATE 26UL

#define CRYPT_ACQUIRE_CACHE_FLAG 0x00000001UL
#define CRYPT_ACQUIRE_USE_PROV_INFO_FLAG 0x00000002UL
#define CRYPT_ACQUIRE_COMPARE_KEY_FLAG 0x00000004UL
#define CRYPT_ACQUIRE_SILENT_FLAG 0x00000040UL

// Names of the built-in software provider.
#define MS_ENHANCED_PROV_A "Microsoft Enhanced Cryptographic Provider v1.0"
#define MS_DEF_PROV_A "Microsoft Base Cryptographic Provider v1.0"

// ---------------------------------------------------------------- error codes
// Guarded, spelled as the Windows headers spell them, typed as DWORD so that
// `GetLastError() == NTE_BAD_KEYSET` compares without sign warnings.

#ifndef ERROR_NOT_ENOUGH_MEMORY
#define ERROR_NOT_ENOUGH_MEMORY 8L
#endif
#ifndef ERROR_CALL_NOT_IMPLEMENTED
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#endif
#ifndef ERROR_MOD_NOT_FOUND
#define ERROR_MOD_NOT_FOUND 126L
#endif

#ifndef E_INVALIDARG
#define E_INVALIDARG 0x80070057UL
#endif
#ifndef E_OUTOFMEMORY
#define E_OUTOFMEMORY 0x8007000EUL
#endif

#define NTE_BAD_UID 0x80090001UL
#define NTE_BAD_KEY 0x80090003UL
#define NTE_BAD_LEN 0x80090004UL
#define NTE_BAD_DATA 0x80090005UL
#define NTE_BAD_FLAGS 0x80090009UL
#define NTE_BAD_TYPE 0x8009000AUL
#define NTE_NO_KEY 0x8009000DUL
#define NTE_NO_MEMORY 0x8009000EUL
#define NTE_EXISTS 0x8009000FUL
#define NTE_PERM 0x80090010UL
#define NTE_NOT_FOUND 0x80090011UL
#define NTE_BAD_PROV_TYPE 0x80090014UL
#define NTE_BAD_KEYSET 0x80090016UL
#define NTE_PROV_TYPE_NOT_DEF 0x80090017UL
#define NTE_PROV_TYPE_ENTRY_BAD 0x80090018UL
#define NTE_KEYSET_NOT_DEF 0x80090019UL
#define NTE_KEYSET_ENTRY_BAD 0x8009001AUL
#define NTE_PROV_TYPE_NO_MATCH 0x8009001BUL
#define NTE_PROVIDER_DLL_FAIL 0x8009001DUL
#define NTE_PROV_DLL_NOT_FOUND 0x8009001EUL
#define NTE_BAD_KEYSET_PARAM 0x8009001FUL
#define NTE_FAIL 0x80090020UL
#define NTE_SILENT_CONTEXT 0x80090022UL
#define NTE_NOT_SUPPORTED 0x80090029UL

#define CRYPT_E_NOT_FOUND 0x80092004UL
#define CRYPT_E_EXISTS 0x80092005UL
#define CRYPT_E_NO_KEY_PROPERTY 0x8009200BUL
#define CRYPT_E_ASN1_ERROR 0x80093100UL
#define CRYPT_E_ASN1_CORRUPT 0x80093103UL
#define CRYPT_E_ASN1_BADTAG 0x8009310BUL
