#pragma once

#include "platform/registry/WinTypes.h"

#include <map>
#include <string>

// The fixed part of a module's version information, as the version resources of the platform
// the program comes from lay it out (13 words).
struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

inline constexpr DWORD kFixedFileInfoSignature = 0xFEEF04BD;

// The version information of a module file, read without loading the module: the companion
// modules carry their version as an exported text "major.minor.patch.build"; the program's own
// version is the one it was built with. The texts are offered as a version resource's string
// table ("ProductVersion", "FileVersion" in the resource form "1, 0, 5, 12") under one
// translation, US English in code page 1252.
class CModuleVersion : public VS_FIXEDFILEINFO {
public:
    CModuleVersion();
    virtual ~CModuleVersion() = default;

    // `module`: the path of a module file; null for the program itself. True when the
    // information was read and its fixed part is valid.
    bool GetFileVersionInfo(const char* module);

    // The string-table value `name` for the recorded language and code page; empty when there
    // is no version data or no such value.
    std::string GetValue(const char* name) const;

    WORD Language() const { return m_language; }
    WORD CodePage() const { return m_codePage; }

private:
    void Clear();
    bool TakeVersionText(const std::string& text);

    // The version data: the string table by its query path.
    std::map<std::string, std::string> m_versionData;
    WORD m_language = 0;
    WORD m_codePage = 1252;
};
