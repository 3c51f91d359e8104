// What the service tells the error log of datagrams it could not keep.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The library counts dropped datagrams in 32 bits and exports them so; this widens its readings
// into the 64-bit total an operator reads. It is read every tick, far more often than 2^32 drops
// can happen, so what was dropped in between is the difference from the last reading, modulo 2^32.
class CWidenedCount {
public:
    std::uint64_t Observe(unsigned long reading) {
        std::uint32_t now = static_cast<std::uint32_t>(reading);
        m_total += static_cast<std::uint32_t>(now - m_last);
        m_last = now;
        return m_total;
    }

private:
    std::uint32_t m_last = 0;
    std::uint64_t m_total = 0;
};

// One line per overflow episode: an episode lasts while the count of dropped datagrams grows
// from one look to the next, and ends at the first look that finds it unchanged.
class COverflowReport {
public:
    // The datagrams dropped in the episode that has just ended, or 0. With final set, whatever
    // was dropped and not yet told counts as ended.
    std::uint64_t Observe(std::uint64_t dropped, bool final) {
        bool growing = dropped != m_seen;
        m_seen = dropped;
        if (growing && !final) return 0;
        std::uint64_t episode = dropped - m_told;
        m_told = dropped;
        return episode;
    }

private:
    std::uint64_t m_seen = 0;
    std::uint64_t m_told = 0;
};

inline std::string BacklogFullLine(std::uint64_t dropped) {
    char line[96];
    std::snprintf(line, sizeof line, "Syslog backlog full : %llu datagrams dropped !",
                  static_cast<unsigned long long>(dropped));
    return line;
}

inline std::string GivenUpAtStopLine(long left) {
    char line[96];
    std::snprintf(line, sizeof line, "Syslog service stopped : %ld messages not forwarded !", left);
    return line;
}
