// The owners close what they hold exactly once, on every path, and never a value that stands for
// failure: a leak here is a leak in every binary, a double close may close someone else's handle.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "ovwin/handles.h"

namespace {

std::vector<int> g_closed;

struct CountingTraits {
    static int invalid() { return -1; }
    static void close(int value) { g_closed.push_back(value); }
};
using Owner = ovwin::UniqueHandle<int, CountingTraits>;

class Handles : public ::testing::Test {
protected:
    void SetUp() override { g_closed.clear(); }
};

TEST_F(Handles, EachPathClosesTheHeldValueOnce) {
    struct {
        const char* path;
        void (*run)();
        std::vector<int> closed;
    } cases[] = {
        {"end of scope", [] { Owner a(1); }, {1}},
        {"reset",
         [] {
             Owner a(1);
             a.reset(2);
             EXPECT_EQ(g_closed, std::vector<int>{1});
         },
         {1, 2}},
        {"put",
         [] {
             Owner a(1);
             *a.put() = 2;
         },
         {1, 2}},
        {"move",
         [] {
             Owner a(1);
             Owner b(std::move(a));
             EXPECT_FALSE(a);
         },
         {1}},
        {"move assignment",
         [] {
             Owner a(1), b(2);
             b = std::move(a);
             EXPECT_EQ(b.get(), 1);
         },
         {2, 1}},
        {"release",
         [] {
             Owner a(1);
             EXPECT_EQ(a.release(), 1);
         },
         {}},
        {"failure value",
         [] {
             Owner a(-1);
             EXPECT_FALSE(a);
             a.reset();
         },
         {}},
        {"empty put",
         [] {
             Owner a;
             a.put();
         },
         {}},
    };
    for (const auto& c : cases) {
        g_closed.clear();
        c.run();
        EXPECT_EQ(g_closed, c.closed) << c.path;
    }
}

bool HandleIsOpen(HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}

TEST_F(Handles, KernelAndFileOwnersCloseRealHandles) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    {
        ovwin::UniqueHandleT owner(event);
        ASSERT_TRUE(HandleIsOpen(event));
    }
    EXPECT_FALSE(HandleIsOpen(event));

    char path[MAX_PATH], dir[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, dir), 0u);
    ASSERT_NE(GetTempFileNameA(dir, "ovw", 0, path), 0u);
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    { ovwin::UniqueFile owner(file); }
    EXPECT_FALSE(HandleIsOpen(file));
    EXPECT_EQ(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES) << "the file was not closed";
    EXPECT_FALSE(ovwin::UniqueFile(INVALID_HANDLE_VALUE)) << "a failed CreateFile holds nothing";
}

TEST_F(Handles, KeyOwnerClosesTheKey) {
    HKEY raw = nullptr;
    {
        ovwin::UniqueHkey key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, key.put()), ERROR_SUCCESS);
        raw = key.get();
        EXPECT_EQ(RegQueryInfoKeyA(raw, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
    }
    EXPECT_EQ(RegQueryInfoKeyA(raw, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
}

TEST_F(Handles, SocketOwnerClosesTheSocket) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET raw = INVALID_SOCKET;
    {
        ovwin::UniqueSocket s(socket(AF_INET, SOCK_DGRAM, 0));
        ASSERT_TRUE(s);
        raw = s.get();
    }
    int type = 0, length = sizeof type;
    EXPECT_EQ(getsockopt(raw, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    WSACleanup();
}

// Counts its references; deleted when the last one goes.
class CountedObject final : public IUnknown {
public:
    explicit CountedObject(int* alive) : m_alive(alive) { ++*m_alive; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --m_refs;
        if (left == 0) {
            --*m_alive;
            delete this;
        }
        return left;
    }

private:
    ULONG m_refs = 1;
    int* m_alive;
};

void CreateInto(void** out, int* alive) { *out = static_cast<IUnknown*>(new CountedObject(alive)); }

TEST_F(Handles, ComPtrReleasesOnEveryPath) {
    int alive = 0;
    {
        ovwin::ComPtr p;
        CreateInto(p.put(), &alive);
        ASSERT_TRUE(p);
        EXPECT_EQ(alive, 1);
        CreateInto(p.put(), &alive);  // put releases the first object
        EXPECT_EQ(alive, 1);
        p.reset();
        EXPECT_EQ(alive, 0);
        EXPECT_FALSE(p);
        IUnknown** typed = p.put();
        *typed = new CountedObject(&alive);
    }
    EXPECT_EQ(alive, 0);
}

}  // namespace
