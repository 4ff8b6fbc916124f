#pragma once

// Everything CryptoAPI-shaped in one include: types, certificate stores and
// provider contexts.

#include "platform/certstore/CertStore.h"
#include "platform/certstore/WinCryptTypes.h"
#include "platform/crypto/CryptProv.h"
