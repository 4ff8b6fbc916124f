#include "dialogs/about/VersionText.h"

#include "platform/version/ModuleSearch.h"
#include "platform/version/ModuleVersion.h"

#include <array>

namespace {

std::string TrimBlanks(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

std::string FormatVersion(const std::string& v) {
    if (!v.empty() && v.find(',') == std::string::npos) {
        return v;
    }
    // The first three commas bound the first three parts; a part whose closing comma is
    // missing stays empty. The fourth part follows the last comma.
    std::array<size_t, 3> comma{};
    size_t from = 0;
    for (size_t& at : comma) {
        at = from == std::string::npos ? std::string::npos : v.find(',', from);
        from = at == std::string::npos ? std::string::npos : at + 1;
    }
    std::array<std::string, 3> parts;
    size_t start = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (comma[i] == std::string::npos) {
            break;
        }
        parts[i] = TrimBlanks(v.substr(start, comma[i] - start));
        start = comma[i] + 1;
    }
    const size_t last = v.rfind(',');
    const std::string build =
        last == std::string::npos ? std::string() : TrimBlanks(v.substr(last + 1));
    return "Version " + parts[0] + "." + parts[1] + "." + parts[2] + " (Build: " + build + ")";
}

std::string GetModuleVersionText(const std::string& moduleName) {
    const std::string path = FindModuleFile(moduleName);
    if (path.empty()) {
        return "not found";
    }
    CModuleVersion version;
    version.GetFileVersionInfo(path.c_str());
    return FormatVersion(version.GetValue("ProductVersion"));
}

std::string GetProgramVersionText() {
    CModuleVersion version;
    version.GetFileVersionInfo(nullptr);
    return FormatVersion(version.GetValue("ProductVersion")) + " (CR:" + VELK_REVISION + ")";
}
