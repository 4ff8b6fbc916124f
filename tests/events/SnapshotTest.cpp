// Snapshots: owned names that survive copies and moves, the comparison
// rules, and snapshots taken with a reader count that does not match the
// reader list.

#include "monitor/events/CCardOSEvents.h"
#include "monitor/events/MonitorState.h"
#include "pcscsim/SimControl.h"
#include "tests/events/EventsWorld.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

using namespace evtest;

namespace {

// Short names live inside the string object itself, long ones on the heap:
// both kinds have to stay reachable from the records.
const std::vector<std::string> kNames = {"A", std::string(80, 'r') + " 00 00", "Reader C"};

void ExpectNamesIntact(const CSnapshot& snapshot, std::size_t count) {
    ASSERT_EQ(snapshot.Size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_NE(snapshot[i].szReader, nullptr);
        EXPECT_STREQ(snapshot[i].szReader, kNames[i].c_str());
    }
}

TEST(Snapshot, NamesStayWithTheirRecordsThroughCopiesAndMoves) {
    CSnapshot a(kNames, 3);
    ExpectNamesIntact(a, 3);
    EXPECT_EQ(a[1].dwEventState, 0u);
    EXPECT_EQ(a[1].cbAtr, 0u);

    CSnapshot copied(a);
    CSnapshot moved(std::move(a));
    ExpectNamesIntact(copied, 3);
    ExpectNamesIntact(moved, 3);
    EXPECT_NE(copied[0].szReader, moved[0].szReader); // each has its own names
    EXPECT_TRUE(a.Empty());                           // NOLINT: moved-from is empty

    CSnapshot assigned;
    assigned = copied;
    copied = CSnapshot(); // the source going away leaves the copy intact
    ExpectNamesIntact(assigned, 3);
    std::optional<CSnapshot> stored;
    stored = std::move(assigned);
    ExpectNamesIntact(*stored, 3);
    ExpectNamesIntact(stored->Prefix(2), 2);
    ExpectNamesIntact(stored->Prefix(9), 3);

    // Fewer names than asked for: only as many records as names.
    ExpectNamesIntact(CSnapshot(kNames, 7), 3);
    ExpectNamesIntact(CSnapshot(kNames, 1), 1);
}

TEST(Snapshot, ComparisonLooksAtPresenceStatesUserDataAndAtrLength) {
    const std::lock_guard lock(MonitorMutex());
    g_ReaderCount = 2;
    CSnapshot a(kNames, 2);
    a[0].dwEventState = SCARD_STATE_PRESENT | SCARD_STATE_CHANGED | (3u << 16);
    a[0].cbAtr = 24;
    a[1].dwEventState = SCARD_STATE_EMPTY | (1u << 16);
    const CSnapshot same(a);

    EXPECT_FALSE(CCardOSEvents::SnapshotsEqual(nullptr, &a));
    EXPECT_FALSE(CCardOSEvents::SnapshotsEqual(&a, nullptr));
    EXPECT_TRUE(CCardOSEvents::SnapshotsEqual(&a, &same));

    struct Change {
        const char* what;
        void (*apply)(CSnapshot&);
        bool equal;
    };
    const Change changes[] = {
        {"event counter only", [](CSnapshot& s) { s[0].dwEventState += 1u << 16; }, true},
        {"in use by another process", [](CSnapshot& s) { s[0].dwEventState |= SCARD_STATE_INUSE; },
         true},
        {"ATR bytes only", [](CSnapshot& s) { s[0].rgbAtr[3] = 0x42; }, true},
        {"card pulled", [](CSnapshot& s) { s[0].dwEventState = SCARD_STATE_EMPTY | (4u << 16); },
         false},
        {"card put in", [](CSnapshot& s) { s[1].dwEventState = SCARD_STATE_PRESENT | (2u << 16); },
         false},
        {"ATR length", [](CSnapshot& s) { s[0].cbAtr = 23; }, false},
        {"current state", [](CSnapshot& s) { s[1].dwCurrentState = SCARD_STATE_EMPTY; }, false},
        {"user data", [](CSnapshot& s) { s[1].pvUserData = &s; }, false},
        {"one reader more", [](CSnapshot& s) { s = CSnapshot(kNames, 3); }, false},
    };
    for (const auto& change : changes) {
        CSnapshot b(a);
        change.apply(b);
        EXPECT_EQ(CCardOSEvents::SnapshotsEqual(&a, &b), change.equal) << change.what;
        EXPECT_EQ(CCardOSEvents::SnapshotsEqual(&b, &a), change.equal) << change.what;
    }
    g_ReaderCount = 0;
}

TEST(Snapshot, TakenForTheCountedReadersOnly) {
    EventsWorld world;
    pcscsim::AddReader(kReaderA);
    pcscsim::AddReader(kReaderB);
    ASSERT_TRUE(world.InsertForeign(kReaderB));
    const std::vector<std::string> readers = {kReaderA, kReaderB};
    {
        const std::lock_guard lock(MonitorMutex());
        CSnapshot snapshot;
        g_ReaderCount = 2;
        ASSERT_EQ(CCardOSEvents::BuildSnapshot(world.Context(), readers, snapshot),
                  SCARD_S_SUCCESS);
        ASSERT_EQ(snapshot.Size(), 2u);
        EXPECT_TRUE(IsReaderEmpty(snapshot[0]));
        EXPECT_TRUE(IsCardPresent(snapshot[1]));
        EXPECT_EQ(snapshot[1].cbAtr, 4u);
        EXPECT_EQ(snapshot[1].dwCurrentState, 0u);

        // A count above the list (a reader went since it was counted).
        g_ReaderCount = 5;
        ASSERT_EQ(CCardOSEvents::BuildSnapshot(world.Context(), readers, snapshot),
                  SCARD_S_SUCCESS);
        EXPECT_EQ(snapshot.Size(), 2u);
        g_ReaderCount = 1;
        ASSERT_EQ(CCardOSEvents::BuildSnapshot(world.Context(), readers, snapshot),
                  SCARD_S_SUCCESS);
        EXPECT_EQ(snapshot.Size(), 1u);
        // None counted: nothing to ask, and no wait for a reader.
        g_ReaderCount = 0;
        ASSERT_EQ(CCardOSEvents::BuildSnapshot(world.Context(), readers, snapshot),
                  SCARD_S_SUCCESS);
        EXPECT_TRUE(snapshot.Empty());

        g_ReaderCount = 2;
        pcscsim::FailNext(pcscsim::Call::GetStatusChange, 1, SCARD_E_NO_SERVICE);
        EXPECT_EQ(CCardOSEvents::BuildSnapshot(world.Context(), readers, snapshot),
                  SCARD_E_NO_SERVICE);

        CCardOSEvents::CopySnapshot(g_ReaderStates, CSnapshot(readers, 2));
    }
    // Update forgets what the snapshot knew.
    CCardOSEvents::RequestRescan();
    const std::lock_guard lock(MonitorMutex());
    EXPECT_EQ(g_ReaderCount, 0u);
    EXPECT_EQ(g_RescanPending, 1u);
    ASSERT_TRUE(g_ReaderStates);
    ASSERT_EQ(g_ReaderStates->Size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& r = (*g_ReaderStates)[i];
        EXPECT_STREQ(r.szReader, readers[i].c_str());
        EXPECT_EQ(r.dwEventState, static_cast<DWORD>(SCARD_STATE_EMPTY));
        EXPECT_EQ(r.cbAtr, static_cast<DWORD>(MAX_ATR_SIZE));
    }
}

} // namespace
