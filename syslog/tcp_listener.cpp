#include "tcp_listener.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <process.h>

#include <algorithm>
#include <cstdio>

#include "datagram_handoff.h"
#include "datagram_threads.h"
#include "receive_loop.h"
#include "sender_address.h"
#include "stream_framing.h"
#include "udp_socket.h"

namespace {

std::atomic<std::uint64_t> g_connections{0};
std::atomic<std::uint64_t> g_accepted{0};
std::atomic<std::uint64_t> g_refused{0};
std::atomic<std::uint64_t> g_framingErrors{0};
std::atomic<std::uint64_t> g_bytes{0};
std::atomic<std::uint64_t> g_heldPeak{0};

void RaisePeak(std::uint64_t held) {
    for (std::uint64_t peak = g_heldPeak.load();
         held > peak && !g_heldPeak.compare_exchange_weak(peak, held);) {
    }
}

void SetNonBlocking(SOCKET s) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}

// A peer that vanished without a word is found by the keep-alive, not only by the idle limit.
void KeepAlive(SOCKET s) {
    BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    tcp_keepalive values = {1, kTcpKeepAliveMs, kTcpKeepAliveGapMs};
    DWORD returned = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
}

ULONGLONG Now() { return GetTickCount64(); }

bool RoomForAChunk() { return PendingStreamMessages() + kTcpFramesPerChunk <= kStreamBacklogMaxCount; }

}  // namespace

struct TcpListener::Connection {
    SOCKET socket = INVALID_SOCKET;
    std::uint64_t id = 0;
    SenderAddress peer = {};
    std::uint16_t peerPort = 0;
    char peerText[kSenderTextSize] = "";
    StreamFramer framer{static_cast<std::size_t>(kDatagramCapacity), kTcpLongestFrame};
    std::unique_ptr<char[]> buffer{new char[kTcpReadChunk]};
    std::size_t begin = 0;  // bytes read and not yet framed: buffer[begin, end)
    std::size_t end = 0;
    DatagramHandoff* stalled = nullptr;  // a message the full lanes did not take yet
    bool ended = false;                  // the peer finished sending
    bool closed = false;
    ULONGLONG lastMessage = 0;  // the idle limit runs from here
};

TcpListener::TcpListener() = default;

TcpListener::~TcpListener() = default;

int TcpListener::Open(const TcpSettings& settings) {
    m_settings = settings;
    int family = AF_INET;
    m_listen = DualStackSocket(SOCK_STREAM, &family);
    if (m_listen == INVALID_SOCKET) return SYSLOG_E_SOCKET;
    // Without it a port left in TIME_WAIT by the last run could not be bound again at once.
    m_port = BindWildcard(m_listen, family, settings.port);
    if (m_port == 0 || listen(m_listen, SOMAXCONN) == SOCKET_ERROR) {
        closesocket(m_listen);
        m_listen = INVALID_SOCKET;
        m_port = 0;
        return SYSLOG_E_TCPBIND;
    }
    SetNonBlocking(m_listen);
    return 0;
}

bool TcpListener::Start(SyslogCallback callback, LoopControl* control) {
    // The last run's thread may still be queueing what it read; it ends within its bound.
    if (m_thread != nullptr) {
        WaitForSingleObject(m_thread, kTcpLeftoverMs + kTcpClosedWaitMs);
        CloseHandle(m_thread);
        m_thread = nullptr;
    }
    if (m_closed == nullptr) m_closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(m_closed);
    m_callback = callback;
    m_control = control;
    m_running = true;
    OpenStreamThreads();
    m_thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ThreadMain, this, 0, nullptr));
    if (m_thread == nullptr || m_closed == nullptr) {
        m_running = false;
        closesocket(m_listen);
        m_listen = INVALID_SOCKET;
        m_port = 0;
        CloseStreamThreads();
        return false;
    }
    return true;
}

void TcpListener::Stop() {
    if (m_thread == nullptr) return;
    WaitForSingleObject(m_closed, kTcpClosedWaitMs);
}

unsigned __stdcall TcpListener::ThreadMain(void* self) {
    static_cast<TcpListener*>(self)->Run();
    return 0;
}

