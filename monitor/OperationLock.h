#pragma once

#include <mutex>

namespace monitor {

// Held for each operation that changes the stores' registrations or rebuilds
// the certificate list. Recursive: adding a card first removes what that
// reader had.
std::recursive_mutex& OperationMutex();

} // namespace monitor
