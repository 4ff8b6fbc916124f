#include "vcard/CardImage.h"

#include <openssl/crypto.h>

#include "util/HexDigit.h"
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vcard {

namespace {

constexpr std::string_view kMagic = "velkora-vcard-image 1";
constexpr size_t kMaxImageBytes = 4 * 1024 * 1024;
constexpr size_t kMaxTransparent = 32767; // offsets of UPDATE BINARY are 15 bits
constexpr size_t kMaxRecord = 256;
constexpr size_t kMaxRecords = 254;
constexpr size_t kMaxFiles = 512;
constexpr size_t kMaxPins = 32;
constexpr size_t kMaxKeys = 32;
constexpr size_t kMaxKeyDer = 8192;
constexpr size_t kMaxPinValue = 32;

// An owned file descriptor.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return m_fd; }
    bool Close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }
    void Reset() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

private:
    int m_fd;
};

void AppendHex(std::string& out, std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    if (bytes.empty()) {
        out += '-';
        return;
    }
    for (uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
}

std::string Hex8(uint8_t b) {
    std::string s;
    AppendHex(s, std::span<const uint8_t>(&b, 1));
    return s;
}

std::optional<Bytes> ParseHex(std::string_view text, size_t maxBytes) {
    if (text == "-") {
        return Bytes{};
    }
    if (text.size() % 2 != 0 || text.size() / 2 > maxBytes) {
        return std::nullopt;
    }
    Bytes out(text.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        const int hi = velk::HexDigitValue(text[2 * i]);
        const int lo = velk::HexDigitValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        out[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return out;
}

std::optional<uint8_t> ParseByte(std::string_view text) {
    auto b = ParseHex(text, 1);
    if (!b || b->size() != 1) {
        return std::nullopt;
    }
    return (*b)[0];
}

std::optional<uint8_t> ParseSmall(std::string_view text) {
    if (text.empty() || text.size() > 2) {
        return std::nullopt;
    }
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > 15) { // a retry counter travels in the low nibble of 63 Cx
        return std::nullopt;
    }
    return static_cast<uint8_t>(v);
}

std::vector<std::string_view> SplitWords(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') {
            ++i;
        }
        size_t j = i;
        while (j < line.size() && line[j] != ' ') {
            ++j;
        }
        if (j > i) {
            words.push_back(line.substr(i, j - i));
        }
        i = j;
    }
    return words;
}

const char* StateWord(PinState s) {
    switch (s) {
    case PinState::NullPin:
        return "null";
    case PinState::NotSet:
        return "notset";
    case PinState::Set:
        break;
    }
    return "set";
}

std::optional<PinState> ParseState(std::string_view w) {
    if (w == "set") {
        return PinState::Set;
    }
    if (w == "null") {
        return PinState::NullPin;
    }
    if (w == "notset") {
        return PinState::NotSet;
    }
    return std::nullopt;
}

// One line of the image into the state under construction.
bool ParseLine(const std::vector<std::string_view>& w, CardState& state, size_t& files) {
    const std::string_view kind = w[0];
    if (kind == "profile" && w.size() == 2 && state.profile.empty()) {
        state.profile = std::string(w[1]);
        return !state.profile.empty() && state.profile.size() <= 64;
    }
    if ((kind == "df" && w.size() == 2) || (kind == "bin" && w.size() == 4) ||
        (kind == "rec" && w.size() == 3)) {
        auto path = ParseCardPath(w[1]);
        if (!path || path->size() < 2 || ++files > kMaxFiles) {
            return false;
        }
        if (kind == "df") {
            return state.files.Add(*path, FileKind::Dedicated);
        }
        if (w[2] != "ro" && w[2] != "rw") {
            return false;
        }
        const bool readOnly = w[2] == "ro";
        if (kind == "rec") {
            return state.files.Add(*path, FileKind::Records, 0, readOnly);
        }
        auto content = ParseHex(w[3], kMaxTransparent);
        if (!content || !state.files.Add(*path, FileKind::Transparent, 0, readOnly)) {
            return false;
        }
        state.files.Find(*path)->content = std::move(*content);
        return true;
    }
    if (kind == "record" && w.size() == 3) {
        auto path = ParseCardPath(w[1]);
        CardFile* file = path ? state.files.Find(*path) : nullptr;
        auto data = ParseHex(w[2], kMaxRecord);
        if (file == nullptr || file->kind != FileKind::Records || !data ||
            file->records.size() >= kMaxRecords) {
            return false;
        }
        file->records.push_back(std::move(*data));
        return true;
    }
    if (kind == "pin" && w.size() == 8) {
        PinRecord pin;
        auto ref = ParseByte(w[1]);
        auto df = ParseCardPath(w[2]);
        auto partner = ParseByte(w[3]);
        auto st = ParseState(w[4]);
        auto tries = ParseSmall(w[5]);
        auto maxTries = ParseSmall(w[6]);
        auto value = ParseHex(w[7], kMaxPinValue);
        if (!ref || !df || !partner || !st || !tries || !maxTries || !value || *maxTries == 0 ||
            *tries > *maxTries || state.pins.size() >= kMaxPins) {
            return false;
        }
        const CardFile* dir = state.files.Find(*df);
        if (dir == nullptr || dir->kind != FileKind::Dedicated) {
            return false;
        }
        for (const PinRecord& p : state.pins) {
            if (p.ref == *ref && p.df == *df) {
                return false;
            }
        }
        pin.ref = *ref;
        pin.df = std::move(*df);
        pin.partner = *partner;
        pin.state = *st;
        pin.tries = *tries;
        pin.maxTries = *maxTries;
        pin.value = std::move(*value);
        state.pins.push_back(std::move(pin));
        return true;
    }
    if (kind == "key" && w.size() == 3) {
        auto path = ParseCardPath(w[1]);
        auto der = ParseHex(w[2], kMaxKeyDer);
        if (!path || !der || der->empty() || state.keys.size() >= kMaxKeys) {
            return false;
        }
        CardKey key;
        key.keyFile = std::move(*path);
        key.privateKeyDer = std::move(*der);
        state.keys.push_back(std::move(key));
        return true;
    }
    return false;
}

} // namespace

