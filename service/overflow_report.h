// What the service tells the error log of datagrams it could not keep.
#pragma once

#include <cstdio>
#include <string>

// One line per overflow episode: an episode lasts while the count of dropped datagrams grows
// from one look to the next, and ends at the first look that finds it unchanged.
class COverflowReport {
public:
    // The datagrams dropped in the episode that has just ended, or 0. With final set, whatever
    // was dropped and not yet told counts as ended.
    unsigned long Observe(unsigned long dropped, bool final) {
        bool growing = dropped != m_seen;
        m_seen = dropped;
        if (growing && !final) return 0;
        unsigned long episode = dropped - m_told;
        m_told = dropped;
        return episode;
    }

private:
    unsigned long m_seen = 0;
    unsigned long m_told = 0;
};

inline std::string BacklogFullLine(unsigned long dropped) {
    char line[96];
    std::snprintf(line, sizeof line, "Syslog backlog full : %lu datagrams dropped !", dropped);
    return line;
}

inline std::string GivenUpAtStopLine(long left) {
    char line[96];
    std::snprintf(line, sizeof line, "Syslog service stopped : %ld messages not forwarded !", left);
    return line;
}
