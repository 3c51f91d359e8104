// Registers OrvaneComponents.dll with regsvr32, creates both classes through COM as the service
// and the add-in do, and calls their entries by table position, not through the header's names.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OrvaneComponents.h"

using namespace orvane_components;

namespace {

constexpr DWORD kClassContext = 7;  // in-process server and handler, local server
const char* const kBogusClsidText = "{0BADC0DE-1111-2222-3333-444455556666}";
constexpr CLSID kBogusClsid = {0x0BADC0DE, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

std::string DllPath() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + "OrvaneComponents.dll";
}

DWORD RunRegsvr32(const std::string& args) {
    std::string command = "regsvr32.exe " + args + " \"" + DllPath() + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return GetLastError() | 0x80000000u;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

std::string ClassKey(const char* clsidText) { return std::string("CLSID\\") + clsidText; }
const char* const kLocalSystemText = "{55BFDBEE-203B-43A6-A065-8AED8675E329}";
const char* const kServerListText = "{DA3E0536-43C2-4F09-88AF-81D6309BD79E}";

bool ReadSz(HKEY root, const std::string& key, const char* name, std::string* out) {
    char buf[1024];
    DWORD size = sizeof(buf), type = 0;
    if (RegGetValueA(root, key.c_str(), name, RRF_RT_ANY, &type, buf, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    *out = buf;
    return true;
}

bool KeyExists(HKEY root, const std::string& key) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

void SetValue(const char* key, const char* name, DWORD type, const void* data, size_t size) {
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, name, type, data, static_cast<DWORD>(size)),
              ERROR_SUCCESS);
}

void DeleteValue(const char* key, const char* name) { RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, key, name); }

std::vector<std::string> ReadMultiSz(const char* key, const char* name) {
    char buf[4096];
    DWORD size = sizeof(buf), type = 0;
    std::vector<std::string> out;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_MULTI_SZ, &type, buf, &size) != ERROR_SUCCESS)
        return out;
    for (const char* p = buf; *p; p += strlen(p) + 1) out.emplace_back(p);
    return out;
}

std::string Narrow(BSTR s) {
    std::string out;
    for (UINT i = 0; s && i < SysStringLen(s); ++i) out += static_cast<char>(s[i]);
    return out;
}

// Calls entry `slot` of an interface's table with the given arguments, __stdcall.
template <class... Args>
HRESULT CallEntry(IUnknown* itf, int slot, Args... args) {
    using Fn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, Args...);
    void** table = *reinterpret_cast<void***>(itf);
    return reinterpret_cast<Fn>(table[slot])(itf, args...);
}

class Registered : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        ASSERT_EQ(RunRegsvr32("/s"), 0u);
    }
    void TearDown() override { CoUninitialize(); }
};
::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new Registered);

class ComponentTest : public ::testing::Test {
protected:
    IUnknown* Create(const CLSID& clsid, const IID& iid) {
        IUnknown* p = nullptr;
        HRESULT hr = CoCreateInstance(clsid, nullptr, kClassContext, iid, reinterpret_cast<void**>(&p));
        EXPECT_EQ(hr, S_OK);
        created_.push_back(p);
        return p;
    }
    void TearDown() override {
        for (IUnknown* p : created_)
            if (p) p->Release();
    }
    std::vector<IUnknown*> created_;
};

TEST_F(ComponentTest, RegistrationWritesInprocServerBoth) {
    for (const char* clsid : {kLocalSystemText, kServerListText}) {
        std::string server, model;
        ASSERT_TRUE(ReadSz(HKEY_CLASSES_ROOT, ClassKey(clsid) + "\\InprocServer32", nullptr, &server))
            << clsid;
        EXPECT_NE(server.find("OrvaneComponents.dll"), std::string::npos) << server;
        ASSERT_TRUE(
            ReadSz(HKEY_CLASSES_ROOT, ClassKey(clsid) + "\\InprocServer32", "ThreadingModel", &model));
        EXPECT_EQ(model, "Both");
    }
}

