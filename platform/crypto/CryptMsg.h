#pragma once

// CryptDecryptMessage: opens a CMS enveloped message (RSA key transport; AES-128/192/256-CBC
// or DES-EDE3-CBC content encryption). The recipient is the one whose certificate lies in one
// of the given stores; the content-encryption key is unwrapped by the provider named in that
// certificate's key-provider information, so a card key stays on its card (the card's
// provider may ask for its PIN). Output follows the CryptoAPI convention: pbDecrypted null
// asks for the size in *pcbDecrypted; a buffer too small gives ERROR_MORE_DATA with the size
// needed. Failures set the last error (CRYPT_E_ASN1_* for a malformed message,
// CRYPT_E_UNEXPECTED_MSG_TYPE for another content type, CRYPT_E_NO_DECRYPT_CERT when no
// recipient's certificate is in the stores, the provider's error when it refuses).

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
