#pragma once

// Cryptographic provider contexts, CryptoAPI-shaped.
//
// Providers are found by name in the machine hive:
//   HKLM\SOFTWARE\Microsoft\Cryptography\Defaults\Provider\<name>
//     "Image Path" (REG_SZ, the module's path), "Type" (REG_DWORD)
//   HKLM\SOFTWARE\Microsoft\Cryptography\Defaults\Provider Types\Type 001
//     "Name" (REG_SZ): the default provider of PROV_RSA_FULL
// Modules are loaded once with dlopen and stay loaded (ProviderInterface.h).
// MS_ENHANCED_PROV_A and MS_DEF_PROV_A are built in: a software key-container
// store of this layer, kept in the user hive, always available even when not
// registered, and the default of PROV_RSA_FULL when no default is registered.
//
// Container names: null (the default container, named after the login user),
// a plain name, or "\\.\<reader>\<name>" for card providers. The software
// store keeps any name as given (it may contain backslashes).
//
// Errors (GetLastError): an unknown provider name NTE_KEYSET_NOT_DEF; a type
// other than the registered one NTE_PROV_TYPE_NO_MATCH; no default for the
// type NTE_PROV_TYPE_NOT_DEF; a module that cannot be loaded
// NTE_PROV_DLL_NOT_FOUND; a module without the entry point or with an
// unusable table NTE_PROVIDER_DLL_FAIL; a missing container NTE_BAD_KEYSET;
// an existing one with CRYPT_NEWKEYSET NTE_EXISTS.
//
// Handles may be used from any thread; calls on one handle are serialised.

#include "platform/certstore/WinCryptTypes.h"

#include <string>

// dwFlags: 0, CRYPT_VERIFYCONTEXT, CRYPT_NEWKEYSET, CRYPT_DELETEKEYSET
// (deletes the container and sets *phProv to 0), optionally CRYPT_SILENT.
BOOL CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                          DWORD dwProvType, DWORD dwFlags);
BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);

// PP_ENUMCONTAINERS (dwFlags CRYPT_FIRST, then CRYPT_NEXT; ERROR_NO_MORE_ITEMS
// after the last; pbData null gives the longest name's size), PP_CONTAINER,
// PP_NAME, PP_UNIQUE_CONTAINER (as PP_CONTAINER), PP_PROVTYPE (one DWORD,
// sizeof(DWORD) bytes). Strings are UTF-8 with their NUL. Too small a
// buffer: ERROR_MORE_DATA and the size needed. Others: NTE_BAD_TYPE.
BOOL CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags);
// PP_KEYEXCHANGE_PIN / PP_SIGNATURE_PIN: pbData is a NUL-terminated string
// (a PIN or a provider command) handed to the provider; the layer keeps no
// copy. Other parameters: NTE_BAD_TYPE.
BOOL CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);

// AT_KEYEXCHANGE or AT_SIGNATURE; NTE_NO_KEY when the container has none.
// The key handle keeps its provider context alive until CryptDestroyKey.
BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey);
// KP_CERTIFICATE: the key's DER certificate (pbData null for the size).
BOOL CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                      DWORD dwFlags);
BOOL CryptDestroyKey(HCRYPTKEY hKey);

// RSA PKCS#1 v1.5 decryption with the key's container, in place. As in
// CryptoAPI the ciphertext is given in little-endian byte order (reversed
// against CMS/PKCS#1); on success *pdwDataLen is the plaintext length.
// hHash must be 0, Final TRUE.
BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
                  DWORD* pdwDataLen);

// Acquires the provider context named by the certificate's
// CERT_KEY_PROV_INFO_PROP_ID (container, provider, type; flags 0 or
// CRYPT_SILENT with CRYPT_ACQUIRE_SILENT_FLAG). CRYPT_E_NO_KEY_PROPERTY when
// the certificate has none. *pfCallerFreeProvOrNCryptKey is always TRUE: the
// caller releases the context with CryptReleaseContext.
BOOL CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags, void* pvParameters,
                                       HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey,
                                       DWORD* pdwKeySpec, BOOL* pfCallerFreeProvOrNCryptKey);

namespace velk {

// Why the last provider module of this thread failed to load (dlopen's
// message, a missing entry point...), empty when none failed.
std::string LastProviderLoadError();

} // namespace velk