TEST_F(ComponentTest, AnswersOnlyItsOwnInterface) {
    IUnknown* local = Create(kLocalSystemClsid, kLocalSystemIid);
    ASSERT_NE(local, nullptr);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(local->QueryInterface(kServerListIid, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(local->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
    IUnknown* viaList = nullptr;
    EXPECT_EQ(CoCreateInstance(kServerListClsid, nullptr, kClassContext, kLocalSystemIid,
                               reinterpret_cast<void**>(&viaList)),
              E_NOINTERFACE);
}

TEST_F(ComponentTest, LocalServerIdFromRegistryOrDefault) {
    IUnknown* local = Create(kLocalSystemClsid, kLocalSystemIid);
    ASSERT_NE(local, nullptr);
    struct Case {
        const char* stored;  // null: value absent
        const char* expected;
    } cases[] = {{nullptr, "ORVANE-LOCAL"}, {"NMS-HQ-01", "NMS-HQ-01"}, {"", ""}};
    for (const Case& c : cases) {
        if (c.stored)
            SetValue(kLocalSystemKey, kLocalServerIdValue, REG_SZ, c.stored, strlen(c.stored) + 1);
        else
            DeleteValue(kLocalSystemKey, kLocalServerIdValue);
        BSTR id = nullptr;
        EXPECT_EQ(CallEntry(local, 20, &id), S_OK);
        ASSERT_NE(id, nullptr);
        EXPECT_EQ(Narrow(id), c.expected);
        SysFreeString(id);
    }
    EXPECT_EQ(CallEntry(local, 20, static_cast<BSTR*>(nullptr)), E_POINTER);
    DeleteValue(kLocalSystemKey, kLocalServerIdValue);
}

TEST_F(ComponentTest, RegisterAddinClassRecordsWhetherKeysExist) {
    IUnknown* local = Create(kLocalSystemClsid, kLocalSystemIid);
    ASSERT_NE(local, nullptr);
    DeleteValue(kLocalSystemKey, kAnnouncedClassesValue);
    ASSERT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(kBogusClsidText)));
    EXPECT_EQ(CallEntry(local, 7, &kServerListClsid, 1L), S_OK);
    EXPECT_EQ(CallEntry(local, 7, &kBogusClsid, -5L), S_OK);
    EXPECT_EQ(CallEntry(local, 7, static_cast<const CLSID*>(nullptr), 1L), E_POINTER);
    std::vector<std::string> expected = {std::string(kServerListText) + " 1 keys-present",
                                         std::string(kBogusClsidText) + " -5 keys-absent"};
    EXPECT_EQ(ReadMultiSz(kLocalSystemKey, kAnnouncedClassesValue), expected);
}

TEST_F(ComponentTest, RefreshCountsEachCall) {
    IUnknown* list = Create(kServerListClsid, kServerListIid);
    ASSERT_NE(list, nullptr);
    DeleteValue(kServerListKey, kRefreshCountValue);
    EXPECT_EQ(CallEntry(list, 29), S_OK);
    EXPECT_EQ(CallEntry(list, 29), S_OK);
    DWORD count = 0, size = sizeof(count);
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, kServerListKey, kRefreshCountValue, RRF_RT_REG_DWORD, nullptr,
                           &count, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(count, 2u);
}

TEST_F(ComponentTest, ServersFromMultiString) {
    IUnknown* list = Create(kServerListClsid, kServerListIid);
    ASSERT_NE(list, nullptr);
    struct Case {
        const char* data;  // null: value absent
        size_t size;
        std::vector<std::string> servers;
    } cases[] = {
        {nullptr, 0, {}},
        {"\0\0", 2, {}},
        {"NMS-A\0NMS-B\0NMS-A\0\0", 20, {"NMS-A", "NMS-B", "NMS-A"}},
        {"ONLY", 4, {"ONLY"}},  // stored without its closing NULs
    };
    for (const Case& c : cases) {
        if (c.data)
            SetValue(kServerListKey, kServersValue, REG_MULTI_SZ, c.data, c.size);
        else
            DeleteValue(kServerListKey, kServersValue);
        long count = -1;
        EXPECT_EQ(CallEntry(list, 32, &count), S_OK);
        ASSERT_EQ(count, static_cast<long>(c.servers.size())) << c.size;
        for (long i = 0; i < count; ++i) {
            BSTR id = nullptr;
            EXPECT_EQ(CallEntry(list, 33, i, &id), S_OK);
            EXPECT_EQ(Narrow(id), c.servers[static_cast<size_t>(i)]);
            SysFreeString(id);
        }
        for (long bad : {-1L, count, 1000L}) {
            BSTR id = SysAllocString(L"stale");
            BSTR before = id;
            EXPECT_EQ(CallEntry(list, 33, bad, &id), E_INVALIDARG) << bad;
            EXPECT_EQ(id, nullptr) << bad;
            SysFreeString(before);
        }
    }
    EXPECT_EQ(CallEntry(list, 32, static_cast<long*>(nullptr)), E_POINTER);
    DeleteValue(kServerListKey, kServersValue);
}

TEST_F(ComponentTest, OtherEntriesAreNotImplemented) {
    IUnknown* local = Create(kLocalSystemClsid, kLocalSystemIid);
    IUnknown* list = Create(kServerListClsid, kServerListIid);
    ASSERT_TRUE(local && list);
    for (int slot : {3, 6, 8, 19, 21, 29, 32, 33, 39}) EXPECT_EQ(CallEntry(local, slot), E_NOTIMPL) << slot;
    for (int slot : {3, 7, 20, 28, 30, 31, 34, 39}) EXPECT_EQ(CallEntry(list, slot), E_NOTIMPL) << slot;
}

// Loaded directly, as COM loads it: the module stays in use while an object or a lock lives.
TEST(ComponentsModule, CanUnloadOnlyWhenNothingIsHeld) {
    HMODULE dll = LoadLibraryA(DllPath().c_str());
    ASSERT_NE(dll, nullptr);
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    auto canUnload =
        reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_TRUE(getClassObject && canUnload);
    EXPECT_EQ(canUnload(), S_OK);

    IClassFactory* factory = nullptr;
    void* none = nullptr;
    EXPECT_EQ(getClassObject(kBogusClsid, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(getClassObject(kServerListClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    IUnknown* outer = factory;  // any non-null outer object asks for aggregation
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &none), CLASS_E_NOAGGREGATION);
    IUnknown* list = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, kServerListIid, reinterpret_cast<void**>(&list)), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    list->AddRef();
    list->Release();
    EXPECT_EQ(canUnload(), S_FALSE) << "object and lock still held";
    list->Release();
    EXPECT_EQ(canUnload(), S_FALSE) << "lock still held";
    ASSERT_EQ(getClassObject(kServerListClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(canUnload(), S_OK);
    FreeLibrary(dll);
}

// Last: the others need the registration that this one removes.
TEST(ComponentsUnregistration, RemovesClassKeys) {
    ASSERT_EQ(RunRegsvr32("/u /s"), 0u);
    for (const char* clsid : {kLocalSystemText, kServerListText})
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(clsid))) << clsid;
    IUnknown* p = nullptr;
    EXPECT_EQ(CoCreateInstance(kLocalSystemClsid, nullptr, kClassContext, kLocalSystemIid,
                               reinterpret_cast<void**>(&p)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(RunRegsvr32("/u /s"), 0u) << "a second unregistration fails";
}

}  // namespace
