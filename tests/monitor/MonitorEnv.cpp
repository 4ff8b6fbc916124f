#include "tests/monitor/MonitorEnv.h"

#include "monitor/CertCollection.h"
#include "monitor/ContainerName.h"
#include "monitor/CryptOwners.h"
#include "monitor/KeyProvInfo.h"
#include "platform/crypto/ProviderInstall.h"
#include "platform/registry/Registry.h"
#include "platform/scarddb/SCardDb.h"
#include "tests/registry/TempHives.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace montest {

Record::Record(std::string reader, const Bytes& atr) : name(std::move(reader)) {
    state.szReader = name.c_str();
    state.dwEventState = atr.empty() ? SCARD_STATE_EMPTY : SCARD_STATE_PRESENT;
    state.cbAtr = static_cast<DWORD>(atr.size());
    std::copy(atr.begin(), atr.end(), state.rgbAtr);
}

MonitorEnv::MonitorEnv(const std::string& providerModule) {
    fs::create_directories(Path("prov/readers"));
    setenv("VELKORA_USER_HIVE", Path("user.hive").c_str(), 1);
    setenv("VELKORA_MACHINE_HIVE", Path("machine.hive").c_str(), 1);
    setenv("VELK_FAKE_PROVIDER_DIR", Path("prov").c_str(), 1);
    RegResetForTests();
    if (velk::InstallSoftwareProvider() != ERROR_SUCCESS || velk::InstallCardTypes() != 0 ||
        velk::RegisterProvider(monitor::kMakerProvider, providerModule.empty()
                                                            ? std::string(VELK_FAKE_PROVIDER)
                                                            : providerModule) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot set up the machine hive");
    }
    g_CertCollection.Free();
    g_CollectionCount = 0;
    g_StoreCount = 0;
}

MonitorEnv::~MonitorEnv() {
    g_CertCollection.Free();
    g_CollectionCount = 0;
    RegResetForTests();
    unsetenv("VELKORA_USER_HIVE");
    unsetenv("VELKORA_MACHINE_HIVE");
    unsetenv("VELK_FAKE_PROVIDER_DIR");
}

void MonitorEnv::PutContainer(const std::string& reader, const std::string& name,
                              const Bytes& der) const {
    const fs::path dir = Path("prov/readers/" + reader);
    fs::create_directories(dir);
    std::ofstream(dir / (name + ".der"), std::ios::binary)
        .write(reinterpret_cast<const char*>(der.data()), static_cast<std::streamsize>(der.size()));
}

void MonitorEnv::ClearReader(const std::string& reader) const {
    fs::remove_all(Path("prov/readers/" + reader));
}

void MonitorEnv::FailNextAcquisitions(int count) const {
    std::ofstream(Path("prov/fail-acquire")) << count;
}

void MonitorEnv::FailNextParamSets(int count) const {
    std::ofstream(Path("prov/fail-set-param")) << count;
}

std::vector<std::string> MonitorEnv::AcquireLog() const {
    return ReadLines(Path("prov/acquire.log"));
}

std::vector<std::string> MonitorEnv::ParamLog() const {
    return ReadLines(Path("prov/params.log"));
}

std::vector<StoredCert> MonitorEnv::Store(const char* name) {
    std::vector<StoredCert> certs;
    const monitor::StoreOwner store = monitor::OpenUserStore(name);
    if (!store) {
        return certs;
    }
    for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store.Get(), nullptr); cert != nullptr;
         cert = CertEnumCertificatesInStore(store.Get(), cert)) {
        certs.push_back({Bytes(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded),
                         monitor::KeyProvContainer(cert)});
    }
    return certs;
}

bool MonitorEnv::AddToMy(const Bytes& der, const std::string& container,
                         const std::string& provider) {
    const monitor::StoreOwner store = monitor::OpenUserStore("MY");
    PCCERT_CONTEXT added = nullptr;
    if (!store || !CertAddEncodedCertificateToStore(store.Get(), X509_ASN_ENCODING, der.data(),
                                                    static_cast<DWORD>(der.size()),
                                                    CERT_STORE_ADD_NEW, &added)) {
        return false;
    }
    const bool linked = container.empty() || monitor::SetKeyProvInfo(added, container, provider);
    CertFreeCertificateContext(added);
    return linked;
}

std::vector<std::string> MonitorEnv::SoftwareContainers() {
    std::vector<std::string> names;
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT)) {
        return names;
    }
    char name[260];
    for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
        DWORD length = sizeof name;
        if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &length,
                               flags)) {
            break;
        }
        names.emplace_back(name);
    }
    CryptReleaseContext(prov, 0);
    return names;
}

monitor::CertOwner ContextOf(const Bytes& der) {
    return monitor::CertOwner(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                           static_cast<DWORD>(der.size())));
}

void SetPersonalFolder(const std::string& folder) {
    if (SetValue(HKEY_CURRENT_USER,
                 "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                 "Personal", REG_SZ, folder.c_str(),
                 static_cast<DWORD>(folder.size() + 1)) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot set the Personal shell folder");
    }
}

Bytes AtrOf(const std::string& cardName) {
    for (const auto& type : velk::KnownCardTypes()) {
        if (type.name == cardName) {
            return type.atr;
        }
    }
    throw std::runtime_error("no card type " + cardName);
}

std::string ContainerName(char flag, char reader, char type, char selector,
                          const std::string& salt) {
    std::string name = salt.substr(0, 4);
    name += flag;
    name += reader;
    name += type;
    name += selector;
    name += "-1234-5678-9abc-0800200c9a66";
    return name;
}

char ReaderDigit(int index, int count) {
    return static_cast<char>('0' + index + 2 * count);
}

std::string ContainerPath(const std::string& reader, const std::string& name) {
    return "\\\\.\\" + reader + "\\" + name;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace montest