void TcpListener::Run() {
    std::vector<WSAPOLLFD> polled;
    std::vector<Connection*> owners;  // of polled[1..]
    while (!m_control->StopRequested()) {
        bool pause = m_control->PauseRequested();
        m_resting = pause;
        ULONGLONG now = Now();
        bool stalled = false;
        bool room = RoomForAChunk();
        polled.clear();
        owners.clear();
        if (!pause) polled.push_back({m_listen, POLLRDNORM, 0});
        for (auto& c : m_connections) {
            if (pause) c->lastMessage = now;  // a pause is no sender's idleness
            Process(*c);
            if (c->closed) continue;
            if (c->stalled != nullptr) {
                stalled = true;
            } else if (now > c->lastMessage &&
                       now - c->lastMessage > static_cast<ULONGLONG>(m_settings.idleSeconds) * 1000) {
                Close(*c);
            } else if (!pause && room && c->begin == c->end && !c->ended) {
                polled.push_back({c->socket, POLLRDNORM, 0});
                owners.push_back(c.get());
            }
        }
        Sweep();
        std::uint64_t held = 0;
        for (auto& c : m_connections) held += c->stalled != nullptr;
        m_held = held;
        RaisePeak(held + PendingStreamMessages());

        int wait = stalled || !room ? kTcpStalledRoundMs : kTcpIdleRoundMs;
        if (polled.empty()) {
            Sleep(static_cast<DWORD>(wait));
            continue;
        }
        int ready = WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), wait);
        if (ready == SOCKET_ERROR) Sleep(static_cast<DWORD>(wait));  // never a busy loop on a failing poll
        if (ready <= 0) continue;
        std::size_t first = pause ? 0 : 1;
        if (!pause && polled[0].revents != 0) AcceptAll();
        // Each connection gets one read a round, while there is room; who reads first goes round,
        // so that when room is short no connection is left out for long.
        for (std::size_t k = 0; k < owners.size(); ++k) {
            std::size_t i = (m_rotate + k) % owners.size();
            if (polled[first + i].revents == 0) continue;
            if (!RoomForAChunk()) break;
            Read(*owners[i]);
            if (owners[i]->stalled != nullptr) break;
        }
        ++m_rotate;
    }

    // A stop: what was read is framed and queued, every socket closed, and the rest queued behind.
    m_resting = false;
    for (auto& c : m_connections) {
        Process(*c);
        if (c->stalled != nullptr) m_leftovers.emplace_back(c->stalled, c->id);
        c->stalled = nullptr;
        // Framed but not queued: what the buffer still holds behind a stalled message.
        while (c->begin < c->end && !c->closed) {
            std::size_t used = 0;
            StreamFramer::Event e = c->framer.Next(c->buffer.get() + c->begin, c->end - c->begin, &used);
            c->begin += used;
            if (e == StreamFramer::Event::BadLength) break;
            if (e == StreamFramer::Event::Message) {
                DatagramHandoff* h = NewHandoff(m_callback, c->framer.Message(),
                                                static_cast<int>(c->framer.Size()), c->peer, c->peerPort);
                if (h != nullptr) m_leftovers.emplace_back(h, c->id);
            }
        }
        if (!c->closed) Close(*c);
    }
    m_held = m_leftovers.size();
    Sweep();
    closesocket(m_listen);
    m_listen = INVALID_SOCKET;
    m_port = 0;
    m_running = false;
    SetEvent(m_closed);
    HandOnLeftovers();
    CloseStreamThreads();
}

// Leftovers are queued in their connections' order; past the bound they are given up.
void TcpListener::HandOnLeftovers() {
    ULONGLONG start = Now();
    std::size_t next = 0;
    while (next < m_leftovers.size() && Now() - start < kTcpLeftoverMs) {
        if (QueueStreamMessage(m_leftovers[next].first, m_leftovers[next].second)) {
            ++next;
            m_held = m_leftovers.size() - next;
        } else {
            Sleep(kTcpStalledRoundMs);
        }
    }
    for (std::size_t i = next; i < m_leftovers.size(); ++i) FreeHandoff(m_leftovers[i].first);
    m_leftovers.clear();
    m_held = 0;
}

