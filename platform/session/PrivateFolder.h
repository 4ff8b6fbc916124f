#pragma once

#include <string>

// Folders of the user's own, for what must not sit where another user can take a name first
// (lock files without a logon session's runtime folder, exported files when the shared
// temporary folder is blocked).
namespace session {

// $HOME when absolute, else the home folder of the passwd entry; empty when neither exists.
std::string UserHomeDir();

// <state>/velkora/<name>-<host name>, with <state> $XDG_STATE_HOME (when absolute) or
// ~/.local/state; made with mode 0700 where missing. Returned only when it is a folder of
// this user that no one else can open and every folder above it is trusted; else empty, with
// `problem` (if given) saying why. The host name keeps machines that share a home apart.
std::string PrivateUserFolder(const std::string& name, std::string* problem = nullptr);

// Empty when `folder` is a folder of this user that no one else can open and every folder
// above it is trusted (UntrustedPathReason); else why not, in words for the user.
std::string PrivateFolderProblem(const std::string& folder);

} // namespace session
