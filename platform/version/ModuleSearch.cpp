#include "platform/version/ModuleSearch.h"

#include "platform/certstore/HiveKey.h"

#include <cstdlib>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kMakerProviderKey = "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\"
                                          "Velkora Base Smart Card Crypto Provider";

void AddPathList(const char* list, std::vector<std::string>& folders) {
    if (list == nullptr) {
        return;
    }
    std::string_view rest(list);
    while (!rest.empty()) {
        const size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        if (!folder.empty()) {
            folders.emplace_back(folder);
        }
        if (colon == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(colon + 1);
    }
}

std::string RegisteredProviderFolder() {
    velk::CHiveKey key;
    std::string image;
    if (key.Open(HKEY_LOCAL_MACHINE, kMakerProviderKey, KEY_READ) != ERROR_SUCCESS ||
        key.QueryString("Image Path", image) != ERROR_SUCCESS) {
        return {};
    }
    const size_t slash = image.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : image.substr(0, slash);
}

bool Readable(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

} // namespace

std::string ModuleFileName(const std::string& moduleName) {
    std::string base = moduleName;
    constexpr std::string_view kDll = ".dll";
    if (base.size() > kDll.size()) {
        std::string tail = base.substr(base.size() - kDll.size());
        for (char& c : tail) {
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        if (tail == kDll) {
            base.resize(base.size() - kDll.size());
            return "lib" + base + ".so";
        }
    }
    return base;
}

std::string FindModuleFile(const std::string& moduleName) {
    if (moduleName.empty()) {
        return {};
    }
    if (moduleName.find('/') != std::string::npos) {
        return Readable(moduleName) ? moduleName : std::string();
    }
    const std::string file = ModuleFileName(moduleName);
    std::vector<std::string> folders;
    AddPathList(std::getenv("VELKORA_MODULE_PATH"), folders);
    if (std::string registered = RegisteredProviderFolder(); !registered.empty()) {
        folders.push_back(std::move(registered));
    }
    folders.emplace_back(VELK_MODULE_INSTALL_DIR);
    AddPathList(std::getenv("LD_LIBRARY_PATH"), folders);
    AddPathList(VELK_SYSTEM_LIBRARY_DIRS, folders);
    for (const std::string& folder : folders) {
        const std::string path = folder + "/" + file;
        if (Readable(path)) {
            return path;
        }
    }
    return {};
}
