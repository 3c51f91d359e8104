// Owners of the handles the custom actions open: each closes its handle on every path.
#pragma once

#include <winsock2.h>
#include <windows.h>

template <typename T, typename Traits>
class Unique {
public:
    Unique() = default;
    explicit Unique(T value) : m_value(value) {}
    ~Unique() { reset(); }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;

    T get() const { return m_value; }
    explicit operator bool() const { return m_value != Traits::invalid(); }
    void reset(T value = Traits::invalid()) {
        if (m_value != Traits::invalid()) Traits::close(m_value);
        m_value = value;
    }
    T* put() {
        reset();
        return &m_value;
    }

private:
    T m_value = Traits::invalid();
};

struct HkeyTraits {
    static HKEY invalid() { return nullptr; }
    static void close(HKEY key) { RegCloseKey(key); }
};
struct ScTraits {
    static SC_HANDLE invalid() { return nullptr; }
    static void close(SC_HANDLE handle) { CloseServiceHandle(handle); }
};
struct ModuleTraits {
    static HMODULE invalid() { return nullptr; }
    static void close(HMODULE module) { FreeLibrary(module); }
};
struct ProcessTraits {
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct SocketTraits {
    static SOCKET invalid() { return INVALID_SOCKET; }
    static void close(SOCKET s) { closesocket(s); }
};

using UniqueHkey = Unique<HKEY, HkeyTraits>;
using UniqueSc = Unique<SC_HANDLE, ScTraits>;
using UniqueModule = Unique<HMODULE, ModuleTraits>;
using UniqueSocket = Unique<SOCKET, SocketTraits>;
