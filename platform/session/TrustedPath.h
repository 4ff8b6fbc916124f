#pragma once

#include <string>

// Whether a file the program reads (a settings hive, a provider module) or a folder it keeps
// files in can be changed by anyone but root and the user: only then may the program trust
// what it finds there.
namespace session {

// Empty when `path` is absolute and it (if it exists) and every folder above it belong to
// root or this user and are writable by no one else; a root-owned sticky folder such as /tmp
// counts as safe to pass through, since no one but the owner can move an entry inside it.
// Otherwise why not, in words for the user. Links are followed and their targets checked.
// With `mustExist`, a missing path is refused too.
std::string UntrustedPathReason(const std::string& path, bool mustExist);

} // namespace session
