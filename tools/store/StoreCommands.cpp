#include "tools/store/StoreCommands.h"

#include "platform/certstore/WideText.h"
#include "platform/crypto/ProviderInstall.h"
#include "platform/crypto/WinCrypt.h"
#include "platform/scarddb/SCardDb.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <memory>
#include <ostream>
#include <sstream>
#include <vector>

namespace velk::storetool {

namespace {

struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG); }
};
using StorePtr = std::unique_ptr<void, StoreCloser>;

struct ContextFree {
    void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
using ContextPtr = std::unique_ptr<const CERT_CONTEXT, ContextFree>;

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};

std::string ErrorText(DWORD error) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08lX", error);
    return text;
}

StorePtr OpenStore(const std::string& name, std::ostream& err) {
    StorePtr store(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING, 0,
                                 CERT_SYSTEM_STORE_CURRENT_USER, name.c_str()));
    if (!store) {
        err << "velkora-store: cannot open store " << name << " (" << ErrorText(GetLastError())
            << ")\n";
    }
    return store;
}

std::string NameText(const CERT_NAME_BLOB& blob) {
    const unsigned char* p = blob.pbData;
    std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> name(
        d2i_X509_NAME(nullptr, &p, static_cast<long>(blob.cbData)), X509_NAME_free);
    if (!name) {
        return {};
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    // RFC 2253 order and quoting, UTF-8 kept as it is.
    X509_NAME_print_ex(bio.get(), name.get(), 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

std::string Hex(const BYTE* data, size_t size, bool reverse) {
    std::ostringstream text;
    for (size_t i = 0; i < size; ++i) {
        text << std::hex << std::setw(2) << std::setfill('0')
             << static_cast<int>(data[reverse ? size - 1 - i : i]);
    }
    return text.str();
}

std::string Thumbprint(PCCERT_CONTEXT context) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
        return {};
    }
    return Hex(hash, size, false);
}

// The certificate that `which` names, or null.
ContextPtr Select(void* store, const std::string& which) {
    std::string digits;
    for (char c : which) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            digits.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
    }
    const bool isIndex = !digits.empty() && digits.size() <= 9 &&
                         digits.find_first_not_of("0123456789") == std::string::npos;
    const long index = isIndex ? std::stol(digits) : -1;
    long position = 0;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        if ((isIndex && position == index) || (!isIndex && Thumbprint(context) == digits)) {
            return ContextPtr(context);
        }
        ++position;
    }
    return nullptr;
}

bool ReadCertificateFile(const std::string& file, std::vector<BYTE>& der) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    static constexpr char kPem[] = "-----BEGIN";
    if (std::string(bytes.begin(), bytes.end()).find(kPem) == std::string::npos) {
        der = std::move(bytes);
        return !der.empty();
    }
    std::unique_ptr<BIO, BioFree> bio(
        BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    std::unique_ptr<X509, X509Free> x509(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!x509) {
        return false;
    }
    const int length = i2d_X509(x509.get(), nullptr);
    if (length <= 0) {
        return false;
    }
    der.resize(static_cast<size_t>(length));
    BYTE* out = der.data();
    i2d_X509(x509.get(), &out);
    return true;
}

void PrintKeyLink(PCCERT_CONTEXT context, std::ostream& out) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
        out << "  No key provider information\n";
        return;
    }
    std::vector<uint64_t> buffer(size / sizeof(uint64_t) + 1);
    if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                           &size)) {
        out << "  No key provider information\n";
        return;
    }
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    out << "  Key Container = " << WideToUtf8(WideView(info->pwszContainerName)) << "\n"
        << "  Provider = " << WideToUtf8(WideView(info->pwszProvName)) << "\n"
        << "  Provider Type = " << info->dwProvType << "\n"
        << "  KeySpec = " << info->dwKeySpec
        << (info->dwKeySpec == AT_KEYEXCHANGE ? " (AT_KEYEXCHANGE)"
            : info->dwKeySpec == AT_SIGNATURE ? " (AT_SIGNATURE)"
                                              : "")
        << "\n";
}

} // namespace

