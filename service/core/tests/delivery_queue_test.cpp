// Records waiting out their retries beside their senders' other destinations.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "delivery_queue.h"
#include "fake_suite.h"
#include "ovtest/wait_until.h"
#include "store_forward.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace fake_suite;

namespace {

// One message: a record for each destination, in that order.
std::vector<OutgoingRecord> Message(int sender, int seq, const std::vector<std::string>& destinations) {
    std::vector<OutgoingRecord> records;
    for (const std::string& d : destinations) records.push_back({d, Record(sender, seq)});
    return records;
}

using DeliveryQueue = SpoolFolderTest;

TEST_F(DeliveryQueue, ARefusingServerHoldsNeitherItsSenderNorTheOtherServer) {
    constexpr int kMessages = 21;
    FakeSuite suite(Spool());
    suite.retryWaitMs = 2000;  // ten attempts would take 20 s
    CStoreAndForward forward(suite, SpoolLimits{}, Fast());
    CDeliveryQueue queue(forward, suite);
    forward.Start();
    suite.Refuse("nms", true);
    for (int i = 0; i < kMessages; ++i) {
        EXPECT_FALSE(queue.Deliver(Message(0, i, {"local", "nms"})));
        // Delivered in the sender's turn, not after the refused record's retries.
        ASSERT_EQ(suite.Got("local").size(), static_cast<std::size_t>(i + 1));
    }
    EXPECT_LT(suite.Calls("nms"), kDirectAttempts) << "the first refused record is still in its retries";
    EXPECT_EQ(queue.Waiting(), static_cast<std::uint64_t>(kMessages));

    suite.Refuse("nms", false);
    ASSERT_TRUE(suite.WaitFor("nms", kMessages));
    ASSERT_TRUE(ovtest::WaitUntil([&] { return queue.Waiting() == 0; }, 20s));
    ExpectEachSenderInOrder(suite.Got("nms"), 1, kMessages);
    ExpectEachSenderInOrder(suite.Got("local"), 1, kMessages);
    EXPECT_EQ(forward.Counters().forwarded, 2u * kMessages) << "no record went through the spool";
    EXPECT_TRUE(queue.Stop(5000));
    EXPECT_TRUE(forward.Stop(5000));
}

// Every record reaches every destination once, each sender's in order; and within a message a
// record is tried only after the one before it was accepted or had all its attempts.
TEST_F(DeliveryQueue, OrderHoldsPerServerAndWithinAMessageWhateverRefuses) {
    const std::vector<std::string> kDestinations = {"local", "a", "b"};
    constexpr int kSenders = 3, kEach = 40;
    struct Case {
        const char* name;
        std::map<std::string, int> refusals;  // the first calls refused, per destination
    };
    const Case cases[] = {
        {"none", {}},
        {"the local server a few times", {{"local", 4}}},
        {"a listed server a few times", {{"a", 4}}},
        {"the last server, past its attempts", {{"b", 25}}},
        {"the local server, past its attempts", {{"local", 25}}},
        {"every server", {{"local", 3}, {"a", 8}, {"b", 12}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Spool());
        FakeSuite suite(Spool());
        CStoreAndForward forward(suite, SpoolLimits{}, Fast());
        CDeliveryQueue queue(forward, suite);
        forward.Start();
        for (const auto& r : c.refusals) suite.RefuseNext(r.first, r.second);
        std::vector<std::thread> senders;
        for (int s = 0; s < kSenders; ++s)
            senders.emplace_back([&, s] {
                for (int i = 0; i < kEach; ++i) queue.Deliver(Message(s, i, kDestinations));
            });
        for (std::thread& t : senders) t.join();
        for (const std::string& d : kDestinations) ASSERT_TRUE(suite.WaitFor(d, kSenders * kEach)) << d;
        ASSERT_TRUE(queue.Stop(5000));
        ASSERT_TRUE(forward.Stop(5000));

        for (const std::string& d : kDestinations) ExpectEachSenderInOrder(suite.Got(d), kSenders, kEach);
        // Per message and destination: where its first call fell in the log, and where it was
        // done with (accepted, or refused for the last direct time).
        std::map<std::tuple<int, int, std::string>, std::pair<std::size_t, std::size_t>> span;
        std::map<std::tuple<int, int, std::string>, int> calls;
        const std::vector<FakeSuite::Call> log = suite.Log();
        for (std::size_t at = 0; at < log.size(); ++at) {
            auto key = std::make_tuple(log[at].sender, log[at].seq, log[at].destination);
            int n = ++calls[key];
            if (n == 1) span[key] = {at, SIZE_MAX};
            if ((log[at].accepted || n == kDirectAttempts) && span[key].second == SIZE_MAX)
                span[key].second = at;
        }
        for (int s = 0; s < kSenders; ++s)
            for (int i = 0; i < kEach; ++i)
                for (std::size_t k = 1; k < kDestinations.size(); ++k) {
                    // A record spooled behind others makes no call the log could show.
                    auto r = c.refusals.find(kDestinations[k - 1]);
                    if (r != c.refusals.end() && r->second >= kDirectAttempts) continue;
                    auto before = span[std::make_tuple(s, i, kDestinations[k - 1])];
                    auto after = span[std::make_tuple(s, i, kDestinations[k])];
                    ASSERT_LT(before.second, after.first)
                        << "sender " << s << " message " << i << ": " << kDestinations[k] << " before "
                        << kDestinations[k - 1] << " was done with";
                }
    }
}

TEST_F(DeliveryQueue, AStopSpoolsWhatWaitsAtOnceAndLosesNothing) {
    constexpr int kMessages = 30;
    FakeSuite suite(Spool());
    suite.retryWaitMs = 60000;
    CStoreAndForward forward(suite, SpoolLimits{}, Fast());
    CDeliveryQueue queue(forward, suite);
    forward.Start();
    suite.Refuse("a", true);
    for (int i = 0; i < kMessages; ++i) queue.Deliver(Message(i % 3, i / 3, {"local", "a"}));
    ASSERT_EQ(queue.Waiting(), static_cast<std::uint64_t>(kMessages));

    forward.Stopping();
    queue.Stopping();
    // Well within one retry wait: the stop ends the waits.
    EXPECT_TRUE(queue.Stop(20000));
    EXPECT_EQ(queue.Waiting(), 0u);
    EXPECT_TRUE(forward.Stop(5000));
    ForwardCounters c = forward.Counters();
    EXPECT_EQ(c.spooled, static_cast<std::uint64_t>(kMessages));
    EXPECT_EQ(c.forwarded, static_cast<std::uint64_t>(kMessages)) << "the local records";
    EXPECT_EQ(c.givenUp + c.spoolFull, 0u);
    // Three records waited, one per sender: each had one more attempt, the rest went behind them
    // into the spool without a call.
    EXPECT_LE(suite.Calls("a"), 2 * 3);
}

TEST_F(DeliveryQueue, ASendersTurnWaitsForRoomRatherThanTheQueueGrowing) {
    constexpr int kRecords = 10;
    FakeSuite suite(Spool());
    suite.retryWaitMs = 60000;
    CStoreAndForward forward(suite, SpoolLimits{}, Fast());
    DeliveryQueueLimits limits;
    limits.records = 4;
    CDeliveryQueue queue(forward, suite, limits);
    forward.Start();
    suite.Refuse("a", true);
    std::atomic<bool> stopping{false}, doneBeforeStop{false};
    std::thread sender([&] {
        for (int i = 0; i < kRecords; ++i) queue.Deliver(Message(0, i, {"a"}));
        doneBeforeStop = !stopping;
    });
    ASSERT_TRUE(ovtest::WaitUntil([&] { return queue.Waiting() >= limits.records; }, 20s));
    EXPECT_EQ(queue.Waiting(), limits.records);
    stopping = true;
    forward.Stopping();
    queue.Stopping();
    sender.join();
    EXPECT_FALSE(doneBeforeStop) << "the sender went on past the bound";
    ASSERT_TRUE(queue.Stop(20000));
    ASSERT_TRUE(forward.Stop(5000));
    EXPECT_EQ(forward.Counters().spooled, static_cast<std::uint64_t>(kRecords)) << "kept, in the spool";
}

}  // namespace
