// Every parse initialises COM on its thread and leaves it so; a datagram thread handles many
// datagrams and must give every one of those initialisations back before it ends. COM itself
// reports the count: a spy registered on each datagram thread hears every CoUninitialize there.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "OVSyslog.h"
#include "ovtest/wait_until.h"

namespace {

using namespace std::chrono_literals;

// What COM told the spy of one datagram thread, from that thread's first callback on.
struct Apartment {
    DWORD thread = 0;
    HRESULT registered = E_FAIL;  // the spy's registration
    int callbacks = 0;
    int uninitializations = 0;
    DWORD refsLeft = 0;     // after the latest CoUninitialize
    int beyondBalance = 0;  // a CoUninitialize with none left to give back
};

std::mutex g_lock;
std::vector<Apartment> g_apartments;
std::atomic<int> g_received{0};
thread_local int t_apartment = -1;

class Spy : public IInitializeSpy {
public:
    explicit Spy(int apartment) : m_apartment(apartment) {}
    virtual ~Spy() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IInitializeSpy)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IInitializeSpy*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT result, DWORD, DWORD) override { return result; }
    HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD refs) override {
        if (refs == 0) {
            std::lock_guard<std::mutex> lock(g_lock);
            ++g_apartments[m_apartment].beyondBalance;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD refs) override {
        std::lock_guard<std::mutex> lock(g_lock);
        Apartment& apartment = g_apartments[m_apartment];
        ++apartment.uninitializations;
        apartment.refsLeft = refs;
        return S_OK;
    }

private:
    std::atomic<ULONG> m_refs{1};
    const int m_apartment;
};

// The receiver callback: a thread's first callback puts a spy on the thread. The parse before it
// has initialised COM already, so the spy hears no initialisation, only what gives them back.
unsigned int Observe(CSyslogMinitor* message) {
    if (t_apartment < 0) {
        {
            std::lock_guard<std::mutex> lock(g_lock);
            t_apartment = static_cast<int>(g_apartments.size());
            g_apartments.push_back({});
            g_apartments.back().thread = GetCurrentThreadId();
        }
        Spy* spy = new Spy(t_apartment);
        ULARGE_INTEGER cookie;
        HRESULT registered = CoRegisterInitializeSpy(spy, &cookie);
        spy->Release();  // COM keeps its own reference for the thread's life
        std::lock_guard<std::mutex> lock(g_lock);
        g_apartments[t_apartment].registered = registered;
    }
    {
        std::lock_guard<std::mutex> lock(g_lock);
        ++g_apartments[t_apartment].callbacks;
    }
    std::free(message->getHost());
    std::free(message->getMessage());
    delete message;
    ++g_received;
    return 0;
}

void Send(SOCKET s, int port, const std::string& text) {
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(s, text.data(), static_cast<int>(text.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

int FreePort() {
    SOCKET probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    bind(probe, reinterpret_cast<sockaddr*>(&at), sizeof at);
    int size = sizeof at;
    getsockname(probe, reinterpret_cast<sockaddr*>(&at), &size);
    closesocket(probe);
    return ntohs(at.sin_port);
}

std::string Unbalanced() {
    std::lock_guard<std::mutex> lock(g_lock);
    std::ostringstream out;
    for (const Apartment& a : g_apartments)
        if (a.uninitializations == 0 || a.refsLeft != 0)
            out << " thread " << a.thread << " (" << a.callbacks << " datagrams, " << a.uninitializations
                << " CoUninitialize, " << a.refsLeft << " left);";
    return out.str();
}

// Datagrams one at a time (the thread kept by the loop takes them all) and then a burst (several
// threads), the loop stopped: once the idle threads have lingered out, each of them has given
// back what its parses took, no more.
TEST(ComBalance, ADatagramThreadReleasesItsApartmentBeforeItEnds) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET sender = socket(AF_INET, SOCK_DGRAM, 0);
    int port = FreePort();
    CSyslogMinitor::setRadiusPort(port);
    std::thread loop([] { CSyslogMinitor::accept(Observe); });

    ASSERT_TRUE(ovtest::WaitUntil(
        [&] {
            Send(sender, port, "<13> ready");
            return g_received > 0;
        },
        10s, 50ms))
        << "the loop never received on port " << port;
    for (int i = 0; i < 20; ++i) {
        int before = g_received;
        Send(sender, port, "<13> one at a time " + std::to_string(i));
        ASSERT_TRUE(ovtest::WaitUntil([&] { return g_received > before; }, 10s, 1ms));
    }
    int settled = g_received;
    for (int i = 0; i < 300; ++i) Send(sender, port, "<13> burst " + std::to_string(i));
    // The burst may lose datagrams to the socket's buffer; what arrives is enough.
    ovtest::WaitUntil([&] { return g_received >= settled + 300 || CSyslogMinitor::getPendingCount() == 0; },
                      10s, 10ms);
    CSyslogMinitor::stopTrap();
    loop.join();
    ASSERT_TRUE(ovtest::WaitUntil([] { return CSyslogMinitor::getPendingCount() == 0; }, 30s, 10ms));

    // Idle datagram threads end a linger (1 s) after the loop stopped.
    EXPECT_TRUE(ovtest::WaitUntil([] { return Unbalanced().empty(); }, 30s, 20ms))
        << "datagram threads ended with COM still initialised:" << Unbalanced();
    std::lock_guard<std::mutex> lock(g_lock);
    int callbacks = 0;
    for (const Apartment& a : g_apartments) {
        callbacks += a.callbacks;
        EXPECT_EQ(a.registered, S_OK) << "thread " << a.thread << ": no spy";
        EXPECT_EQ(a.beyondBalance, 0) << "thread " << a.thread << " gave back more than its parses took";
    }
    EXPECT_EQ(callbacks, g_received.load());
    std::printf("%zu datagram threads, %d datagrams\n", g_apartments.size(), callbacks);
    closesocket(sender);
}

}  // namespace