int ListStore(const std::string& store, std::ostream& out, std::ostream& err) {
    StorePtr handle = OpenStore(store, err);
    if (!handle) {
        return kStoreError;
    }
    out << store << ":\n";
    int index = 0;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(handle.get(), context)) != nullptr) {
        const CERT_INFO* info = context->pCertInfo;
        out << "================ Certificate " << index++ << " ================\n"
            << "Serial Number: " << Hex(info->SerialNumber.pbData, info->SerialNumber.cbData, true)
            << "\n"
            << "Issuer: " << NameText(info->Issuer) << "\n"
            << "Subject: " << NameText(info->Subject) << "\n"
            << "Cert Hash(sha1): " << Thumbprint(context) << "\n";
        PrintKeyLink(context, out);
    }
    if (const DWORD skipped = VelkCertStoreSkippedCount(handle.get())) {
        out << skipped << " damaged entries skipped\n";
    }
    out << "velkora-store: -store command completed successfully.\n";
    return kOk;
}

int ExportCertificate(const std::string& store, const std::string& which, const std::string& file,
                      std::ostream& err) {
    StorePtr handle = OpenStore(store, err);
    if (!handle) {
        return kStoreError;
    }
    ContextPtr context = Select(handle.get(), which);
    if (!context) {
        err << "velkora-store: no certificate " << which << " in store " << store << "\n";
        return kNotFound;
    }
    std::ofstream outFile(file, std::ios::binary | std::ios::trunc);
    outFile.write(reinterpret_cast<const char*>(context->pbCertEncoded),
                  static_cast<std::streamsize>(context->cbCertEncoded));
    outFile.close();
    if (!outFile) {
        err << "velkora-store: cannot write " << file << "\n";
        return kFileError;
    }
    return kOk;
}

int DeleteCertificate(const std::string& store, const std::string& which, std::ostream& err) {
    StorePtr handle = OpenStore(store, err);
    if (!handle) {
        return kStoreError;
    }
    ContextPtr context = Select(handle.get(), which);
    if (!context) {
        err << "velkora-store: no certificate " << which << " in store " << store << "\n";
        return kNotFound;
    }
    if (!CertDeleteCertificateFromStore(context.release())) {
        err << "velkora-store: cannot delete (" << ErrorText(GetLastError()) << ")\n";
        return kStoreError;
    }
    return kOk;
}

int AddCertificate(const std::string& store, const std::string& file,
                   const std::optional<KeyLink>& link, std::ostream& err) {
    std::vector<BYTE> der;
    if (!ReadCertificateFile(file, der)) {
        err << "velkora-store: " << file << " is not a readable certificate file\n";
        return kFileError;
    }
    ContextPtr context(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                    der.data(), static_cast<DWORD>(der.size())));
    if (!context) {
        err << "velkora-store: " << file << " does not hold a certificate ("
            << ErrorText(GetLastError()) << ")\n";
        return kFileError;
    }
    if (link) {
        std::u16string container = Utf8ToWide(link->container);
        std::u16string provider = Utf8ToWide(link->provider);
        CRYPT_KEY_PROV_INFO info{};
        info.pwszContainerName = container.data();
        info.pwszProvName = provider.data();
        info.dwProvType = PROV_RSA_FULL;
        info.dwKeySpec = link->keySpec;
        if (!CertSetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID, 0,
                                               &info)) {
            err << "velkora-store: cannot set the key link (" << ErrorText(GetLastError()) << ")\n";
            return kStoreError;
        }
    }
    StorePtr handle = OpenStore(store, err);
    if (!handle) {
        return kStoreError;
    }
    if (!CertAddCertificateContextToStore(handle.get(), context.get(),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        err << "velkora-store: cannot add to store " << store << " (" << ErrorText(GetLastError())
            << ")\n";
        return kStoreError;
    }
    return kOk;
}

int InstallCardTypes(std::ostream& err) {
    const LONG result = velk::InstallCardTypes();
    if (result != SCARD_S_SUCCESS) {
        err << "velkora-store: cannot register the card types ("
            << ErrorText(static_cast<DWORD>(result)) << ")\n";
        return kStoreError;
    }
    return kOk;
}

int InstallProviders(std::ostream& err) {
    const LONG result = velk::InstallSoftwareProvider();
    if (result != ERROR_SUCCESS) {
        err << "velkora-store: cannot register the providers ("
            << ErrorText(static_cast<DWORD>(result)) << ")\n";
        return kStoreError;
    }
    return kOk;
}

} // namespace velk::storetool
