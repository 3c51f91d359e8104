// Owners for the handles the add-in opens: each closes its handle on every path.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace sentrydesk {

class UniqueHkey {
public:
    UniqueHkey() = default;
    UniqueHkey(const UniqueHkey&) = delete;
    UniqueHkey& operator=(const UniqueHkey&) = delete;
    ~UniqueHkey() { reset(); }
    HKEY get() const { return key_; }
    HKEY* put() { reset(); return &key_; }
    void reset() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};

class UniqueScHandle {
public:
    explicit UniqueScHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
    UniqueScHandle(const UniqueScHandle&) = delete;
    UniqueScHandle& operator=(const UniqueScHandle&) = delete;
    ~UniqueScHandle() {
        if (handle_) CloseServiceHandle(handle_);
    }
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
};

// Memory that COM hands out with CoTaskMemAlloc.
template <typename T>
class UniqueCoMem {
public:
    UniqueCoMem() = default;
    UniqueCoMem(const UniqueCoMem&) = delete;
    UniqueCoMem& operator=(const UniqueCoMem&) = delete;
    ~UniqueCoMem() { CoTaskMemFree(p_); }
    T get() const { return p_; }
    T* put() { return &p_; }

private:
    T p_ = nullptr;
};

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void** put_void() { reset(); return reinterpret_cast<void**>(&p_); }
    T** put() { reset(); return &p_; }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

}  // namespace sentrydesk
