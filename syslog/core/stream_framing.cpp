#include "stream_framing.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Twenty digits already pass what 64 bits hold: such a field is no length.
constexpr int kMostLengthDigits = 20;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

StreamFramer::StreamFramer(std::size_t keep, std::size_t longest) : m_keep(keep), m_longest(longest) {
    m_message.reserve(keep);
}

void StreamFramer::Keep(const char* data, std::size_t size) {
    std::size_t room = m_keep - std::min(m_keep, m_message.size());
    m_message.insert(m_message.end(), data, data + std::min(room, size));
}

StreamFramer::Event StreamFramer::Emit(State next) {
    m_state = next;
    m_emitted = true;
    return Event::Message;
}

StreamFramer::Event StreamFramer::Next(const char* data, std::size_t size, std::size_t* used) {
    std::size_t at = 0;
    Event event = Event::NeedMore;
    while (at < size && event == Event::NeedMore) {
        char c = data[at];
        switch (m_state) {
        case State::Start:
            m_message.clear();
            m_cut = m_emitted = false;
            m_seen = 0;
            if (IsDigit(c)) {
                m_length = static_cast<std::uint64_t>(c - '0');
                m_digits = 1;
                m_state = State::Length;
                ++at;
            } else if (c == '\n' || c == '\0') {
                ++at;  // an empty frame: nothing to hand on
            } else {
                m_state = State::Line;
            }
            break;
        case State::Length:
            if (c == ' ') {
                ++at;
                m_state = m_length == 0 ? State::Start : State::Counted;
                m_cut = m_length > m_longest;
            } else if (IsDigit(c) && m_digits < kMostLengthDigits) {
                std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
                constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
                m_length = m_length > (most - digit) / 10 ? most : m_length * 10 + digit;
                ++m_digits;
                ++at;
            } else {
                m_state = State::Broken;
                event = Event::BadLength;
            }
            break;
        case State::Counted: {
            std::uint64_t left = m_length - m_seen;
            std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left, size - at));
            if (!m_emitted) Keep(data + at, take);
            at += take;
            m_seen += take;
            if (m_seen == m_length) {
                if (m_emitted)
                    m_state = State::Start;
                else
                    event = Emit(State::Start);
            } else if (m_cut && !m_emitted && m_message.size() == m_keep) {
                // Hand on what the record holds now rather than wait for a frame that may never end.
                event = Emit(State::Counted);
            }
            break;
        }
        case State::Line: {
            const char* start = data + at;
            std::size_t span = size - at;
            const char* lf = static_cast<const char*>(std::memchr(start, '\n', span));
            const char* nul = static_cast<const char*>(std::memchr(start, '\0', lf ? lf - start : span));
            const char* end = nul ? nul : lf;
            std::size_t take = end ? static_cast<std::size_t>(end - start) : span;
            if (!m_emitted) Keep(start, take);
            m_seen += take;
            at += take;
            if (m_seen > m_longest && !m_emitted) {
                m_cut = true;
                event = Emit(State::Line);
            }
            if (end != nullptr) {
                ++at;  // the delimiter
                if (m_emitted) {
                    m_state = State::Start;
                } else {
                    if (m_message.size() == m_seen && !m_message.empty() && m_message.back() == '\r')
                        m_message.pop_back();
                    if (m_message.empty())
                        m_state = State::Start;
                    else
                        event = Emit(State::Start);
                }
            }
            break;
        }
        case State::Broken:
            *used = at;
            return Event::BadLength;
        }
    }
    *used = at;
    return event;
}

StreamFramer::Event StreamFramer::Finish() {
    State state = m_state;
    m_state = State::Start;
    m_truncated = false;
    if (state == State::Line && !m_emitted) {
        if (m_message.size() == m_seen && !m_message.empty() && m_message.back() == '\r')
            m_message.pop_back();
        if (!m_message.empty()) {
            m_emitted = true;
            return Event::Message;
        }
    }
    m_truncated = (state == State::Counted && !m_emitted) || state == State::Length;
    return Event::NeedMore;
}
