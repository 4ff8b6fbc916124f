// velkora-nss-register: makes the card's keys usable in NSS applications
// (Firefox, Thunderbird, Chromium) by adding the PKCS #11 module to the
// user's NSS databases; --remove takes it out again.

#include "minidriver/nss/NssDatabases.h"
#include "minidriver/nss/NssRegistration.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The module installed beside this program: <prefix>/bin/.. + the module folder.
std::string InstalledModule() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    return (self.parent_path() / VELK_PKCS11_MODULE_FROM_BINDIR).lexically_normal().string();
}

void Usage(FILE* to) {
    std::fprintf(to,
                 "usage: velkora-nss-register [--remove] [--module FILE] [--db DIR]...\n"
                 "Adds the smart card module \"%s\" to the NSS databases of this user\n"
                 "(~/.pki/nssdb and the Firefox and Thunderbird profiles), or removes it.\n"
                 "  --module FILE  the module (default %s)\n"
                 "  --db DIR       only this database folder (may be repeated)\n",
                 velknss::kModuleName, InstalledModule().c_str());
}

} // namespace

int main(int argc, char** argv) {
    bool remove = false;
    std::string module = InstalledModule();
    std::vector<std::string> databases;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--remove") {
            remove = true;
        } else if (arg == "--module" && i + 1 < argc) {
            module = argv[++i];
        } else if (arg == "--db" && i + 1 < argc) {
            databases.emplace_back(argv[++i]);
        } else if (arg == "--help") {
            Usage(stdout);
            return 0;
        } else {
            Usage(stderr);
            return 2;
        }
    }
    if (databases.empty()) {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == '\0') {
            std::fprintf(stderr, "velkora-nss-register: HOME is not set\n");
            return 1;
        }
        databases = velknss::UserDatabases(home);
    }
    int failures = 0;
    for (const std::string& db : databases) {
        std::string log;
        const velknss::Outcome outcome =
            remove ? velknss::Unregister(db, log) : velknss::Register(db, module, log);
        const char* what = outcome == velknss::Outcome::Done        ? (remove ? "removed" : "added")
                           : outcome == velknss::Outcome::Unchanged ? "unchanged"
                                                                    : "failed";
        std::printf("%s: %s\n", db.c_str(), what);
        if (outcome == velknss::Outcome::Failed) {
            std::fprintf(stderr, "%s", log.c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
