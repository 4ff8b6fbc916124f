#include "platform/version/ModuleVersion.h"

#include "minidriver/md/ModuleVersion.h"
#include "platform/version/ElfSymbolText.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

constexpr WORD kLanguageUsEnglish = 0x0409;
constexpr WORD kCodePageWestern = 1252;
// No module of ours is near this; a larger file is not read into memory.
constexpr std::streamoff kMaxModuleBytes = std::streamoff{256} << 20;

std::vector<uint8_t> ReadFileBytes(const char* path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        return {};
    }
    const std::streamoff size = in.tellg();
    if (size <= 0 || size > kMaxModuleBytes) {
        return {};
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        return {};
    }
    return bytes;
}

// "1.0.5.12" (one to four numbers of 16 bits) to its four numbers; false for anything else.
bool ParseDottedVersion(const std::string& text, std::array<DWORD, 4>& out) {
    out = {0, 0, 0, 0};
    size_t field = 0;
    size_t digits = 0;
    for (const char c : text) {
        if (c == '.') {
            if (digits == 0 || ++field == out.size()) {
                return false;
            }
            digits = 0;
        } else if (c >= '0' && c <= '9' && digits < 5) {
            out[field] = out[field] * 10 + static_cast<DWORD>(c - '0');
            ++digits;
            if (out[field] > 0xFFFF) {
                return false;
            }
        } else {
            return false;
        }
    }
    return digits != 0;
}

} // namespace

CModuleVersion::CModuleVersion() : VS_FIXEDFILEINFO{} {}

void CModuleVersion::Clear() {
    static_cast<VS_FIXEDFILEINFO&>(*this) = VS_FIXEDFILEINFO{};
    m_codePage = kCodePageWestern;
}

bool CModuleVersion::GetFileVersionInfo(const char* module) {
    Clear();
    std::string text;
    if (module == nullptr) {
        text = VELK_PROGRAM_VERSION_TEXT;
    } else {
        const std::vector<uint8_t> image = ReadFileBytes(module);
        const auto found = ReadElfSymbolText(image, VELK_MODULE_VERSION_SYMBOL);
        if (!found) {
            return false;
        }
        text = *found;
    }
    return TakeVersionText(text);
}

bool CModuleVersion::TakeVersionText(const std::string& text) {
    m_versionData.clear();
    m_language = kLanguageUsEnglish;
    m_codePage = kCodePageWestern;
    std::array<DWORD, 4> numbers{};
    std::string resourceForm = text;
    const bool numeric = ParseDottedVersion(text, numbers);
    if (numeric) {
        resourceForm = std::to_string(numbers[0]) + ", " + std::to_string(numbers[1]) + ", " +
                       std::to_string(numbers[2]) + ", " + std::to_string(numbers[3]);
        dwSignature = kFixedFileInfoSignature;
        dwStrucVersion = 0x00010000;
        dwFileVersionMS = dwProductVersionMS = (numbers[0] << 16) | numbers[1];
        dwFileVersionLS = dwProductVersionLS = (numbers[2] << 16) | numbers[3];
        dwFileOS = 0x00040004;   // 32-bit NT-style module
        dwFileType = 0x00000002; // dynamic library
    }
    // A text that is not a version number is still what the module says its version is.
    for (const char* name : {"ProductVersion", "FileVersion"}) {
        char path[64];
        std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", m_language, m_codePage,
                      name);
        m_versionData[path] = resourceForm;
    }
    return numeric;
}

std::string CModuleVersion::GetValue(const char* name) const {
    if (m_versionData.empty() || name == nullptr) {
        return {};
    }
    const std::string path = [&] {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04x%04x\\", m_language,
                      m_codePage);
        return std::string(prefix) + name;
    }();
    const auto it = m_versionData.find(path);
    return it == m_versionData.end() ? std::string() : it->second;
}
