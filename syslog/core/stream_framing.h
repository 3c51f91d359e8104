// Cuts a syslog byte stream into messages, frame by frame, as senders frame them over TCP: a
// frame that starts with a digit is octet-counted ("LEN SP MSG"); any other runs to LF (a CR
// before it dropped) or to NUL. Portable C++: the listener feeds it what each read returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class StreamFramer {
public:
    enum class Event {
        NeedMore,   // every byte given was taken; no message ends in them
        Message,    // a message is whole: Message(), Cut()
        BadLength,  // a length field that is no number: the stream cannot be followed further
    };

    // keep: the most of one message handed on; longest: a frame beyond it is cut and counted.
    explicit StreamFramer(std::size_t keep = 4096, std::size_t longest = 64 * 1024);

    // Takes bytes from data[0, size) up to the end of at most one message; *used says how many.
    // Call again with the rest after a Message. After BadLength nothing more is taken.
    Event Next(const char* data, std::size_t size, std::size_t* used);
    // At the end of the stream: Message when an unterminated line was waiting (a sender may
    // leave the last delimiter out), else NeedMore. A frame its length said is longer is
    // incomplete and dropped (Truncated() tells).
    Event Finish();

    // The message of the last Message event, up to keep bytes; valid until the next call.
    const char* Message() const { return m_message.data(); }
    std::size_t Size() const { return m_message.size(); }
    // The last message's frame was longer than longest (or said so): it was cut to keep bytes.
    bool Cut() const { return m_cut; }
    // Finish found a frame that its own length field said was longer than what came.
    bool Truncated() const { return m_truncated; }
    // Somewhere inside a frame: a stream that ends now ends a message early.
    bool InFrame() const { return m_state != State::Start; }

private:
    enum class State { Start, Length, Counted, Line, Broken };

    Event Emit(State next);
    void Keep(const char* data, std::size_t size);

    const std::size_t m_keep;
    const std::size_t m_longest;
    State m_state = State::Start;
    std::vector<char> m_message;
    std::uint64_t m_length = 0;  // of the counted frame; saturates rather than wraps
    std::uint64_t m_seen = 0;    // bytes of the current frame so far
    int m_digits = 0;
    bool m_cut = false;
    bool m_truncated = false;
    bool m_emitted = false;  // the current frame's kept part went out already
};
