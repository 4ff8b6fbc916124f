// velkora-trustcenter: the demo trust center's delivery of a virtual card
// holder's certificates as the P7M file the personalization reads.

#include "vcard/CardImage.h"
#include "vcard/Delivery.h"

#include <openssl/crypto.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

enum Exit : int {
    kWritten = 0,
    kOutputExists = 1,
    kUsage = 2,
    kBadCard = 3,
    kNoTrustCenter = 4,
    kWriteFailed = 5,
};

void PrintUsage(FILE* to) {
    std::fprintf(to,
                 "usage: velkora-trustcenter deliver --image CARD.img --out FILE.p7m\n"
                 "                           (--tele-password PW | --tele-password-file FILE)\n"
                 "                           [--only sigg|signature|encoding]...\n"
                 "Issues certificates for the holder keys of a virtual T-COS 3.0 card and writes\n"
                 "them as the P7M the card's personalization reads: enveloped for the card's\n"
                 "authentication certificate (3f00df02c500), inside it Triple-DES under the\n"
                 "tele-password.\n"
                 "  --image FILE               the card's image (as velkora-vcard keeps it)\n"
                 "  --out FILE                 the P7M to write; never replaces an existing file\n"
                 "  --tele-password PW         the tele-password (Latin-1 characters)\n"
                 "  --tele-password-file FILE  the tele-password as the first line of FILE\n"
                 "  --only KEY                 only this key's certificate (repeatable): sigg\n"
                 "                             (3f00df014531), signature (3f00df024531),\n"
                 "                             encoding (3f00df0245b1); default all three\n"
                 "The certificates come from the trust center of the card (velkora-demo-tc.pem\n"
                 "beside the image, or the file $VELKORA_TRUST_CENTER names).\n"
                 "Exit codes:\n"
                 "  0  the P7M was written\n"
                 "  1  the output file exists already; nothing written\n"
                 "  2  usage error\n"
                 "  3  the image cannot be read, or lacks a key or the authentication certificate\n"
                 "  4  the trust center's state can neither be read nor made\n"
                 "  5  the P7M could not be written\n");
}

// A secret string that is wiped when it goes.
struct Secret {
    std::string text;
    Secret() = default;
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret() { OPENSSL_cleanse(text.data(), text.size()); }
};

// The card program derives the key from the password's 8-bit characters, so
// a UTF-8 argument becomes Latin-1; bytes that are no UTF-8 stay as they are.
bool ToLatin1(const std::string& in, std::string& out) {
    std::string result;
    result.reserve(in.size()); // no reallocation leaves a copy behind
    for (size_t i = 0; i < in.size(); ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            result.push_back(static_cast<char>(c));
            continue;
        }
        if ((c == 0xC2 || c == 0xC3) && i + 1 < in.size() &&
            (static_cast<unsigned char>(in[i + 1]) & 0xC0) == 0x80) {
            result.push_back(static_cast<char>((c & 0x03) << 6 |
                                               (static_cast<unsigned char>(in[i + 1]) & 0x3F)));
            ++i;
            continue;
        }
        if (c >= 0xC4 && c <= 0xF4 && i + 1 < in.size() &&
            (static_cast<unsigned char>(in[i + 1]) & 0xC0) == 0x80) {
            OPENSSL_cleanse(result.data(), result.size());
            return false; // a character beyond Latin-1
        }
        result.push_back(static_cast<char>(c));
    }
    out.swap(result);
    OPENSSL_cleanse(result.data(), result.size());
    return true;
}

// Read by hand into a buffer that is wiped, not through a stream whose
// buffer would keep the password.
bool ReadFirstLine(const std::string& path, std::string& out) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[256];
    ssize_t n = 0;
    do {
        n = read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    close(fd);
    size_t length = 0;
    while (n > 0 && length < static_cast<size_t>(n) && buffer[length] != '\n' &&
           buffer[length] != '\r') {
        ++length;
    }
    out.reserve(length);
    out.assign(buffer, length);
    OPENSSL_cleanse(buffer, sizeof buffer);
    return !out.empty();
}

struct Options {
    std::string image;
    std::string out;
    Secret password;
    std::vector<std::string_view> keyFiles;
};

