// Owners for the few handle kinds the benchmark program holds.
#pragma once

#include <winsock2.h>

class OwnedSocket {
public:
    explicit OwnedSocket(SOCKET s = INVALID_SOCKET) : m_s(s) {}
    ~OwnedSocket() {
        if (m_s != INVALID_SOCKET) closesocket(m_s);
    }
    OwnedSocket(const OwnedSocket&) = delete;
    OwnedSocket& operator=(const OwnedSocket&) = delete;
    SOCKET get() const { return m_s; }
    bool valid() const { return m_s != INVALID_SOCKET; }
    // Gives the socket up to a new owner.
    SOCKET release() {
        SOCKET s = m_s;
        m_s = INVALID_SOCKET;
        return s;
    }

private:
    SOCKET m_s;
};

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE h = nullptr) : m_h(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~OwnedHandle() {
        if (m_h != nullptr) CloseHandle(m_h);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE get() const { return m_h; }
    bool valid() const { return m_h != nullptr; }

private:
    HANDLE m_h;
};
