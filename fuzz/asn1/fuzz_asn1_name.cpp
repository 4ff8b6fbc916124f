// NameToText and LocateCertField over arbitrary bytes: the input as a name,
// and as a certificate whose fields are located and rendered.
#include "fuzz/asn1/FuzzCheck.h"

using fuzzcheck::RequireWithin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size) {
    const std::span<const uint8_t> data(bytes, size);
    const Asn1Cursor start = CASN1::Start(data);
    (void)CASN1::NameToText(start, static_cast<uint32_t>(size));
    (void)CASN1::NameToText(start, start.size);

    for (const uint32_t id :
         {CASN1::CERT_VERSION, CASN1::CERT_SERIAL, CASN1::CERT_SIGNATURE, CASN1::CERT_ISSUER,
          CASN1::CERT_VALIDITY, CASN1::CERT_SUBJECT, CASN1::CERT_PUBLIC_KEY_INFO,
          CASN1::CERT_ISSUER_UID, CASN1::CERT_SUBJECT_UID, CASN1::CERT_EXTENSIONS}) {
        Asn1Cursor field;
        if (!CASN1::LocateCertField(data, id, field)) {
            continue;
        }
        const auto element = CASN1::ElementBytes(field);
        fuzzcheck::Require(!element.empty());
        RequireWithin(element, data);
        if (id == CASN1::CERT_SUBJECT || id == CASN1::CERT_ISSUER) {
            (void)CASN1::NameToText(field, field.size);
        } else if (id == CASN1::CERT_SERIAL) {
            (void)CASN1::ContentHex(field);
        }
    }
    return 0;
}
