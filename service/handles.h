// Owners of the Windows handles the service program opens: each closes its handle on every path.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

template <typename T, typename Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T value) : m_value(value) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_value(std::exchange(other.m_value, Traits::invalid())) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_value, Traits::invalid()));
        return *this;
    }

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

struct HandleTraits {
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct FileHandleTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct ScHandleTraits {
    static SC_HANDLE invalid() { return nullptr; }
    static void close(SC_HANDLE h) { CloseServiceHandle(h); }
};
struct BstrTraits {
    static BSTR invalid() { return nullptr; }
    static void close(BSTR s) { SysFreeString(s); }
};

using UniqueHandleT = UniqueHandle<HANDLE, HandleTraits>;
using UniqueFile = UniqueHandle<HANDLE, FileHandleTraits>;
using UniqueScHandle = UniqueHandle<SC_HANDLE, ScHandleTraits>;
using UniqueBstr = UniqueHandle<BSTR, BstrTraits>;

// A COM interface pointer released on every path.
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    IUnknown* get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    void** put() {
        reset();
        return reinterpret_cast<void**>(&m_p);
    }
    void reset() {
        if (m_p != nullptr) m_p->Release();
        m_p = nullptr;
    }

private:
    IUnknown* m_p = nullptr;
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