std::string SerializeImage(const CardState& state) {
    std::string out;
    out.reserve(64 * 1024);
    out += kMagic;
    out += "\nprofile ";
    out += state.profile;
    out += '\n';
    state.files.Walk([&](const CardPath& path, const CardFile& file) {
        if (path.size() < 2) {
            return; // the MF always exists
        }
        const std::string p = FormatCardPath(path);
        const char* access = file.readOnly ? " ro" : " rw";
        switch (file.kind) {
        case FileKind::Dedicated:
            out += "df " + p + "\n";
            break;
        case FileKind::Transparent:
            out += "bin " + p + access + " ";
            AppendHex(out, file.content);
            out += '\n';
            break;
        case FileKind::Records:
            out += "rec " + p + access + "\n";
            for (const Bytes& r : file.records) {
                out += "record " + p + " ";
                AppendHex(out, r);
                out += '\n';
            }
            break;
        }
    });
    for (const PinRecord& pin : state.pins) {
        out += "pin " + Hex8(pin.ref) + " " + FormatCardPath(pin.df) + " " + Hex8(pin.partner) +
               " " + StateWord(pin.state) + " " + std::to_string(pin.tries) + " " +
               std::to_string(pin.maxTries) + " ";
        AppendHex(out, pin.value);
        out += '\n';
    }
    for (const CardKey& key : state.keys) {
        out += "key " + FormatCardPath(key.keyFile) + " ";
        AppendHex(out, key.privateKeyDer);
        out += '\n';
    }
    out += "end\n";
    return out;
}

std::optional<CardState> ParseImage(std::string_view text) {
    if (text.size() > kMaxImageBytes) {
        return std::nullopt;
    }
    CardState state;
    size_t files = 0;
    bool first = true;
    bool ended = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) {
            eol = text.size();
        }
        const std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (ended) {
            if (!line.empty()) {
                return std::nullopt;
            }
            continue;
        }
        if (first) {
            if (line != kMagic) {
                return std::nullopt;
            }
            first = false;
            continue;
        }
        const auto words = SplitWords(line);
        if (words.empty()) {
            continue;
        }
        if (words.size() == 1 && words[0] == "end") {
            ended = true;
            continue;
        }
        if (!ParseLine(words, state, files)) {
            return std::nullopt;
        }
    }
    if (!ended || state.profile.empty()) {
        return std::nullopt;
    }
    return state;
}

bool SaveImage(const std::string& path, const CardState& state) {
    std::string text = SerializeImage(state);
    std::string tmp = path + ".XXXXXX";
    UniqueFd fd(::mkstemp(tmp.data()));
    if (fd.Get() < 0) {
        return false;
    }
    bool ok = ::fchmod(fd.Get(), 0600) == 0;
    size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd.Get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            done += static_cast<size_t>(n);
        }
    }
    OPENSSL_cleanse(text.data(), text.size());
    ok = fd.Close() && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

std::optional<CardState> LoadImage(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        return std::nullopt;
    }
    std::string text;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > kMaxImageBytes) {
            return std::nullopt;
        }
    }
    auto state = ParseImage(text);
    OPENSSL_cleanse(text.data(), text.size());
    OPENSSL_cleanse(buf, sizeof buf);
    return state;
}

} // namespace vcard
