#pragma once

// The current user's system certificate stores "MY", "ROOT", "CA" (any name
// works), CryptoAPI-shaped. Each store lives in the user hive as
//   HKCU\Software\Microsoft\SystemCertificates\<store>\Certificates\<SHA-1>
// (thumbprint in upper-case hex) with one REG_BINARY "Blob" holding the
// encoded certificate, its properties and its place in the store order.
//
// Semantics the callers rely on:
// - An open store is a snapshot taken at CertOpenStore; adds and deletes made
//   through the handle change the snapshot and the hive together, each in one
//   hive write, so a store is never left half-written. Reopen to see other
//   handles' or processes' changes; VelkCertStoreChangeStamp tells cheaply
//   whether there is anything new.
// - Enumeration is in store order: the order of first addition. A
//   certificate replaced with CERT_STORE_ADD_REPLACE_EXISTING keeps its place;
//   one deleted and added again goes to the end.
// - Certificate contexts are reference-counted (CertDuplicateCertificateContext,
//   CertFreeCertificateContext) and stay valid after their store is closed,
//   even with CERT_CLOSE_STORE_FORCE_FLAG. A context may be used and freed on
//   any thread. Properties set on a context of an open store are written to
//   the hive at once; properties set on a context made by
//   CertCreateCertificateContext travel with it into the store it is added to.
// - A hive entry whose Blob is damaged is skipped (and reported once on stderr),
//   never fatal.

#include "platform/certstore/WinCryptTypes.h"

#include <cstdint>

// dwFlags: CERT_SYSTEM_STORE_CURRENT_USER (required), optionally
// CERT_STORE_NO_CRYPT_RELEASE_FLAG, CERT_STORE_READONLY_FLAG,
// CERT_STORE_OPEN_EXISTING_FLAG (fail with ERROR_FILE_NOT_FOUND when the store
// has no key yet). pvPara: the store name, char* for CERT_STORE_PROV_SYSTEM_A,
// WCHAR* for CERT_STORE_PROV_SYSTEM_W. hCryptProv is accepted and ignored.
HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                         HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara);
// The current user's system store of that name.
HCERTSTORE CertOpenSystemStoreA(HCRYPTPROV_LEGACY hProv, LPCSTR szSubsystemProtocol);
// Both flags are accepted; contexts that outlive the store stay valid either
// way. FALSE with ERROR_INVALID_HANDLE for an unknown handle; null is TRUE.
BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);

// Frees pPrevCertContext (as CryptoAPI does) and returns the next certificate
// in store order, or null with CRYPT_E_NOT_FOUND at the end.
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext);
// dwFindType: CERT_FIND_ANY; CERT_FIND_SHA1_HASH (pvFindPara: CRYPT_HASH_BLOB);
// CERT_FIND_PUBLIC_KEY (pvFindPara: CERT_PUBLIC_KEY_INFO); CERT_FIND_EXISTING
// (pvFindPara: a PCCERT_CONTEXT, same encoded certificate). Frees
// pPrevCertContext; null with CRYPT_E_NOT_FOUND when nothing more matches.
PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                          DWORD dwFindFlags, DWORD dwFindType,
                                          const void* pvFindPara, PCCERT_CONTEXT pPrevCertContext);

// Dispositions: CERT_STORE_ADD_NEW (CRYPT_E_EXISTS when present, the stored
// one stays), CERT_STORE_ADD_USE_EXISTING, CERT_STORE_ADD_REPLACE_EXISTING,
// CERT_STORE_ADD_ALWAYS (same as replace: one entry per thumbprint),
// CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES. The new entry takes the
// certificate's properties. ppStoreContext (optional) receives the store's
// context, to be freed by the caller.
BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext);
BOOL CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                      const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppCertContext);
// Deletes the certificate from the store it came from and always frees
// pCertContext (one reference), also on failure.
BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext);

// CERT_KEY_PROV_INFO_PROP_ID: a self-contained CRYPT_KEY_PROV_INFO (its
// strings and parameters follow it in the same buffer). CERT_SHA1_HASH_PROP_ID:
// 20 bytes. Any other id: the bytes that were set. pvData null asks for the
// size; too small a buffer gives ERROR_MORE_DATA and the size; a property
// that is not there gives CRYPT_E_NOT_FOUND.
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
                                       DWORD* pcbData);
// CERT_KEY_PROV_INFO_PROP_ID: pvData is a CRYPT_KEY_PROV_INFO*. Other ids:
// pvData is a CRYPT_DATA_BLOB*. Null pvData removes the property.
// CERT_SHA1_HASH_PROP_ID cannot be set (it is the certificate's own hash).
BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD dwFlags,
                                       const void* pvData);

// Decodes one DER X.509 certificate (X509_ASN_ENCODING, optionally with
// PKCS_7_ASN_ENCODING). Bytes after the certificate's own DER (card files are
// padded) are ignored: cbCertEncoded is the certificate's length.
// Null with CRYPT_E_ASN1_BADTAG / CRYPT_E_ASN1_CORRUPT on bad input.
PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                            DWORD cbCertEncoded);
// Null is accepted. Always TRUE for a valid or null context.
BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext);

PCERT_EXTENSION CertFindExtension(LPCSTR pszObjId, DWORD cExtensions,
                                  CERT_EXTENSION rgExtensions[]);
BOOL CertComparePublicKeyInfo(DWORD dwCertEncodingType, PCERT_PUBLIC_KEY_INFO pPublicKey1,
                              PCERT_PUBLIC_KEY_INFO pPublicKey2);
// TRUE when issuer and subject are the same name and the certificate's
// signature verifies with its own public key. pCert must be the pCertInfo of
// a context made by this layer (anything else gives FALSE).
BOOL WTHelperCertIsSelfSigned(DWORD dwEncoding, PCERT_INFO pCert);

// ---------------------------------------------------------------- extras

// A stamp of the user hive that holds the stores: the same value means no
// store (nor anything else in that hive) changed since it was taken, by this
// process or another. Meant for pollers that would otherwise reread a store
// every 100 ms. FALSE with the registry's error when the hive is unusable.
BOOL VelkCertStoreChangeStamp(uint64_t* pStamp);

// How many damaged entries the open store skipped when it was read.
DWORD VelkCertStoreSkippedCount(HCERTSTORE hCertStore);
