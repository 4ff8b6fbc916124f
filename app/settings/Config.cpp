#include "app/settings/Config.h"

#include "app/catalogue/Msg.h"
#include "app/settings/RegHelpers.h"
#include "platform/registry/RegTransaction.h"
#include "platform/system/ScHandle.h"
#include "platform/system/SysInfo.h"

Config g_Config;

namespace {

constexpr const char* kSettingsKey = "Software\\Velkora\\Minidriver";
constexpr const char* kMirrorKey = "Software\\Velkora\\pkcs11";
constexpr const char* kScCertPropKey =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\ScCertProp";

constexpr uint32_t kMinBlockSize = 21;
constexpr uint32_t kMaxBlockSize = 252;
constexpr uint32_t kDefaultBlockSize = 252;

// Connect and enumerate, as the propagation check has always asked for.
constexpr DWORD kManagerAccess = 0x11;

void ReadFlag(HKEY root, const char* name, bool& member) {
    uint32_t number = 0;
    if (RegReadDword(root, kSettingsKey, name, number)) {
        member = number == 1;
    }
}

void WriteFlag(const char* key, const char* name, bool on) {
    RegWriteDword(HKEY_CURRENT_USER, key, name, on ? 1 : 0);
}

} // namespace

Config::Config() {
    m_pinWatcherThread = !IsVistaOrLater();
}

bool Config::LoadMachine() {
    Load("HKEY_LOCAL_MACHINE");
    return true;
}

bool Config::LoadUser() {
    Load("HKEY_CURRENT_USER");
    return true;
}

void Config::Load(const char* rootName) {
    const HKEY root = RegRootFromName(rootName);
    uint32_t number = 0;
    if (RegReadDword(root, kSettingsKey, "Language", number)) {
        m_language = number;
    }
    if (RegReadDword(root, kSettingsKey, "Logging", number)) {
        m_loggingLevel = number;
        m_loggingEnabled = number > 1;
    }
    ReadFlag(root, "lsk", m_lskProfile);
    ReadFlag(root, "hideunusedcerts", m_hideUnusedCerts);
    ReadFlag(root, "showbalooninfo", m_showBalloonInfo);
    ReadFlag(root, "KeyboardPIN", m_keyboardPin);
    ReadFlag(root, "msPinThread", m_pinWatcherThread);
    ReadFlag(root, "pinDialogEnabled", m_pinDialogEnabled);
    std::string text;
    if (RegReadString(root, kSettingsKey, "Logfile", text)) {
        m_logFile = text;
    }
    // The minidriver accepts only this range; anything else, or no value at
    // all, means the default, in each load.
    if (RegReadDword(root, kSettingsKey, "Blocksize", number) && number >= kMinBlockSize &&
        number <= kMaxBlockSize) {
        m_blockSize = number;
    } else {
        m_blockSize = kDefaultBlockSize;
    }
}

void Config::Save() {
    // One change for readers such as the minidriver: they never see half a set.
    // Failures are not reported; each write stands on its own.
    RegTransaction transaction(HKEY_CURRENT_USER);
    const HKEY user = HKEY_CURRENT_USER;
    RegWriteDword(user, kSettingsKey, "Language", m_language);
    RegWriteDword(user, kSettingsKey, "Logging", m_loggingLevel);
    WriteFlag(kSettingsKey, "lsk", m_lskProfile);
    WriteFlag(kSettingsKey, "hideunusedcerts", m_hideUnusedCerts);
    WriteFlag(kSettingsKey, "showbalooninfo", m_showBalloonInfo);
    WriteFlag(kSettingsKey, "KeyboardPIN", m_keyboardPin);
    WriteFlag(kSettingsKey, "msPinThread", m_pinWatcherThread);
    RegWriteString(user, kSettingsKey, "Logfile", m_logFile);
    WriteFlag(kSettingsKey, "pinDialogEnabled", m_pinDialogEnabled);
    RegWriteDword(user, kSettingsKey, "Blocksize", m_blockSize);
    // The PKCS#11 module's copy, only where that module has made its key.
    RegWriteDword(user, kMirrorKey, "Language", m_language);
    WriteFlag(kMirrorKey, "KeyboardPIN", m_keyboardPin);
    WriteFlag(kMirrorKey, "lsk", m_lskProfile);
    WriteFlag(kMirrorKey, "hideunusedcerts", m_hideUnusedCerts);
    transaction.Commit();
}

void Config::SetLanguage(uint32_t language) {
    m_language = language;
    CMsg::SetLanguage(static_cast<int>(language));
}

bool Config::IsVistaOrLater() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwMajorVersion >= 6;
}

bool Config::IsCertPropSvcActive() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    if (version.dwMajorVersion >= 6) {
        const ScHandle manager(OpenSCManagerA(nullptr, nullptr, kManagerAccess));
        if (!manager) {
            return false;
        }
        const ScHandle service(OpenServiceA(manager.get(), "CertPropSvc", SERVICE_QUERY_STATUS));
        if (!service) {
            return false;
        }
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service.get(), &status)) {
            return false;
        }
        return status.dwCurrentState == SERVICE_RUNNING ||
               status.dwCurrentState == SERVICE_START_PENDING;
    }
    // Before version 6 a registry switch; read with full access, so a user
    // who may not write the machine key always gets false.
    uint32_t enabled = 0;
    return RegReadDword(HKEY_LOCAL_MACHINE, kScCertPropKey, "Enabled", enabled) && enabled == 1;
}
