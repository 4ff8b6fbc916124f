#include "monitor/CCertCollection.h"

#include "monitor/CCertDetails.h"
#include "monitor/ContainerName.h"
#include "platform/certstore/WideText.h"

#include <utility>

namespace {

// Both encodings, as the store hands its certificates out.
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

} // namespace

CCertCollection::CCertCollection(PCCERT_CONTEXT storeCert, std::u16string_view containerName,
                                 std::string readerName)
    : m_containerName(velk::WideToUtf8(containerName)), m_readerName(std::move(readerName)) {
    if (storeCert != nullptr && storeCert->pbCertEncoded != nullptr) {
        m_cert.Reset(CertCreateCertificateContext(kEncoding, storeCert->pbCertEncoded,
                                                  storeCert->cbCertEncoded));
    }
}

namespace {

std::string NameText(PCCERT_CONTEXT cert, bool subject) {
    if (cert == nullptr) {
        return {};
    }
    return subject ? CCertDetails::GetSubjectText(cert->pbCertEncoded, cert->cbCertEncoded)
                   : CCertDetails::GetIssuerText(cert->pbCertEncoded, cert->cbCertEncoded);
}

} // namespace

std::string CCertCollection::GetSubjectName() const {
    return ExtractAttribute(ToDisplayText(NameText(m_cert.Get(), true)), "commonName");
}

std::string CCertCollection::GetIssuerName() const {
    return ExtractAttribute(ToDisplayText(NameText(m_cert.Get(), false)), "commonName");
}

std::string CCertCollection::GetEmail() const {
    // E-mail addresses are plain ASCII; the display conversion leaves them be.
    return ExtractAttribute(ToDisplayText(NameText(m_cert.Get(), true)), "emailAddress");
}

std::string CCertCollection::GetSerialNumber() const {
    const PCCERT_CONTEXT cert = m_cert.Get();
    if (cert == nullptr) {
        return {};
    }
    return CCertDetails::GetSerialText(cert->pbCertEncoded, cert->cbCertEncoded);
}

int32_t CCertCollection::GetContainerType() const {
    if (m_containerName.size() < monitor::kTailLength) {
        return -1;
    }
    // The character converted as a decimal number: a digit gives its value,
    // anything else nothing (0).
    const char c = monitor::TailChar(m_containerName, 6);
    return c >= '0' && c <= '9' ? c - '0' : 0;
}

int32_t CCertCollection::GetContainerFlag() const {
    if (m_containerName.size() < monitor::kTailLength) {
        return 0;
    }
    return monitor::TailChar(m_containerName, 4) == '1' ? 1 : 0;
}

bool CCertCollection::IsQualified() const {
    const PCCERT_CONTEXT cert = m_cert.Get();
    return cert != nullptr &&
           CCertDetails::HasQcStatements(cert->pbCertEncoded, cert->cbCertEncoded);
}
