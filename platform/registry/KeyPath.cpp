#include "platform/registry/KeyPath.h"

#include "platform/registry/Registry.h"

std::string FoldRegName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

LONG SplitRegPath(const char* path, std::vector<std::string>& parts) {
    parts.clear();
    if (path == nullptr) {
        return ERROR_SUCCESS;
    }
    std::string_view rest(path);
    if (!rest.empty() && rest.back() == '\\') {
        rest.remove_suffix(1);
    }
    if (rest.empty()) {
        return ERROR_SUCCESS;
    }
    while (true) {
        const size_t cut = rest.find('\\');
        const std::string_view part = rest.substr(0, cut);
        if (part.empty() || part.size() > REG_MAX_KEY_NAME) {
            parts.clear();
            return ERROR_BAD_PATHNAME;
        }
        parts.emplace_back(part);
        if (cut == std::string_view::npos) {
            return ERROR_SUCCESS;
        }
        rest.remove_prefix(cut + 1);
    }
}
