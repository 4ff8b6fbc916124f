#include "minidriver/nss/NssDatabases.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace velknss {

namespace fs = std::filesystem;

namespace {

// Profiles are the folders right inside `root` that hold a database.
void AddProfiles(const fs::path& root, std::vector<std::string>& out) {
    std::error_code ec;
    std::vector<std::string> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(root, ec)) {
        std::error_code probe;
        if (entry.is_directory(probe) && fs::exists(entry.path() / "cert9.db", probe)) {
            found.push_back(entry.path().string());
        }
    }
    std::sort(found.begin(), found.end());
    out.insert(out.end(), found.begin(), found.end());
}

} // namespace

std::vector<std::string> UserDatabases(const std::string& home) {
    const fs::path h(home);
    std::vector<std::string> out{(h / ".pki" / "nssdb").string()};
    AddProfiles(h / ".mozilla" / "firefox", out);
    AddProfiles(h / "snap" / "firefox" / "common" / ".mozilla" / "firefox", out);
    AddProfiles(h / ".thunderbird", out);
    AddProfiles(h / "snap" / "thunderbird" / "common" / ".thunderbird", out);
    return out;
}

} // namespace velknss
