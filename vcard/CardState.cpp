#include "vcard/CardState.h"

#include <openssl/crypto.h>

namespace vcard {

// Secrets leave no copy behind in freed memory.
PinRecord::~PinRecord() {
    OPENSSL_cleanse(value.data(), value.size());
}

CardKey::~CardKey() {
    OPENSSL_cleanse(privateKeyDer.data(), privateKeyDer.size());
}

} // namespace vcard
