// Turns per sender, driven directly: a sender waits only for its own earlier datagrams.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "turns.h"

namespace {

constexpr std::uint32_t kSenderA = 0x0100007F, kSenderB = 0x0200007F;


// Issues and records tickets as the loop does, in arrival order.
turns::Ticket Queue(LONG position, std::uint32_t sender) {
    turns::Ticket ticket = turns::Issue(position, sender);
    turns::Record(ticket, sender);
    return ticket;
}

bool Within(const std::atomic<bool>& flag, DWORD ms) {
    DWORD start = GetTickCount();
    while (!flag && GetTickCount() - start < ms) Sleep(5);
    return flag;
}

TEST(Turns, ASenderWaitsOnlyForItsOwnEarlierDatagrams) {
    turns::Ticket a1 = Queue(0, kSenderA), a2 = Queue(1, kSenderA), b1 = Queue(2, kSenderB);
    EXPECT_FALSE(a1.hasPredecessor);
    EXPECT_TRUE(a2.hasPredecessor);
    EXPECT_EQ(a2.predecessor, 0);
    EXPECT_FALSE(b1.hasPredecessor) << "another sender has no predecessor here";

    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> a1Held{false}, a2In{false}, b1In{false};
    std::thread first([&] {
        turns::Begin(a1);
        turns::Wait();
        a1Held = true;
        WaitForSingleObject(release, 10000);
        turns::Pass();
    });
    ASSERT_TRUE(Within(a1Held, 5000));
    std::thread second([&] {
        turns::Begin(a2);
        turns::Wait();
        a2In = true;
        turns::Finish();
    });
    std::thread other([&] {
        turns::Begin(b1);
        turns::Wait();
        b1In = true;
        turns::Pass();
    });
    EXPECT_TRUE(Within(b1In, 5000)) << "the other sender must not wait";
    EXPECT_FALSE(Within(a2In, 300)) << "the same sender's next datagram must wait";
    SetEvent(release);
    EXPECT_TRUE(Within(a2In, 5000)) << "and go on once its predecessor has passed";
    first.join();
    second.join();
    other.join();
    CloseHandle(release);
}

// A callback that never waits nor passes has its turn passed for it; one that does nothing
// outside a datagram thread is harmless.
TEST(Turns, FinishPassesATurnLeftUntouched) {
    turns::Wait();
    turns::Pass();  // no ticket on this thread: nothing happens
    turns::Ticket c1 = Queue(10, 0x0300007F), c2 = Queue(11, 0x0300007F);
    std::thread([&] {
        turns::Begin(c1);
        turns::Finish();
    }).join();
    std::atomic<bool> in{false};
    std::thread next([&] {
        turns::Begin(c2);
        turns::Wait();
        in = true;
        turns::Pass();
    });
    EXPECT_TRUE(Within(in, 5000));
    next.join();
}

}  // namespace
