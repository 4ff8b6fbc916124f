#pragma once

// CryptDecryptMessage: opens a CMS enveloped message (RSA key transport; AES-128/192/256-CBC
// or DES-EDE3-CBC content encryption, standard padding checked and removed). The recipient is
// the first key-transport recipient, in message order, whose certificate lies in one of the
// given stores with a key-provider information (CERT_KEY_PROV_INFO_PROP_ID); the provider
// named there unwraps the content-encryption key with the key type given there, so a card key
// stays on its card (the card's provider asks for its PIN). The message may be DER or BER.
//
// Output follows the CryptoAPI convention, with one liberty that Windows also takes: the size
// call (pbDecrypted null) reports an upper bound, the ciphertext's length, without unwrapping
// the key, and a buffer smaller than that bound gives ERROR_MORE_DATA with the bound, again
// without unwrapping. So the usual two calls (size, then data) ask for the card's PIN once, on
// the data call; on success *pcbDecrypted is the plaintext's exact length. *ppXchgCert (when
// asked) gets a duplicate of the recipient's certificate on success of either call, for the
// caller to free; null on failure.
//
// Failures set the last error: E_INVALIDARG for missing parameters or an encoding type without
// PKCS_7_ASN_ENCODING; CRYPT_E_ASN1_BADTAG / CRYPT_E_ASN1_CORRUPT for a malformed or truncated
// message; CRYPT_E_UNEXPECTED_MSG_TYPE for another content type; CRYPT_E_UNKNOWN_ALGO for
// another content cipher or key transport than RSA; CRYPT_E_NO_DECRYPT_CERT when no recipient's
// certificate is in the stores; NTE_BAD_DATA for a ciphertext that is no whole number of blocks
// or whose padding does not check out (a wrong key); else the provider's error as it gives it
// (for a card: SCARD_W_CANCELLED_BY_USER, SCARD_W_WRONG_CHV, SCARD_W_CHV_BLOCKED,
// SCARD_W_CARD_NOT_AUTHENTICATED while the PIN is still the NULL-PIN, NTE_NO_KEY). The
// content-encryption key and plaintext copies are wiped.

#include "platform/certstore/CertStore.h"
#include "platform/certstore/WinCryptTypes.h"

#ifndef CRYPT_E_UNEXPECTED_MSG_TYPE
#define CRYPT_E_UNEXPECTED_MSG_TYPE 0x8009200AUL
#endif
#ifndef CRYPT_E_NO_DECRYPT_CERT
#define CRYPT_E_NO_DECRYPT_CERT 0x8009200CUL
#endif
#ifndef CRYPT_E_UNKNOWN_ALGO
#define CRYPT_E_UNKNOWN_ALGO 0x80091002UL
#endif

typedef struct _CRYPT_DECRYPT_MESSAGE_PARA {
    DWORD cbSize;
    DWORD dwMsgAndCertEncodingType;
    DWORD cCertStore;
    HCERTSTORE* rghCertStore;
    DWORD dwFlags;
} CRYPT_DECRYPT_MESSAGE_PARA, *PCRYPT_DECRYPT_MESSAGE_PARA;

BOOL CryptDecryptMessage(PCRYPT_DECRYPT_MESSAGE_PARA pDecryptPara, const BYTE* pbEncryptedBlob,
                         DWORD cbEncryptedBlob, BYTE* pbDecrypted, DWORD* pcbDecrypted,
                         PCCERT_CONTEXT* ppXchgCert);
