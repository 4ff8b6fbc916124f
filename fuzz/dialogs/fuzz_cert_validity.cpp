// libFuzzer target: whatever bytes a store entry holds as its certificate, the validity and
// tooltip of its row are read without harm, and dates come out as dates.

#include "dialogs/certs/CertValidity.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<BYTE> der(data, data + size);
    CERT_CONTEXT context{};
    context.dwCertEncodingType = X509_ASN_ENCODING;
    context.pbCertEncoded = der.data();
    context.cbCertEncoded = static_cast<DWORD>(der.size());
    const CertValidity validity = ReadValidity(&context, 1767225600); // 2026-01-01
    for (const std::string* date : {&validity.notBefore, &validity.notAfter}) {
        if (!date->empty() && (date->size() < 10 || (*date)[4] != '-' || (*date)[7] != '-')) {
            __builtin_trap();
        }
    }
    for (int language = 0; language < 3; ++language) {
        (void)RowToolTip("issuer", validity, language);
    }
    return 0;
}
