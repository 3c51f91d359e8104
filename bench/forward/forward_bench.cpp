// Where a forwarded message's time goes: each call the forwarding path makes, alone and then the
// whole ForwardEvent from several threads at once. Run through run.py, which sets the suite's
// stand-ins up; prints figures and fails only when it cannot run at all.
#include <windows.h>
#include <objbase.h>
#include <process.h>
#include <rpc.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "forwarding.h"
#include "message_records.h"
#include "ovwin/handles.h"
#include "suite.h"

using namespace ovwin;

namespace {

double NowUs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

template <typename Step>
void Time(const char* name, int repeats, Step step) {
    double start = NowUs();
    for (int i = 0; i < repeats; ++i) step();
    std::printf("  %-34s %9.1f us\n", name, (NowUs() - start) / repeats);
}

bool Create(const CLSID& clsid, const IID& iid, ComPtr<>& object) {
    return SUCCEEDED(CoCreateInstance(clsid, nullptr, kSuiteClassContext, iid, object.put())) && object;
}

void PerCall(int repeats) {
    std::printf("one thread, %d calls each:\n", repeats);
    ComPtr localSystem, serverList;
    if (!Create(kLocalSystemClass, kLocalSystemInterface, localSystem) ||
        !Create(kServerListClass, kServerListInterface, serverList)) {
        std::printf("  the components are not registered\n");
        std::exit(1);
    }
    unsigned char record[220] = {};
    Time("create local-system component", repeats, [] {
        ComPtr p;
        Create(kLocalSystemClass, kLocalSystemInterface, p);
    });
    Time("create server-list component", repeats, [] {
        ComPtr p;
        Create(kServerListClass, kServerListInterface, p);
    });
    Time("local server identifier (20)", repeats, [&] {
        UniqueBstr id;
        CallEntry(localSystem.get(), kEntryGetLocalServerId, id.put());
    });
    Time("count of servers (32)", repeats, [&] {
        long count = 0;
        CallEntry(serverList.get(), kEntryGetCount, &count);
    });
    Time("UUID and its text", repeats, [] {
        UUID uuid;
        RPC_CSTR text = nullptr;
        CoCreateGuid(&uuid);
        if (UuidToStringA(&uuid, &text) == RPC_S_OK) RpcStringFreeA(&text);
    });
    Time("delivery function", repeats, [&] { OrvaneDeliver("BENCH-STEPS", record); });
    Time("ForwardEvent, whole", repeats, [] { ForwardEvent("bench-host", "bench text"); });
}

volatile LONG g_remaining = 0;

unsigned __stdcall ForwardMany(void*) {
    if (FAILED(CoInitialize(nullptr))) return 1;
    while (InterlockedDecrement(&g_remaining) >= 0) ForwardEvent("bench-host", "bench text");
    StopForwarding();
    CoUninitialize();
    return 0;
}

void Concurrent(int threads, int messages) {
    g_remaining = messages;
    double start = NowUs();
    std::vector<HANDLE> running;
    for (int i = 0; i < threads; ++i) {
        auto h = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 64 * 1024, ForwardMany, nullptr,
                                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        if (h != nullptr) running.push_back(h);
    }
    for (HANDLE h : running) {
        WaitForSingleObject(h, INFINITE);
        CloseHandle(h);
    }
    double seconds = (NowUs() - start) / 1e6;
    std::printf("  %4d threads: %6d forwards in %6.2f s = %6.0f/s\n", static_cast<int>(running.size()),
                messages, seconds, messages / seconds);
}

}  // namespace

int main(int argc, char** argv) {
    int repeats = argc > 1 ? std::atoi(argv[1]) : 300;
    int messages = argc > 2 ? std::atoi(argv[2]) : 4000;
    if (FAILED(CoInitialize(nullptr))) return 1;
    StartForwarding();  // as the service does: a refused record would be spooled beside the bench
    ForwardEvent("bench-host", "warm-up");
    PerCall(repeats);
    std::printf("ForwardEvent from many threads at once:\n");
    for (int threads : {1, 4, 16, 64, 128}) Concurrent(threads, messages);
    CoUninitialize();
    return 0;
}
