#include "dialogs/pin/SecretText.h"

#include <openssl/crypto.h>

void WipeText(QString& text) {
    // Static text (a literal) is read-only and holds no secret.
    if (!text.isEmpty() && text.data_ptr().isMutable()) {
        // Through the shared buffer on purpose: detaching first would wipe a fresh copy only.
        OPENSSL_cleanse(const_cast<QChar*>(text.constData()),
                        static_cast<size_t>(text.size()) * sizeof(QChar));
    }
    text.clear();
}

void WipeText(QByteArray& bytes) {
    if (!bytes.isEmpty() && bytes.data_ptr().isMutable()) {
        OPENSSL_cleanse(const_cast<char*>(bytes.constData()), static_cast<size_t>(bytes.size()));
    }
    bytes.clear();
}

void WipeText(std::string& text) {
    OPENSSL_cleanse(text.data(), text.capacity());
    text.clear();
}
