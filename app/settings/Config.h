#pragma once

#include <cstdint>
#include <string>

// Settings shared with the minidriver under "Software\Velkora\Minidriver":
// machine-wide defaults overridden by the user's copy, written back to the user.
class Config {
public:
    Config();
    virtual ~Config() = default;

    bool LoadMachine();
    bool LoadUser();
    void Save();

    uint32_t GetLanguage() const { return m_language; }
    void SetLanguage(uint32_t language); // also switches the catalogue at once

    bool GetLoggingEnabled() const { return m_loggingEnabled; }
    void SetLoggingEnabled(bool on) { m_loggingEnabled = on; }
    uint32_t GetLoggingLevel() const { return m_loggingLevel; }
    void SetLoggingLevel(uint32_t level) { m_loggingLevel = level; }
    const std::string& GetLogFile() const { return m_logFile; }
    void SetLogFile(const std::string& path) { m_logFile = path; }
    bool GetHideUnusedCerts() const { return m_hideUnusedCerts; }
    void SetHideUnusedCerts(bool on) { m_hideUnusedCerts = on; }
    bool GetLskProfile() const { return m_lskProfile; }
    void SetLskProfile(bool on) { m_lskProfile = on; }
    bool GetKeyboardPin() const { return m_keyboardPin; }
    void SetKeyboardPin(bool on) { m_keyboardPin = on; }
    bool GetPinWatcherThread() const { return m_pinWatcherThread; }
    bool GetShowBalloonInfo() const { return m_showBalloonInfo; }
    void SetShowBalloonInfo(bool on) { m_showBalloonInfo = on; }
    bool GetPinDialogEnabled() const { return m_pinDialogEnabled; }
    void SetPinDialogEnabled(bool on) { m_pinDialogEnabled = on; }
    uint32_t GetBlockSize() const { return m_blockSize; }

    static bool IsVistaOrLater();
    static bool IsCertPropSvcActive();

private:
    void Load(const char* rootName);

    uint32_t m_language = 1;
    bool m_loggingEnabled = false;
    std::string m_logFile;
    bool m_hideUnusedCerts = false;
    bool m_lskProfile = false;
    bool m_keyboardPin = false;
    bool m_pinWatcherThread = false;
    uint32_t m_loggingLevel = 0;
    bool m_showBalloonInfo = true;
    bool m_pinDialogEnabled = true;
    uint32_t m_blockSize = 252;
};

// The process-wide settings object.
extern Config g_Config;
