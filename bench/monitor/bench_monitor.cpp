// What the monitor's store synchronisation costs per poll: with the store
// unchanged (the last count is reused) and after every change (the store is
// read again), for a store with some registrations and foreign certificates.

#include "monitor/CCert.h"
#include "monitor/CertCollection.h"
#include "monitor/CryptOwners.h"
#include "monitor/KeyProvInfo.h"
#include "pcscsim/SimControl.h"
#include "platform/registry/Registry.h"
#include "tests/monitor/MonitorEnv.h"

#include <chrono>
#include <cstdio>

using namespace montest;
using Clock = std::chrono::steady_clock;

namespace {

void Fill(const TestCa& ca, int registrations, int foreign) {
    const monitor::StoreOwner store = monitor::OpenUserStore("MY");
    for (int i = 0; i < registrations + foreign; ++i) {
        const Bytes der = ca.Issue({{{"CN", "Bench " + std::to_string(i)}},
                                    {static_cast<uint8_t>(1 + i / 256), static_cast<uint8_t>(i)}});
        PCCERT_CONTEXT added = nullptr;
        CertAddEncodedCertificateToStore(store.Get(), X509_ASN_ENCODING, der.data(),
                                         static_cast<DWORD>(der.size()), CERT_STORE_ADD_NEW,
                                         &added);
        const std::string salt = "b" + std::to_string(100 + i % 900);
        monitor::SetKeyProvInfo(
            added,
            i < registrations ? ContainerPath(kReader0, ContainerName('0', '2', '7', '1', salt))
                              : "foreign-" + std::to_string(i),
            "Velkora Base Smart Card Crypto Provider");
        CertFreeCertificateContext(added);
    }
}

// Changes the user hive without touching the stores.
void Touch(int n) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Velkora\\Bench", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &key, nullptr);
    const uint32_t value = static_cast<uint32_t>(n);
    RegSetValueExA(key, "n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

template <typename Step> double MicrosPerCall(int calls, Step step) {
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) {
        step(i);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / calls;
}

} // namespace

int main() {
    pcscsim::ResetAll();
    pcscsim::AddReader(kReader0);
    MonitorEnv env;
    const TestCa ca;
    for (const auto& [registrations, foreign] :
         {std::pair{4, 0}, std::pair{4, 40}, std::pair{40, 100}}) {
        g_CertCollection.Free();
        g_CollectionCount = 0;
        {
            CCert clean;
            clean.RemoveAllPropagated();
        }
        Fill(ca, registrations, foreign);
        CCert poll;
        poll.SyncCollectionWithStore(); // the first rebuild
        const double unchanged = MicrosPerCall(1000, [&](int) { poll.SyncCollectionWithStore(); });
        const double changed = MicrosPerCall(50, [&](int i) {
            Touch(i);
            poll.SyncCollectionWithStore();
        });
        const double touch = MicrosPerCall(50, [&](int i) { Touch(i + 1000); });
        std::printf("MY with %3d registrations + %3d other certificates: sync %8.1f us unchanged, "
                    "%8.1f us after a change (of which %6.1f us the change itself)\n",
                    registrations, foreign, unchanged, changed, touch);
    }
    return 0;
}
