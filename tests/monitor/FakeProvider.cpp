// A card provider module for the tests: it serves the containers of a
// directory tree instead of a card, so that the registration can be tested
// without the minidriver.
//
//   $VELK_FAKE_PROVIDER_DIR/readers/<reader>/<container>.der
//       one container per file, enumerated in name order; the file holds the
//       certificate of its exchange key (an empty file: a key without one)
//   $VELK_FAKE_PROVIDER_DIR/fail-acquire, fail-set-param
//       a number: that many of the next acquisitions / parameter settings
//       fail (the file counts down)
//   acquire.log, params.log
//       one line per acquisition (its container) and per parameter set
//       ("<param> <value>")

#include "platform/crypto/ProviderInterface.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct VelkProviderHandle {
    fs::path readerDir;
    std::string container;
    std::vector<std::string> listing;
};

namespace {

constexpr uint32_t kBadKeyset = 0x80090016u;
constexpr uint32_t kNoKey = 0x8009000Du;
constexpr uint32_t kNotSupported = 0x80090029u;
constexpr uint32_t kBusy = 0x8010000Bu; // a sharing violation, as a card in reset
constexpr uint32_t kMoreData = 234;
constexpr uint32_t kNoMoreItems = 259;
constexpr uint32_t kDeleteKeyset = 0x10;

fs::path Root() {
    const char* dir = std::getenv("VELK_FAKE_PROVIDER_DIR");
    return dir != nullptr ? fs::path(dir) : fs::path();
}

void Log(const char* file, const std::string& line) {
    std::ofstream(Root() / file, std::ios::app) << line << '\n';
}

// Counts an injected failure down; true when this call is to fail.
bool TakeFailure(const char* file) {
    const fs::path path = Root() / file;
    int count = 0;
    if (!(std::ifstream(path) >> count) || count <= 0) {
        return false;
    }
    std::ofstream(path, std::ios::trunc) << count - 1;
    return true;
}

uint32_t CopyOut(const void* data, size_t size, void* buffer, size_t* length) {
    if (buffer == nullptr) {
        *length = size;
        return 0;
    }
    if (*length < size) {
        *length = size;
        return kMoreData;
    }
    std::memcpy(buffer, data, size);
    *length = size;
    return 0;
}

uint32_t Acquire(const char* container, uint32_t flags, VelkProviderHandle** handle) {
    *handle = nullptr;
    const std::string text = container != nullptr ? container : "";
    Log("acquire.log", text);
    if (TakeFailure("fail-acquire")) {
        return kBusy;
    }
    // "\\.\<reader>\<name>"
    if (text.rfind("\\\\.\\", 0) != 0) {
        return kBadKeyset;
    }
    const std::size_t slash = text.find('\\', 4);
    if (slash == std::string::npos) {
        return kBadKeyset;
    }
    auto h = std::make_unique<VelkProviderHandle>();
    h->readerDir = Root() / "readers" / text.substr(4, slash - 4);
    h->container = text.substr(slash + 1);
    if (!fs::is_directory(h->readerDir) ||
        (!h->container.empty() && !fs::exists(h->readerDir / (h->container + ".der")))) {
        return kBadKeyset;
    }
    if (flags & kDeleteKeyset) {
        return 0;
    }
    *handle = h.release(); // owned by the layer until release()
    return 0;
}

void Release(VelkProviderHandle* handle) {
    std::unique_ptr<VelkProviderHandle> owned(handle);
}

uint32_t EnumContainers(VelkProviderHandle* h, uint32_t index, char* name, size_t* length) {
    if (index == 0) {
        h->listing.clear();
        std::error_code ec;
        for (const auto& file : fs::directory_iterator(h->readerDir, ec)) {
            if (file.path().extension() == ".der") {
                h->listing.push_back(file.path().stem().string());
            }
        }
        std::sort(h->listing.begin(), h->listing.end());
    }
    if (index >= h->listing.size()) {
        return kNoMoreItems;
    }
    const std::string& entry = h->listing[index];
    return CopyOut(entry.c_str(), entry.size() + 1, name, length);
}

uint32_t ContainerName(VelkProviderHandle* h, char* name, size_t* length) {
    return CopyOut(h->container.c_str(), h->container.size() + 1, name, length);
}

uint32_t UserKey(VelkProviderHandle* h, uint32_t keySpec) {
    return keySpec == 1 && !h->container.empty() ? 0 : kNoKey;
}

uint32_t KeyCertificate(VelkProviderHandle* h, uint32_t keySpec, uint8_t* certificate,
                        size_t* length) {
    if (UserKey(h, keySpec) != 0) {
        return kNoKey;
    }
    std::ifstream file(h->readerDir / (h->container + ".der"), std::ios::binary);
    const std::vector<char> der((std::istreambuf_iterator<char>(file)), {});
    if (der.empty()) {
        return kNoKey;
    }
    return CopyOut(der.data(), der.size(), certificate, length);
}

uint32_t SetParam(VelkProviderHandle* h, uint32_t param, const uint8_t* value, size_t length) {
    Log("params.log", std::to_string(param) + " " + h->container + " " +
                          std::string(reinterpret_cast<const char*>(value), length));
    return TakeFailure("fail-set-param") ? kBusy : 0;
}

uint32_t Decrypt(VelkProviderHandle*, uint32_t, const uint8_t*, size_t, uint8_t*, size_t*) {
    return kNotSupported;
}

const VelkProviderFunctions kFunctions = {
    VELK_PROVIDER_INTERFACE_VERSION,
    sizeof(VelkProviderFunctions),
    Acquire,
    Release,
    EnumContainers,
    ContainerName,
    UserKey,
    KeyCertificate,
    SetParam,
    Decrypt,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const VelkProviderFunctions*
VelkGetProviderInterface(uint32_t requested_version) {
    return requested_version == VELK_PROVIDER_INTERFACE_VERSION ? &kFunctions : nullptr;
}
