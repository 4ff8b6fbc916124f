#pragma once

#include <string>

// Where the hive files live and whether this process may write them. The
// decision is the file system's: what the kernel would let this process do.

// $VELKORA_MACHINE_HIVE, else /etc/velkora/machine.hive.
std::string MachineHivePath();
// $VELKORA_USER_HIVE, else $XDG_CONFIG_HOME/velkora/user.hive, with
// ~/.config when XDG_CONFIG_HOME is unset, empty or not absolute; empty when
// there is no home folder either.
std::string UserHivePath();

std::string ParentDir(const std::string& path);

// True when the existing file and its folder (for the journal) are writable.
bool CanWriteHiveFile(const std::string& path);
// True when the file could be created: the nearest existing folder above it
// is writable, so the missing folders and the file can be made.
bool CanCreateHiveFile(const std::string& path);

// Creates the missing folders above `path` with `mode`; true when the folder
// of `path` exists afterwards.
bool MakeParentDirs(const std::string& path, unsigned mode);
