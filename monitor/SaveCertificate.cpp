#include "monitor/CardUtils.h"

#include "platform/session/PrivateFolder.h"
#include "util/WriteAll.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxFiles = 1000;

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// Writes all bytes to a file made new here (never through a link someone
// left in a shared folder).
bool WriteNewFile(const std::string& path, const BYTE* data, DWORD length) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool ok = velk::WriteAll(fd, data, length);
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (!ok) {
        unlink(path.c_str());
    }
    return ok;
}

} // namespace

std::string SaveCertificateFile(PCCERT_CONTEXT cert) {
    if (cert == nullptr || cert->pbCertEncoded == nullptr) {
        return {};
    }
    // The written path, or empty with `full` telling whether every name was taken.
    const auto saveIn = [cert](const std::string& folder, bool& full) -> std::string {
        full = false;
        for (int n = 0; !folder.empty() && n < kMaxFiles; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "/msign%04d.cer", n);
            const std::string path = folder + name;
            // A name is free, or its old file is replaced when it can be deleted.
            if (Exists(path) && unlink(path.c_str()) != 0) {
                continue;
            }
            if (WriteNewFile(path, cert->pbCertEncoded, cert->cbCertEncoded)) {
                return path;
            }
            if (errno != EEXIST) {
                return {}; // a write failure, not a name taken meanwhile
            }
        }
        full = true;
        return {};
    };
    const std::string chosen = GetExportFolder();
    bool full = false;
    if (std::string path = saveIn(chosen, full); !path.empty() || !full) {
        return path;
    }
    // Someone who took every name in a shared folder (TMPDIR=/tmp) does not stop the export:
    // it goes to the user's own folder then (unless that was the full one).
    const std::string own = session::PrivateUserFolder("export");
    return own == chosen ? std::string() : saveIn(own, full);
}
