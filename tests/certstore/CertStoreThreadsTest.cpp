// A monitor-like thread that registers and removes certificates while a
// UI-like thread reads the same store: no failures, no torn entries, and
// contexts handed between the threads stay valid.

#include "tests/certstore/TestCerts.h"
#include "tests/registry/TempHives.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace velktest;

namespace {

TEST(CertStoreThreadsTest, MonitorAndUiThreadsShareTheStores) {
    TempHives hives;
    std::vector<TestCert> certs;
    for (int i = 0; i < 4; ++i) {
        certs.push_back(MakeCert(Cert("Card " + std::to_string(i))));
    }
    constexpr int kRounds = 8;
    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    std::atomic<PCCERT_CONTEXT> handedOver{nullptr};

    std::thread monitor([&] {
        for (int round = 0; round < kRounds; ++round) {
            for (const auto& cert : certs) {
                Context context = CreateContext(cert.der);
                if (!SetKeyLink(context.get(), u"\\\\.\\R\\c0000000-0efd-11dc-8314-0800200c9a66",
                                u"Velkora Base Smart Card Crypto Provider")) {
                    ++failures;
                }
                Store my = OpenUserStore("MY");
                if (!my || !CertAddCertificateContextToStore(
                               my.get(), context.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
                    ++failures;
                }
            }
            // Hand one context to the other thread, which frees it.
            PCCERT_CONTEXT previous = handedOver.exchange(CreateContext(certs[0].der).release());
            CertFreeCertificateContext(previous);
            Store my = OpenUserStore("MY");
            PCCERT_CONTEXT context = nullptr;
            while ((context = CertEnumCertificatesInStore(my.get(), context)) != nullptr) {
                if (!CertDeleteCertificateFromStore(context)) {
                    ++failures;
                }
                context = nullptr;
            }
        }
        done = true;
    });

    std::thread ui([&] {
        uint64_t lastStamp = 0;
        while (!done) {
            uint64_t stamp = 0;
            if (!VelkCertStoreChangeStamp(&stamp)) {
                ++failures;
            }
            if (stamp == lastStamp) {
                continue;
            }
            lastStamp = stamp;
            Store my = OpenUserStore("MY");
            if (!my) {
                ++failures;
                continue;
            }
            if (VelkCertStoreSkippedCount(my.get()) != 0) {
                ++failures; // a half-written entry would show up as damaged
            }
            PCCERT_CONTEXT context = nullptr;
            while ((context = CertEnumCertificatesInStore(my.get(), context)) != nullptr) {
                if (KeyLinkContainer(context).empty()) {
                    ++failures;
                }
            }
            CertFreeCertificateContext(handedOver.exchange(nullptr));
        }
    });
    monitor.join();
    ui.join();
    CertFreeCertificateContext(handedOver.exchange(nullptr));
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(StoreThumbprints("MY").empty());
}

} // namespace
