#include "minidriver/install/P11KitModule.h"

#include "minidriver/install/MdInstall.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace velkmd {

namespace fs = std::filesystem;

std::string P11KitModulesFolder() {
    const char* folder = std::getenv(kP11KitModulesVariable);
    if (folder != nullptr && *folder != '\0') {
        return folder;
    }
    // A private machine hive (tests, the demo) is no machine-wide install.
    const char* hive = std::getenv("VELKORA_MACHINE_HIVE");
    return hive != nullptr && *hive != '\0' ? std::string() : kP11KitModulesDefault;
}

std::string P11KitModuleText(const std::string& moduleDirectory) {
    std::string path = moduleDirectory;
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    path += kPkcs11ModuleFile;
    return "# The smart card's certificates and keys (velkora-md-install).\n"
           "module: " +
           path +
           "\n"
           "critical: no\n"
           "trust-policy: no\n";
}

bool WriteP11KitModule(const std::string& folder, const std::string& moduleDirectory) {
    if (folder.empty()) {
        return true;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path target = fs::path(folder) / kP11KitModuleFile;
    const fs::path temp = fs::path(folder) / (std::string(kP11KitModuleFile) + ".new");
    {
        std::ofstream out(temp, std::ios::trunc);
        out << P11KitModuleText(moduleDirectory);
        if (!out.flush()) {
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::permissions(temp,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                        fs::perms::others_read,
                    ec);
    fs::rename(temp, target, ec);
    return !ec;
}

bool RemoveP11KitModule(const std::string& folder) {
    if (folder.empty()) {
        return true;
    }
    std::error_code ec;
    fs::remove(fs::path(folder) / kP11KitModuleFile, ec);
    return !ec;
}

} // namespace velkmd
