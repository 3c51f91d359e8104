// The TCP input: one thread that accepts connections on the TCP port and reads them all through
// one WSAPoll (no 64-socket limit), frames each connection's bytes into messages and queues them
// on the stream lanes, a lane per connection. When those lanes are full it stops reading the
// connections that have more, so their senders wait instead of losing anything.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "OVSyslog.h"
#include "loop_control.h"
#include "tcp_settings.h"

struct DatagramHandoff;

constexpr std::size_t kTcpReadChunk = 8 * 1024;  // one read per connection per round: fair shares
// A read is made only while the lanes have room for a chunk of frames this small, so that what was
// read is queued at once and, at a stop, hardly anything read is left to queue.
constexpr std::size_t kTcpSmallestFrame = 16;
constexpr std::uint64_t kTcpFramesPerChunk = kTcpReadChunk / kTcpSmallestFrame;
constexpr std::size_t kTcpLongestFrame = 64 * 1024;  // beyond it a frame is cut and counted
constexpr int kTcpIdleRoundMs = 200;                 // how soon a pause or a stop is seen
constexpr int kTcpStalledRoundMs = 20;               // how soon full lanes are tried again
constexpr DWORD kTcpClosedWaitMs = 2500;             // a stop waits this long for every connection closed
// After a stop, what was read and not yet queued is queued for this long at most.
constexpr DWORD kTcpLeftoverMs = 15000;
constexpr unsigned kTcpKeepAliveMs = 60000;  // idle time before the first keep-alive probe
constexpr unsigned kTcpKeepAliveGapMs = 10000;

class TcpListener {
public:
    TcpListener();
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // 0, SYSLOG_E_SOCKET or SYSLOG_E_TCPBIND. Only the low 16 bits of port count.
    int Open(const TcpSettings& settings);
    // Starts the thread that accepts and reads until control asks for a stop; false when none
    // could be started (the port is closed then).
    bool Start(SyslogCallback callback, LoopControl* control);
    // Once control asks for a stop: waits until every connection and the port are closed. What
    // was read is queued behind, by the same thread.
    void Stop();
    bool Running() const { return m_running.load(); }
    // Reads nothing now: a pause holds.
    bool Resting() const { return m_resting.load(); }
    int Port() const { return m_port; }
    // Messages read and not yet queued on the lanes.
    std::uint64_t Held() const { return m_held.load(); }

private:
    struct Connection;
    static unsigned __stdcall ThreadMain(void* self);
    void Run();
    void AcceptAll();
    void Read(Connection& c);
    void Process(Connection& c);
    bool Hand(Connection& c, const char* data, std::size_t size);
    void Close(Connection& c);
    void Sweep();
    void HandOnLeftovers();

    SOCKET m_listen = INVALID_SOCKET;
    int m_port = 0;
    TcpSettings m_settings = {};
    SyslogCallback m_callback = nullptr;
    LoopControl* m_control = nullptr;
    HANDLE m_thread = nullptr;
    HANDLE m_closed = nullptr;  // set once every socket is closed after a stop
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::vector<std::pair<DatagramHandoff*, std::uint64_t>> m_leftovers;  // with their connections
    std::uint64_t m_nextId = 0;
    std::size_t m_rotate = 0;  // where a round's reads begin: the room goes round
    bool m_refusing = false;   // one error-log line per episode of refusals
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_resting{false};
    std::atomic<std::uint64_t> m_held{0};
};
