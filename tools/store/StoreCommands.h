#pragma once

// The operations of velkora-store, apart from the command line so that
// each one reads and writes through the same store calls as the program.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace velk::storetool {

enum Exit : int {
    kOk = 0,
    kUsage = 1,
    kStoreError = 2, // the store or hive could not be read or written
    kNotFound = 3,   // no such certificate
    kFileError = 4,  // a certificate file could not be read or written
};

struct KeyLink {
    std::string container;
    std::string provider;
    uint32_t keySpec = 1;
};

int ListStore(const std::string& store, std::ostream& out, std::ostream& err);
// `which`: a decimal index in store order, or a SHA-1 thumbprint in hex
// (any case, blanks allowed).
int ExportCertificate(const std::string& store, const std::string& which, const std::string& file,
                      std::ostream& err);
int DeleteCertificate(const std::string& store, const std::string& which, std::ostream& err);
// Adds a DER or PEM certificate file, replacing the same certificate.
int AddCertificate(const std::string& store, const std::string& file,
                   const std::optional<KeyLink>& link, std::ostream& err);

int InstallCardTypes(std::ostream& err);
int InstallProviders(std::ostream& err);

} // namespace velk::storetool
