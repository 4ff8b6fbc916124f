#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dlgtest {

// A self-signed certificate for a list row: its common name, its validity relative to now in
// days, and its key usage bits (OpenSSL's KU_ values; 0 for no extension).
std::vector<uint8_t> MakeCertificate(const std::string& commonName, int fromDays, int toDays,
                                     unsigned keyUsage = 0);

// The date `days` from now as the tooltips write it ("2026-03-01").
std::string DateIn(int days);

} // namespace dlgtest
