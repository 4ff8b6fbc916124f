#pragma once

// The desktop's PIN entry program, spoken to in its Assuan protocol over its
// standard input and output: one program run per PIN command, one GETPIN per
// PIN asked. The program is the one the environment variable VELKORA_PINENTRY
// names (a path or a name looked up in PATH), else "pinentry".
//
// Every exchange (a command and all the lines of its answer) is bounded as a
// whole, not per line: a program that keeps sending status lines cannot hold
// the caller longer than the limit.

#include "minidriver/md/Secret.h"
#include "util/SecureBuffer.h"

#include <chrono>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace velkmd {

inline constexpr const char* kPinEntryVariable = "VELKORA_PINENTRY";
inline constexpr const char* kDefaultPinEntry = "pinentry";

// Assuan's escaping of a text sent as a command argument: '%', CR and LF as
// %25, %0D and %0A.
std::string AssuanEscape(std::string_view text);

// Decodes the %XX escapes of a data line ("D ...") into `out`, appending.
// False for a malformed escape or when `out` is full.
bool AssuanDecodeInto(std::string_view data, Secret& out);

struct PinEntryLimits {
    // The whole answer to GETPIN: the user may take their time over a PIN.
    std::chrono::milliseconds user = std::chrono::minutes(10);
    // The greeting and the answer to every other command: the program itself
    // answers at once.
    std::chrono::milliseconds program = std::chrono::seconds(30);
};

class PinEntry {
public:
    enum class Result { Ok, Cancelled, Failed };

    using Limits = PinEntryLimits;

    // Starts the program and reads its greeting; Ok() false when either fails.
    explicit PinEntry(Limits limits = {});
    // Says BYE, closes the connection and waits for the program to end.
    ~PinEntry();
    PinEntry(const PinEntry&) = delete;
    PinEntry& operator=(const PinEntry&) = delete;

    bool Ok() const { return m_fd >= 0; }

    // SETTITLE, SETDESC, SETPROMPT, SETERROR (the error text shown with the next GETPIN).
    bool SetTitle(std::string_view text) { return Command("SETTITLE", text); }
    bool SetDescription(std::string_view text) { return Command("SETDESC", text); }
    bool SetPrompt(std::string_view text) { return Command("SETPROMPT", text); }
    bool SetError(std::string_view text) { return Command("SETERROR", text); }

    // GETPIN: Ok with the entry in `pin` (empty when the user confirmed an
    // empty field), Cancelled when the user closed the prompt (the program
    // answered ERR), Failed when the program went away or spoke nonsense.
    Result GetPin(Secret& pin);

private:
    bool Command(std::string_view verb, std::string_view argument);
    bool Send(std::string_view line);
    using Deadline = std::chrono::steady_clock::time_point;

    // Reads until OK (true) or ERR (false, `err` set), giving up at the end of
    // `limit`; data lines go to `data` when it is given, else they are a
    // protocol error.
    bool Await(std::chrono::milliseconds limit, Secret* data, bool& err);
    // One line without its LF into m_line; false past the deadline, at the
    // end of the input or for an overlong line.
    bool ReadLine(Deadline deadline);
    void Stop();

    static constexpr std::size_t kBufferSize = 2048;
    static constexpr std::size_t kLineSize = 1024;

    Limits m_limits;
    int m_fd = -1;
    pid_t m_pid = -1;
    // Buffered input and the line taken from it hold PIN bytes for a moment:
    // secure memory, wiped after use.
    velk::SecureBuffer m_buffer{kBufferSize};
    std::size_t m_buffered = 0;
    velk::SecureBuffer m_line{kLineSize};
    std::size_t m_lineLength = 0;
};

} // namespace velkmd
