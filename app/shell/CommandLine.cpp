#include "app/shell/CommandLine.h"

CCommandLine::CCommandLine(int argc, const char* const* argv) {
    for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
        if (i > 0) {
            m_full += ' ';
        }
        m_full += argv[i];
        if (i > 1) {
            m_arguments += ' ';
        }
        if (i > 0) {
            m_arguments += argv[i];
        }
    }
}

bool CCommandLine::ArgumentsContain(std::string_view word) const {
    return m_arguments.find(word) != std::string::npos;
}

bool CCommandLine::Contains(std::string_view word) const {
    return m_full.find(word) != std::string::npos;
}

namespace {
CCommandLine& ProcessLine() {
    static CCommandLine line;
    return line;
}
} // namespace

void SetProcessCommandLine(const CCommandLine& commandLine) {
    ProcessLine() = commandLine;
}

const CCommandLine& ProcessCommandLine() {
    return ProcessLine();
}
