#pragma once

#include <string>
#include <string_view>

namespace montest {

// Registers the certificates of the card in `reader` as the monitor does when it sees the card
// (through the provider that MonitorEnv installed), reading the reader's live state.
void RegisterReaderCertificates(const std::string& reader);

// Gives the card's PIN1 its first value in place of the NULL-PIN; false when the card refuses.
bool BreakCardPin1NullPin(const std::string& reader, std::string_view pin);

} // namespace montest
