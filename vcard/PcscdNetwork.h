#pragma once

#include <string>
#include <sys/types.h>

namespace vcard {

// A private pcscd (scripts/pcscd-start.sh) runs in a network namespace of its own, so that
// its vpcd readers, which listen on every address, are reachable from nowhere but that
// namespace's loopback. The card joins that namespace before it connects. Must be called
// while the process has a single thread (the kernel's condition for joining a user
// namespace). True when the process now shares pcscd's network (also when it already did).
bool EnterPcscdNetwork(pid_t pcscd, std::string& error);

} // namespace vcard
