// The certificate list under the two threads that use it: the monitor
// thread registering and removing cards, the user-interface thread reading
// rows, the tray's question and the dialog's lookups at the same time.

#include "monitor/CCert.h"
#include "monitor/CardUtils.h"
#include "monitor/CertCollection.h"
#include "pcscsim/SimControl.h"
#include "tests/monitor/MonitorEnv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace montest;

namespace {

TEST(CollectionThreads, ReadersNeverSeeAHalfChangedList) {
    pcscsim::ResetAll();
    pcscsim::AddReader(kReader0);
    pcscsim::AddReader(kReader1);
    MonitorEnv env;
    const TestCa ca;
    env.PutContainer(kReader0, ContainerName('0', ReaderDigit(0, 2), '7', '1', "aaaa"),
                     ca.Issue({{{"CN", "Reader Zero"}}, {0x01}}));
    env.PutContainer(kReader0, ContainerName('0', ReaderDigit(0, 2), '7', '2', "bbbb"),
                     ca.Issue({{{"CN", "Reader Zero"}}, {0x02}}));
    env.PutContainer(kReader1, ContainerName('0', ReaderDigit(1, 2), '7', '1', "cccc"),
                     ca.Issue({{{"CN", "Reader One"}}, {0x03}}));
    const Record card0(kReader0, AtrOf("Velkora MD - TCOS 3.0"));
    const Record card1(kReader1, AtrOf("Velkora MD - TCOS 3.0"));
    const Record empty0(kReader0, {});

    std::atomic<int> notified{0};
    SetCollectionChangedHandler([&] { ++notified; });

    std::atomic<bool> done{false};
    std::thread monitor([&] {
        CCert start;
        start.AddReaderCertificates(card1.Get());
        for (int i = 0; i < 15; ++i) {
            CCert poll;
            poll.AddReaderCertificates(card0.Get());
            poll.SyncCollectionWithStore();
            poll.RemoveReaderCertificates(empty0.Get());
            poll.SyncCollectionWithStore();
        }
        done = true;
    });

    int reads = 0;
    while (!done) {
        // Whatever moment the rows come from, they are whole: reader 1's
        // card is always there, reader 0's entries come and go together.
        const auto rows = g_CertCollection.Rows();
        int zero = 0;
        int one = 0;
        for (const auto& row : rows) {
            ASSERT_NE(row.entry, nullptr);
            zero += row.subject == "Reader Zero";
            one += row.subject == "Reader One";
            EXPECT_EQ(row.containerType, 7);
        }
        EXPECT_LE(one, 1);
        EXPECT_LE(zero, 2);
        (void)g_CertCollection.HasEntries();
        std::string reader;
        for (const auto& entry : g_CertCollection.Entries()) {
            ReaderForContainer(entry->GetContainerName(), reader);
        }
        ++reads;
    }
    monitor.join();
    SetCollectionChangedHandler({});

    EXPECT_GT(reads, 0);
    EXPECT_GT(notified.load(), 0);
    // In the end only reader 1's card is registered, in the store and the list.
    EXPECT_EQ(MonitorEnv::Store("MY").size(), 1u);
    CCert last;
    last.SyncCollectionWithStore();
    ASSERT_EQ(g_CertCollection.Size(), 1u);
    EXPECT_EQ(g_CertCollection.Entries()[0]->GetSubjectName(), "Reader One");
}

} // namespace
