#include "platform/qt/UiLog.h"

#include "platform/session/UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace uilog {

bool Enabled() {
    const char* path = std::getenv("VELKORA_MSGBOX_LOG");
    return path != nullptr && *path != '\0';
}

std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void Append(std::string_view kind, std::initializer_list<std::string_view> fields) {
    if (!Enabled()) {
        return;
    }
    std::string line = Escape(kind);
    for (const std::string_view field : fields) {
        line += '\t';
        line += Escape(field);
    }
    line += '\n';
    const session::UniqueFd fd(
        ::open(std::getenv("VELKORA_MSGBOX_LOG"), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (fd.IsValid()) {
        [[maybe_unused]] const auto written = ::write(fd.Get(), line.data(), line.size());
    }
}

} // namespace uilog
