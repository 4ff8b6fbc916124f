// The lines of the record that VELKORA_MSGBOX_LOG asks the program to keep (see
// platform/qt/UiLog.h): all of them, or those that start with `prefix`.
#pragma once

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace velktest {

inline std::vector<std::string> RecordLines(const std::string& path, std::string_view prefix = {}) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(prefix)) {
            lines.push_back(line);
        }
    }
    return lines;
}

} // namespace velktest