int ParseArgs(int argc, char** argv, Options& o) {
    if (argc >= 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        PrintUsage(stdout);
        return -1;
    }
    if (argc < 2 || std::strcmp(argv[1], "deliver") != 0) {
        std::fprintf(stderr, "velkora-trustcenter: the command is \"deliver\"\n");
        return kUsage;
    }
    Secret typed;
    bool havePassword = false;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            PrintUsage(stdout);
            return -1;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "velkora-trustcenter: %s needs a value\n", a.c_str());
            return kUsage;
        }
        char* v = argv[++i];
        if (a == "--image") {
            o.image = v;
        } else if (a == "--out") {
            o.out = v;
        } else if (a == "--tele-password") {
            typed.text = v;
            // Gone from the process's command line as well.
            OPENSSL_cleanse(v, std::strlen(v));
            havePassword = true;
        } else if (a == "--tele-password-file") {
            if (!ReadFirstLine(v, typed.text)) {
                std::fprintf(stderr, "velkora-trustcenter: no tele-password in %s\n", v);
                return kUsage;
            }
            havePassword = true;
        } else if (a == "--only" && std::strcmp(v, "sigg") == 0) {
            o.keyFiles.push_back(vcard::kDeliveryKeyFiles[0]);
        } else if (a == "--only" && std::strcmp(v, "signature") == 0) {
            o.keyFiles.push_back(vcard::kDeliveryKeyFiles[1]);
        } else if (a == "--only" && std::strcmp(v, "encoding") == 0) {
            o.keyFiles.push_back(vcard::kDeliveryKeyFiles[2]);
        } else {
            std::fprintf(stderr, "velkora-trustcenter: bad option %s\n", a.c_str());
            return kUsage;
        }
    }
    if (o.image.empty() || o.out.empty() || !havePassword) {
        std::fprintf(stderr, "velkora-trustcenter: --image, --out and a tele-password are "
                             "required\n");
        return kUsage;
    }
    if (typed.text.empty() || !ToLatin1(typed.text, o.password.text)) {
        std::fprintf(stderr, "velkora-trustcenter: the tele-password must be one or more "
                             "Latin-1 characters\n");
        return kUsage;
    }
    if (o.keyFiles.empty()) {
        o.keyFiles.assign(std::begin(vcard::kDeliveryKeyFiles), std::end(vcard::kDeliveryKeyFiles));
    }
    return 0;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// Writes a temporary file beside `path` and links it to `path`: the P7M
// appears whole, and link() refuses a name that exists, even one made in
// between by someone else.
Exit WriteNew(const std::string& path, const vcard::Bytes& data) {
    std::string temp = path + ".XXXXXX";
    FileDescriptor fd(mkstemp(temp.data()));
    if (fd.Get() < 0) {
        std::fprintf(stderr, "velkora-trustcenter: cannot write beside %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return kWriteFailed;
    }
    bool ok = fchmod(fd.Get(), 0644) == 0;
    for (size_t done = 0; ok && done < data.size();) {
        const ssize_t n = write(fd.Get(), data.data() + done, data.size() - done);
        ok = n > 0 || (n < 0 && errno == EINTR);
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    ok = fsync(fd.Get()) == 0 && ok;
    ok = close(fd.Release()) == 0 && ok;
    Exit result = kWritten;
    if (!ok) {
        result = kWriteFailed;
    } else if (link(temp.c_str(), path.c_str()) != 0) {
        result = errno == EEXIST ? kOutputExists : kWriteFailed;
    }
    unlink(temp.c_str());
    if (result == kOutputExists) {
        std::fprintf(stderr, "velkora-trustcenter: %s exists already; nothing written\n",
                     path.c_str());
    } else if (result == kWriteFailed) {
        std::fprintf(stderr, "velkora-trustcenter: cannot write %s\n", path.c_str());
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (const int rc = ParseArgs(argc, argv, o); rc != 0) {
        if (rc == kUsage) {
            PrintUsage(stderr);
        }
        return rc < 0 ? kWritten : rc;
    }
    // Checked first so that an existing file costs no issuing; WriteNew
    // still refuses one that appears meanwhile.
    if (access(o.out.c_str(), F_OK) == 0) {
        std::fprintf(stderr, "velkora-trustcenter: %s exists already; nothing written\n",
                     o.out.c_str());
        return kOutputExists;
    }
    const auto card = vcard::LoadImage(o.image);
    if (!card) {
        std::fprintf(stderr, "velkora-trustcenter: cannot read the card image %s\n",
                     o.image.c_str());
        return kBadCard;
    }
    const auto tc = vcard::TrustCenterFor(o.image);
    if (!tc) {
        std::fprintf(stderr, "velkora-trustcenter: no trust center state for %s\n",
                     o.image.c_str());
        return kNoTrustCenter;
    }
    const auto p7m = vcard::MakeDeliveryP7M(*card, *tc, o.password.text, o.keyFiles);
    if (!p7m) {
        std::fprintf(stderr,
                     "velkora-trustcenter: the card in %s lacks a holder key or its "
                     "authentication certificate\n",
                     o.image.c_str());
        return kBadCard;
    }
    return WriteNew(o.out, *p7m);
}
