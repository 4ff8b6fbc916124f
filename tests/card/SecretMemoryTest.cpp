// PIN commands when memory runs out: SCard fails the command instead of
// throwing, and no block with a PIN goes back to the heap unwiped.

#include "tests/card/CardFixture.h"
#include "tests/support/FreedSecretWatch.h"

#include "card/StatusWords.h"

#include <string_view>

using namespace cardtest;

namespace {

// Only the transport's receive buffers are this large.
constexpr std::size_t kLargeAllocation = 65536;

} // namespace

TEST_F(CardTest, ChangeAndUnblockSurviveEveryFailedReceiveBuffer) {
    auto& endpoint = Insert(kAtrTcos30);
    endpoint.Fallback(Hex("90 00"));
    SCard& card = Connect();
    const std::vector<uint8_t> oldPin = Bytes("31415926");
    const std::vector<uint8_t> newPin = Bytes("27182818");
    for (bool change : {true, false}) {
        // Fail the first large allocation, then the second, ... until one
        // run of the command needs none of the failures.
        for (int allowed = 0;; ++allowed) {
            SCOPED_TRACE(testing::Message() << (change ? "change" : "unblock") << ", " << allowed
                                            << " receive buffers allowed");
            ASSERT_LT(allowed, 20);
            PinResult result = scard::kPinFailed;
            uint8_t tries = 0;
            int failed = 0;
            {
                velktest::FreedSecretWatch watch(oldPin, kLargeAllocation, allowed);
                EXPECT_NO_THROW(
                    result = change
                                 ? card.ChangeReferenceData("3f002f02", 0x00, oldPin, newPin, tries)
                                 : card.ResetRetryCounter("3f002f02", 0x01, oldPin, newPin, tries));
                EXPECT_EQ(watch.Hits(), 0);
                failed = watch.FailedAllocations();
            }
            if (failed == 0) {
                EXPECT_EQ(result, scard::kPinOk);
                break;
            }
            EXPECT_EQ(result, scard::kPinFailed);
        }
    }
}
