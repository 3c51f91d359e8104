// Owners of the Windows handles every binary opens: each closes its handle on every path.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <utility>

namespace ovwin {

// Traits give the value a failed call returns and the call that closes a held value.
template <typename T, typename Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T value) : m_value(value) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_value(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const { return m_value; }
    explicit operator bool() const { return m_value != Traits::invalid(); }
    void reset(T value = Traits::invalid()) {
        T old = std::exchange(m_value, value);
        if (old != Traits::invalid()) Traits::close(old);
    }
    // For calls that return the handle through a pointer; closes what was held first.
    T* put() {
        reset();
        return &m_value;
    }
    // Gives the handle up to a new owner.
    T release() { return std::exchange(m_value, Traits::invalid()); }

private:
    T m_value = Traits::invalid();
};

struct HandleTraits {
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};
// CreateFile and CreateToolhelp32Snapshot report failure with INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct ScHandleTraits {
    static SC_HANDLE invalid() { return nullptr; }
    static void close(SC_HANDLE h) { CloseServiceHandle(h); }
};
struct HkeyTraits {
    static HKEY invalid() { return nullptr; }
    static void close(HKEY k) { RegCloseKey(k); }
};
struct SocketTraits {
    static SOCKET invalid() { return INVALID_SOCKET; }
    static void close(SOCKET s) { closesocket(s); }
};
struct BstrTraits {
    static BSTR invalid() { return nullptr; }
    static void close(BSTR s) { SysFreeString(s); }
};
struct ModuleTraits {
    static HMODULE invalid() { return nullptr; }
    static void close(HMODULE m) { FreeLibrary(m); }
};
template <typename T>
struct CoMemTraits {
    static T invalid() { return nullptr; }
    static void close(T p) { CoTaskMemFree(p); }
};

using UniqueHandleT = UniqueHandle<HANDLE, HandleTraits>;
using UniqueModule = UniqueHandle<HMODULE, ModuleTraits>;
using UniqueFile = UniqueHandle<HANDLE, FileHandleTraits>;
using UniqueScHandle = UniqueHandle<SC_HANDLE, ScHandleTraits>;
using UniqueHkey = UniqueHandle<HKEY, HkeyTraits>;
using UniqueSocket = UniqueHandle<SOCKET, SocketTraits>;
using UniqueBstr = UniqueHandle<BSTR, BstrTraits>;
// Memory that COM hands out with CoTaskMemAlloc.
template <typename T>
using UniqueCoMem = UniqueHandle<T, CoMemTraits<T>>;

// A COM interface pointer released on every path. Without an interface it holds IUnknown.
template <typename T = IUnknown>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    void reset() {
        if (T* old = std::exchange(m_p, nullptr)) old->Release();
    }

    // What put() returns: both creating calls' out parameters, T** and void**, accept it.
    class OutParam {
    public:
        explicit OutParam(T** p) : m_p(p) {}
        operator T**() const { return m_p; }
        operator void**() const { return reinterpret_cast<void**>(m_p); }

    private:
        T** m_p;
    };
    OutParam put() {
        reset();
        return OutParam(&m_p);
    }

private:
    T* m_p = nullptr;
};

// COM initialised on this thread for the object's lifetime, when it succeeded.
class ComApartment {
public:
    ComApartment() : m_ok(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComApartment() {
        if (m_ok) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool ok() const { return m_ok; }

private:
    bool m_ok;
};

}  // namespace ovwin
