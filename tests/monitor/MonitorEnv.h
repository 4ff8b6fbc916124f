#pragma once

// The world of one propagation test: temporary machine and user hives with
// the card types, the software provider and the card provider registered,
// the card provider's container tree, and simulated readers (when the test
// links the in-process PC/SC library). Everything process-wide that the
// propagation keeps (the certificate list and its counts) starts empty.

#include "monitor/CryptOwners.h"
#include "tests/monitor/TestCerts.h"
#include "tests/support/TempDir.h"

#include <winscard.h>

#include <optional>
#include <string>
#include <vector>

namespace montest {

inline constexpr const char* kReader0 = "Sim Reader 0";
inline constexpr const char* kReader1 = "Sim Reader 1";

// A reader-state record as a snapshot holds it, with its own name copy.
struct Record {
    Record(std::string reader, const Bytes& atr);
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
    const SCARD_READERSTATE* Get() const { return &state; }

    std::string name;
    SCARD_READERSTATE state{};
};

// A registration in a store: the certificate and the container path of its
// key-provider information, if it has one.
struct StoredCert {
    Bytes der;
    std::optional<std::string> container;
};

class MonitorEnv {
public:
    // `providerModule`: the module registered as the maker's provider
    // (empty: the tests' fake provider).
    explicit MonitorEnv(const std::string& providerModule = {});
    ~MonitorEnv();
    MonitorEnv(const MonitorEnv&) = delete;
    MonitorEnv& operator=(const MonitorEnv&) = delete;

    const std::string& Dir() const { return m_dir.Path(); }
    std::string Path(const std::string& name) const { return m_dir.File(name); }

    // The fake provider's card in `reader`: one container file each.
    void PutContainer(const std::string& reader, const std::string& name, const Bytes& der) const;
    void ClearReader(const std::string& reader) const;
    void FailNextAcquisitions(int count) const;
    void FailNextParamSets(int count) const;
    std::vector<std::string> AcquireLog() const;
    std::vector<std::string> ParamLog() const;

    static std::vector<StoredCert> Store(const char* name);
    // Adds `der` to MY as another program would, linked to `container` of
    // `provider` unless `container` is empty; false if that failed.
    static bool AddToMy(const Bytes& der, const std::string& container = {},
                        const std::string& provider = {});
    // The key containers of the software provider, as it enumerates them.
    static std::vector<std::string> SoftwareContainers();

private:
    velktest::TempDir m_dir;
};

// A certificate context of `der`, as the store would hand it out.
monitor::CertOwner ContextOf(const Bytes& der);
// Sets the user hive's "Personal" shell folder, the first choice for exports.
void SetPersonalFolder(const std::string& folder);

// The ATR of a registered card type ("Velkora MD - TCOS 3.0", "Other Card"...).
Bytes AtrOf(const std::string& cardName);

// A container name of the minidriver's form: 36 characters, the marker at
// the end; flag ('0' user key, '1' authority) at 4, reader digit at 5, type
// at 6, selector at 7, `salt` (4 hex digits) in front to tell them apart.
std::string ContainerName(char flag, char reader, char type, char selector,
                          const std::string& salt = "c0de");
// The reader digit the minidriver gives reader `index` of `count` readers.
char ReaderDigit(int index, int count);
// "\\.\" + reader + "\" + name
std::string ContainerPath(const std::string& reader, const std::string& name);

std::vector<std::string> ReadLines(const std::string& path);

} // namespace montest
