#include "platform/crypto/ProviderModule.h"

#include "platform/certstore/HiveKey.h"
#include "platform/crypto/CryptProv.h"
#include "platform/crypto/ProviderInstall.h"
#include "platform/crypto/SoftProvider.h"
#include "platform/session/TrustedPath.h"

#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace velk::crypto {

namespace {

constexpr const char* kProvidersKey = "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider";
constexpr const char* kProviderTypesKey =
    "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider Types";

struct DlClose {
    void operator()(void* handle) const { dlclose(handle); }
};
using ModuleHandle = std::unique_ptr<void, DlClose>;

struct LoadedModule {
    ModuleHandle handle;
    VelkProviderFunctions functions{};
};

std::mutex g_modulesMutex;
std::map<std::string, LoadedModule> g_modules; // by path; loaded modules stay loaded
thread_local std::string t_loadError;

void Fail(const std::string& path, const std::string& why) {
    t_loadError = "provider module " + path + ": " + why;
    std::fprintf(stderr, "velkora: %s\n", t_loadError.c_str());
}

// Copies the part of the module's table that it has; null entries where the
// module is older and smaller.
bool CopyTable(const VelkProviderFunctions* table, VelkProviderFunctions& out) {
    out = VelkProviderFunctions{};
    if (!table || table->version != VELK_PROVIDER_INTERFACE_VERSION ||
        table->size < offsetof(VelkProviderFunctions, acquire)) {
        return false;
    }
    std::memcpy(&out, table, std::min<size_t>(table->size, sizeof out));
    return out.acquire && out.release && out.enum_containers && out.get_container_name &&
           out.get_user_key && out.get_key_certificate && out.set_param;
}

} // namespace

std::string ProviderKeyPath(const std::string& name) {
    return std::string(kProvidersKey) + "\\" + name;
}

std::string ProviderTypeKeyPath(DWORD type) {
    char name[32];
    std::snprintf(name, sizeof name, "Type %03lu", type);
    return std::string(kProviderTypesKey) + "\\" + name;
}

bool IsBuiltinProviderName(const std::string& name) {
    return strcasecmp(name.c_str(), MS_ENHANCED_PROV_A) == 0 ||
           strcasecmp(name.c_str(), MS_DEF_PROV_A) == 0;
}

const VelkProviderFunctions* LoadProviderModule(const std::string& path, DWORD& error) {
    const std::lock_guard lock(g_modulesMutex);
    if (const auto it = g_modules.find(path); it != g_modules.end()) {
        return &it->second.functions;
    }
    // Loading runs the module's code in every user's program: only a file that no one but root
    // and the user can have put there or changed. A relative path would be looked up in the
    // current folder or the library path, wherever the program happens to run.
    if (std::string why = session::UntrustedPathReason(path, true); !why.empty()) {
        Fail(path, "not loaded: " + why);
        error = NTE_PROV_DLL_NOT_FOUND;
        return nullptr;
    }
    if (struct stat st{}; stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        Fail(path, "not loaded: not a file");
        error = NTE_PROV_DLL_NOT_FOUND;
        return nullptr;
    }
    ModuleHandle handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle) {
        const char* why = dlerror();
        Fail(path, why ? why : "cannot be loaded");
        error = NTE_PROV_DLL_NOT_FOUND;
        return nullptr;
    }
    void* symbol = dlsym(handle.get(), VELK_PROVIDER_ENTRY_POINT);
    if (!symbol) {
        Fail(path, std::string("has no entry point ") + VELK_PROVIDER_ENTRY_POINT);
        error = NTE_PROVIDER_DLL_FAIL;
        return nullptr;
    }
    VelkGetProviderInterfaceFn entry = nullptr;
    static_assert(sizeof entry == sizeof symbol);
    std::memcpy(&entry, &symbol,
                sizeof entry); // object pointer to function pointer, as dlsym requires
    LoadedModule module;
    if (!CopyTable(entry(VELK_PROVIDER_INTERFACE_VERSION), module.functions)) {
        Fail(path, "does not offer a usable provider interface");
        error = NTE_PROVIDER_DLL_FAIL;
        return nullptr;
    }
    module.handle = std::move(handle);
    const auto [it, inserted] = g_modules.emplace(path, std::move(module));
    return &it->second.functions;
}

bool ResolveProvider(const char* name, DWORD type, ResolvedProvider& out, DWORD& error) {
    if (type == 0) {
        error = NTE_BAD_PROV_TYPE;
        return false;
    }
    std::string providerName = name ? name : "";
    if (providerName.empty()) {
        CHiveKey typeKey;
        LONG result = typeKey.Open(HKEY_LOCAL_MACHINE, ProviderTypeKeyPath(type), KEY_READ);
        if (result == ERROR_SUCCESS) {
            result = typeKey.QueryString("Name", providerName);
        }
        if (result != ERROR_SUCCESS || providerName.empty()) {
            if (type != PROV_RSA_FULL ||
                (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)) {
                error = result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND
                            ? NTE_PROV_TYPE_NOT_DEF
                            : static_cast<DWORD>(result);
                return false;
            }
            // No default registered: the built-in provider serves PROV_RSA_FULL.
            providerName = MS_ENHANCED_PROV_A;
        }
    }
    out.name = providerName;

    std::string imagePath;
    uint32_t registeredType = 0;
    bool typeRegistered = false;
    if (providerName.find('\\') == std::string::npos) {
        CHiveKey key;
        const LONG result = key.Open(HKEY_LOCAL_MACHINE, ProviderKeyPath(providerName), KEY_READ);
        if (result == ERROR_SUCCESS) {
            key.QueryString("Image Path", imagePath);
            typeRegistered = key.QueryDword("Type", registeredType) == ERROR_SUCCESS;
        } else if (result != ERROR_FILE_NOT_FOUND) {
            error = static_cast<DWORD>(result);
            return false;
        } else if (!IsBuiltinProviderName(providerName)) {
            error = NTE_KEYSET_NOT_DEF;
            return false;
        }
    } else {
        error = NTE_KEYSET_NOT_DEF;
        return false;
    }

    if (IsBuiltinProviderName(providerName) || imagePath == kBuiltinProviderImage) {
        if (type != PROV_RSA_FULL) {
            error = NTE_PROV_TYPE_NO_MATCH;
            return false;
        }
        out.functions = *SoftProviderFunctions();
        return true;
    }
    if (typeRegistered && registeredType != type) {
        error = NTE_PROV_TYPE_NO_MATCH;
        return false;
    }
    if (imagePath.empty()) {
        error = NTE_KEYSET_ENTRY_BAD;
        return false;
    }
    const VelkProviderFunctions* functions = LoadProviderModule(imagePath, error);
    if (!functions) {
        return false;
    }
    out.functions = *functions;
    return true;
}

} // namespace velk::crypto

std::string velk::LastProviderLoadError() {
    return velk::crypto::t_loadError;
}
