// Function-entry recorder for tools/datagram_path.py. Built with the mingw-w64 compiler, without
// -finstrument-functions, and linked into every binary of a traced build; never into a shipped one.
//
// Every instrumented function entry appends {tid, module, rva} to one trace per process: a file
// mapping named after the process, so the copies of this hook in the exe and in each DLL share one
// order. It records only when a folder "trace" exists beside the module, which the tool makes.
// Each module's imports of ws2_32's recvfrom are redirected through a wrapper that appends a marker
// when the call starts and when it returns, so the tool can start counting exactly where the
// datagram is in our hands and see where the reading thread goes back to read.
#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#define NO_TRACE __attribute__((no_instrument_function))

namespace {

constexpr std::uint32_t kMagic = 0x3154564f;  // "OVT1"
constexpr std::uint32_t kMaxModules = 32;
constexpr std::uint64_t kHeaderBytes = 65536;
constexpr std::uint64_t kMaxEvents = 8u << 20;  // 128 MiB of events; the tool sees when it is full
constexpr std::uint32_t kEnter = 1, kRecv = 2, kRecvCall = 3;

// The tool reads these layouts; the asserts below keep them where it looks.
struct Module {
    std::uint64_t base;
    char path[MAX_PATH];
    char pad[4];
};

struct Header {
    std::uint32_t magic, eventSize;
    std::uint64_t headerBytes, capacity;
    volatile LONG64 next;  // events reserved so far; may pass capacity
    volatile LONG modules;
    Module module[kMaxModules];
};

// kind is stored last, so a reader (the tool, after the process ended) never sees half an event.
struct Event {
    std::uint32_t kind, tid, module, value;  // value: the function's RVA, or recvfrom's result
};

static_assert(sizeof(Module) == 272 && offsetof(Header, module) == 40, "layout read by datagram_path.py");
static_assert(sizeof(Header) <= kHeaderBytes && sizeof(Event) == 16, "layout read by datagram_path.py");

Header* g_trace = nullptr;
Event* g_events = nullptr;
std::uint32_t g_module = 0;
std::uintptr_t g_base = 0;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;

using RecvFrom = int(WSAAPI*)(SOCKET, char*, int, int, sockaddr*, int*);
using GetError = int(WSAAPI*)();
using SetError = void(WSAAPI*)(int);
RecvFrom g_realRecvFrom = nullptr;
GetError g_getError = nullptr;
SetError g_setError = nullptr;

NO_TRACE HMODULE ThisModule() {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &self);
    return self;
}

NO_TRACE void Append(std::uint32_t kind, std::uint32_t value) {
    LONG64 i = InterlockedIncrement64(&g_trace->next) - 1;
    if (static_cast<std::uint64_t>(i) >= g_trace->capacity) return;
    Event& e = g_events[i];
    e.tid = GetCurrentThreadId();
    e.module = g_module;
    e.value = value;
    MemoryBarrier();
    e.kind = kind;
}

NO_TRACE int WSAAPI TracedRecvFrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
    Append(kRecvCall, 0);
    int n = g_realRecvFrom(s, buf, len, flags, from, fromlen);
    int error = g_getError();
    Append(kRecv, static_cast<std::uint32_t>(n == SOCKET_ERROR ? -error : n));
    g_setError(error);
    return n;
}

template <typename F>
NO_TRACE F Resolve(HMODULE dll, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

// Rewrites this module's import slots that hold recvfrom's address; matching the resolved address
// covers imports by name and by ordinal alike.
NO_TRACE void RedirectRecvFrom(HMODULE self) {
    HMODULE ws2 = GetModuleHandleA("ws2_32.dll");
    if (!ws2) return;
    // Looked up here, not imported: not every traced module links ws2_32.
    auto real = Resolve<RecvFrom>(ws2, "recvfrom");
    g_getError = Resolve<GetError>(ws2, "WSAGetLastError");
    g_setError = Resolve<SetError>(ws2, "WSASetLastError");
    if (!real || !g_getError || !g_setError) return;
    g_realRecvFrom = real;
    auto base = reinterpret_cast<BYTE*>(self);
    auto dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return;
    for (auto imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
        for (auto slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk); slot->u1.Function;
             ++slot) {
            if (slot->u1.Function != reinterpret_cast<ULONG_PTR>(real)) continue;
            DWORD old;
            if (VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &old)) {
                slot->u1.Function = reinterpret_cast<ULONG_PTR>(&TracedRecvFrom);
                VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, old, &old);
            }
        }
    }
}

NO_TRACE BOOL CALLBACK Open(PINIT_ONCE, PVOID, PVOID*) {
    HMODULE self = ThisModule();
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    char* slash = strrchr(path, '\\');
    if (!slash) return TRUE;
    slash[1] = '\0';

    // One file per process, the same for every module in it: pid and creation time (pids are reused).
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    char file[MAX_PATH], name[96];
    snprintf(name, sizeof name, "ovtrace-%lu-%08lx%08lx", GetCurrentProcessId(), created.dwHighDateTime,
             created.dwLowDateTime);
    if (snprintf(file, sizeof file, "%strace\\%s.bin", path, name) >= static_cast<int>(sizeof file))
        return TRUE;
    char folder[MAX_PATH];
    snprintf(folder, sizeof folder, "%strace", path);
    DWORD a = GetFileAttributesA(folder);
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return TRUE;

    HANDLE f = CreateFileA(file, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return TRUE;
    std::uint64_t bytes = kHeaderBytes + kMaxEvents * sizeof(Event);
    HANDLE m = CreateFileMappingA(f, nullptr, PAGE_READWRITE, static_cast<DWORD>(bytes >> 32),
                                  static_cast<DWORD>(bytes), name);
    CloseHandle(f);
    if (!m) return TRUE;
    bool first = GetLastError() != ERROR_ALREADY_EXISTS;
    auto view = static_cast<BYTE*>(MapViewOfFile(m, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view) return TRUE;  // the mapping handle stays open with the view for the process's life
    auto h = reinterpret_cast<Header*>(view);
    if (first) {
        h->eventSize = sizeof(Event);
        h->headerBytes = kHeaderBytes;
        h->capacity = kMaxEvents;
        MemoryBarrier();
        h->magic = kMagic;
    } else {
        while (h->magic != kMagic) Sleep(0);
    }
    LONG index = InterlockedIncrement(&h->modules) - 1;
    if (index >= static_cast<LONG>(kMaxModules)) return TRUE;
    Module& mine = h->module[index];
    mine.base = reinterpret_cast<std::uint64_t>(self);
    GetModuleFileNameA(self, mine.path, MAX_PATH);
    g_module = static_cast<std::uint32_t>(index);
    g_base = mine.base;
    g_events = reinterpret_cast<Event*>(view + kHeaderBytes);
    RedirectRecvFrom(self);
    MemoryBarrier();
    g_trace = h;
    return TRUE;
}

}  // namespace

extern "C" NO_TRACE void __cyg_profile_func_enter(void* fn, void*) {
    InitOnceExecuteOnce(&g_once, Open, nullptr, nullptr);
    if (!g_trace) return;
    Append(kEnter, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(fn) - g_base));
}

extern "C" NO_TRACE void __cyg_profile_func_exit(void*, void*) {}
