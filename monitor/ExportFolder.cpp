#include "monitor/CardUtils.h"

#include "platform/registry/Registry.h"
#include "platform/session/PrivateFolder.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

constexpr const char* kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr DWORD kMaxFolder = 500;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

// The "Personal" shell folder that the user hive names, if any.
std::string PersonalFolder() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        return {};
    }
    char buffer[kMaxFolder + 1] = {};
    DWORD size = kMaxFolder;
    DWORD type = REG_NONE;
    const LONG rv =
        RegQueryValueExA(key, "Personal", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rv != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return {};
    }
    return std::string(buffer, strnlen(buffer, size));
}

// The XDG documents folder: $XDG_DOCUMENTS_DIR, else the line of
// user-dirs.dirs that xdg-user-dir reads; only a folder that exists.
std::string XdgDocumentsFolder() {
    std::string folder = Env("XDG_DOCUMENTS_DIR");
    if (folder.empty()) {
        std::string config = Env("XDG_CONFIG_HOME");
        if (config.empty() || config[0] != '/') {
            config = Env("HOME") + "/.config";
        }
        std::ifstream dirs(config + "/user-dirs.dirs");
        const std::string prefix = "XDG_DOCUMENTS_DIR=\"";
        for (std::string line; std::getline(dirs, line);) {
            if (line.compare(0, prefix.size(), prefix) != 0 || line.back() != '"') {
                continue;
            }
            folder = line.substr(prefix.size(), line.size() - prefix.size() - 1);
            if (folder.compare(0, 5, "$HOME") == 0) {
                folder = Env("HOME") + folder.substr(5);
            }
        }
    }
    return IsDirectory(folder) ? folder : std::string();
}

} // namespace

std::string GetExportFolder() {
    std::error_code ec;
    std::string folder = std::filesystem::current_path(ec).string();
    if (ec || folder.empty()) {
        folder = ".";
    }
    std::string chosen = PersonalFolder();
    if (chosen.empty()) {
        chosen = XdgDocumentsFolder();
    }
    for (const char* variable : {"TEMP", "TMP", "TMPDIR"}) {
        if (chosen.empty()) {
            chosen = Env(variable);
        }
    }
    if (chosen.empty()) {
        // The user's own, never a name in /tmp that another user could have made first.
        chosen = session::PrivateUserFolder("export");
    }
    return chosen.empty() ? folder : chosen;
}
