// Counts received datagrams per sequence number of the current run, so that loss and duplicates
// are exact. Count may run on any number of threads at once; Reset and Summarize run on the
// control thread between runs.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Room for 5x a 26,000/s zero-loss rate over 30 s; a longer run is refused at its reset.
constexpr std::uint32_t kMaxSequences = 4u << 20;

struct TallySummary {
    std::uint32_t run;
    std::uint32_t expected;
    long long received;    // datagrams of this run, duplicates included
    long long unique;      // sequence numbers seen at least once
    long long missing;     // of 0..expected-1, never seen
    long long duplicates;  // copies beyond the first
    long long stale;       // carried another run's number
    long long unparsed;    // carried no run and sequence number
    long long outOfRange;  // sequence number at or above expected
};

class Tally {
public:
    Tally();
    ~Tally();
    bool ready() const { return m_counts != nullptr; }

    // False when expected exceeds kMaxSequences.
    bool Reset(std::uint32_t run, std::uint32_t expected);
    // text is NUL-terminated; it carries "run=R seq=N" somewhere.
    void Count(const char* text);
    TallySummary Summarize() const;

private:
    std::uint8_t* m_counts;  // wraps after 255 copies of one datagram, which no run comes near
    volatile LONG m_run = 0;
    volatile LONG m_expected = 0;
    volatile LONG64 m_received = 0;
    volatile LONG64 m_stale = 0;
    volatile LONG64 m_unparsed = 0;
    volatile LONG64 m_outOfRange = 0;
};

// Reads "run=R seq=N" out of a datagram's text; false when either is missing.
bool ParseSequence(const char* text, std::uint32_t* run, std::uint32_t* seq);
