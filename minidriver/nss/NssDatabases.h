#pragma once

// The NSS certificate databases of a user that applications read: the shared
// one of Chromium and other NSS programs (~/.pki/nssdb) and every Firefox and
// Thunderbird profile that has a database.

#include <string>
#include <vector>

namespace velknss {

// Folders of SQL databases (cert9.db) under `home`; ~/.pki/nssdb comes first,
// whether or not it exists yet.
std::vector<std::string> UserDatabases(const std::string& home);

} // namespace velknss
