#pragma once

#include <string>
#include <string_view>

// The process's command line, as the start-up code searches it: the words are matched as
// case-sensitive substrings, not as separate arguments, so "stop" is also found inside a longer
// word and "--Restart" also inside the program path.
class CCommandLine {
public:
    CCommandLine() = default;
    CCommandLine(int argc, const char* const* argv);

    // Program path and arguments, joined by single spaces.
    const std::string& Full() const { return m_full; }
    // The arguments after the program name, joined by single spaces.
    const std::string& Arguments() const { return m_arguments; }

    bool ArgumentsContain(std::string_view word) const;
    bool Contains(std::string_view word) const;

private:
    std::string m_full;
    std::string m_arguments;
};

// The command line of this process, recorded once at start.
void SetProcessCommandLine(const CCommandLine& commandLine);
const CCommandLine& ProcessCommandLine();