void TcpListener::AcceptAll() {
    for (;;) {
        sockaddr_storage from = {};
        int length = sizeof from;
        SOCKET s = ::accept(m_listen, reinterpret_cast<sockaddr*>(&from), &length);
        if (s == INVALID_SOCKET) return;
        if (m_connections.size() >= m_settings.maxConnections) {
            closesocket(s);
            ++g_refused;
            if (!m_refusing) {
                m_refusing = true;
                char line[128];
                std::snprintf(line, sizeof line,
                              "Syslog TCP : %u connections open, new connections refused !",
                              m_settings.maxConnections);
                WriteTcpLog(line);
            }
            continue;
        }
        SetNonBlocking(s);
        KeepAlive(s);
        auto c = std::make_unique<Connection>();
        c->socket = s;
        c->id = ++m_nextId;
        c->peer = FromSockaddr(from);
        c->peerPort = ntohs(reinterpret_cast<const sockaddr_in*>(&from)->sin_port);
        FormatSender(c->peer, c->peerText, sizeof c->peerText);
        c->lastMessage = Now();
        m_connections.push_back(std::move(c));
        ++g_accepted;
        ++g_connections;
    }
}

// The one place bytes come from the socket: a stream layer (TLS) would sit here.
void TcpListener::Read(Connection& c) {
    int n = recv(c.socket, c.buffer.get(), static_cast<int>(kTcpReadChunk), 0);
    if (n > 0) {
        g_bytes += static_cast<std::uint64_t>(n);
        c.begin = 0;
        c.end = static_cast<std::size_t>(n);
    } else if (n == 0) {
        c.ended = true;
    } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
        // Reset: a frame it cut is lost with the connection.
        if (c.framer.InFrame()) ++g_framingErrors;
        Close(c);
        return;
    }
    Process(c);
}

// Frames what was read and queues each message, until the lanes take no more.
void TcpListener::Process(Connection& c) {
    if (c.closed) return;
    if (c.stalled != nullptr) {
        if (!QueueStreamMessage(c.stalled, c.id)) return;
        c.stalled = nullptr;
    }
    while (c.begin < c.end) {
        std::size_t used = 0;
        StreamFramer::Event e = c.framer.Next(c.buffer.get() + c.begin, c.end - c.begin, &used);
        c.begin += used;
        if (e == StreamFramer::Event::BadLength) {
            ++g_framingErrors;
            char line[128];
            std::snprintf(line, sizeof line, "Syslog TCP : bad frame length from %s, connection closed !",
                          c.peerText);
            WriteTcpLog(line);
            Close(c);
            return;
        }
        if (e == StreamFramer::Event::Message) {
            if (c.framer.Cut()) ++g_framingErrors;
            if (!Hand(c, c.framer.Message(), c.framer.Size())) return;
        }
    }
    if (c.ended) {
        if (c.framer.Finish() == StreamFramer::Event::Message) {
            if (!Hand(c, c.framer.Message(), c.framer.Size())) return;
        } else if (c.framer.Truncated()) {
            ++g_framingErrors;
        }
        Close(c);
    }
}

// False when the lanes are full: the message waits on the connection, which is not read meanwhile.
bool TcpListener::Hand(Connection& c, const char* data, std::size_t size) {
    c.lastMessage = Now();
    DatagramHandoff* h = NewHandoff(m_callback, data, static_cast<int>(size), c.peer, c.peerPort);
    if (h == nullptr) return true;  // no memory for it: lost, the connection goes on
    if (QueueStreamMessage(h, c.id)) return true;
    c.stalled = h;
    return false;
}

void TcpListener::Close(Connection& c) {
    if (c.closed) return;
    closesocket(c.socket);
    c.socket = INVALID_SOCKET;
    c.closed = true;
    --g_connections;
}

void TcpListener::Sweep() {
    m_connections.erase(std::remove_if(m_connections.begin(), m_connections.end(),
                                       [](const std::unique_ptr<Connection>& c) {
                                           if (!c->closed) return false;
                                           if (c->stalled != nullptr) FreeHandoff(c->stalled);
                                           return true;
                                       }),
                        m_connections.end());
    if (m_connections.size() < m_settings.maxConnections) m_refusing = false;
}

void CSyslogTcp::getCounters(SyslogTcpCounters* counters) {
    counters->connections = g_connections.load();
    counters->accepted = g_accepted.load();
    counters->refused = g_refused.load();
    counters->framingErrors = g_framingErrors.load();
    counters->bytes = g_bytes.load();
    counters->heldPeak = g_heldPeak.load();
}
