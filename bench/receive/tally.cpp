#include "tally.h"

#include <cstdlib>
#include <cstring>

namespace {

bool ReadField(const char* text, const char* name, std::uint32_t* value) {
    const char* at = std::strstr(text, name);
    if (at == nullptr) return false;
    at += std::strlen(name);
    if (*at < '0' || *at > '9') return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(at, &end, 10);
    *value = static_cast<std::uint32_t>(v);
    return true;
}

}  // namespace

bool ParseSequence(const char* text, std::uint32_t* run, std::uint32_t* seq) {
    return ReadField(text, "run=", run) && ReadField(text, "seq=", seq);
}

// Committed whole at start, so that the process's private bytes do not move with the runs.
Tally::Tally()
    : m_counts(static_cast<std::uint8_t*>(
          VirtualAlloc(nullptr, kMaxSequences, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {}

Tally::~Tally() {
    if (m_counts != nullptr) VirtualFree(m_counts, 0, MEM_RELEASE);
}

bool Tally::Reset(std::uint32_t run, std::uint32_t expected) {
    if (expected > kMaxSequences || m_counts == nullptr) return false;
    InterlockedExchange(&m_run, 0);  // run 0 is never sent: stragglers now count as stale
    std::memset(m_counts, 0, kMaxSequences);
    InterlockedExchange64(&m_received, 0);
    InterlockedExchange64(&m_stale, 0);
    InterlockedExchange64(&m_unparsed, 0);
    InterlockedExchange64(&m_outOfRange, 0);
    InterlockedExchange(&m_expected, static_cast<LONG>(expected));
    InterlockedExchange(&m_run, static_cast<LONG>(run));
    return true;
}

void Tally::Count(const char* text) {
    std::uint32_t run = 0, seq = 0;
    if (!ParseSequence(text, &run, &seq)) {
        InterlockedIncrement64(&m_unparsed);
        return;
    }
    if (run == 0 || static_cast<LONG>(run) != m_run) {
        InterlockedIncrement64(&m_stale);
        return;
    }
    InterlockedIncrement64(&m_received);
    if (seq >= static_cast<std::uint32_t>(m_expected)) {
        InterlockedIncrement64(&m_outOfRange);
        return;
    }
    __atomic_fetch_add(&m_counts[seq], 1, __ATOMIC_RELAXED);
}

TallySummary Tally::Summarize() const {
    TallySummary s = {};
    s.run = static_cast<std::uint32_t>(m_run);
    s.expected = static_cast<std::uint32_t>(m_expected);
    s.received = m_received;
    s.stale = m_stale;
    s.unparsed = m_unparsed;
    s.outOfRange = m_outOfRange;
    for (std::uint32_t i = 0; i < s.expected && m_counts != nullptr; ++i) {
        std::uint8_t c = __atomic_load_n(&m_counts[i], __ATOMIC_RELAXED);
        if (c == 0) {
            ++s.missing;
        } else {
            ++s.unique;
            s.duplicates += c - 1;
        }
    }
    return s;
}
