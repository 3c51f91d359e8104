// The add-in as COM and a registration tool see it: its exports, class object, class, type
// information and registry keys.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../console_addin.h"
#include "../service_mgr.h"
#include "test_support.h"

using namespace testing_support;

extern "C" const IID IID_IConsoleAddin = {
    0x471CC634, 0xC18C, 0x41E5, {0x90, 0xA8, 0x13, 0xB8, 0x70, 0x41, 0xE8, 0x80}};

namespace {

const char* const kClsid = "{B99B96D3-666A-4B0C-AAA3-A6EE16C66C8F}";
const char* const kClassKey = "CLSID\\{B99B96D3-666A-4B0C-AAA3-A6EE16C66C8F}";
const char* const kTypeLibKey = "TypeLib\\{F654C5AA-D2FB-4749-9D3C-130557FCB85A}";
const char* const kInterfaceKey = "Interface\\{A9BCD06A-2BEE-4E64-9235-B15F0F5ADDF0}";
const char* const kLocalSystemKey = "Software\\Telmora\\Orvane\\StandIn\\LocalSystem";
const CLSID kClsidServiceMgr = {0xB99B96D3, 0x666A, 0x4B0C, {0xAA, 0xA3, 0xA6, 0xEE, 0x16, 0xC6, 0x6C, 0x8F}};
const IID kIidServiceMgr = {0xA9BCD06A, 0x2BEE, 0x4E64, {0x92, 0x35, 0xB1, 0x5F, 0x0F, 0x5A, 0xDD, 0xF0}};

typedef HRESULT(STDAPICALLTYPE* NoArgFn)();
typedef HRESULT(STDAPICALLTYPE* GetClassObjectFn)(REFCLSID, REFIID, void**);

struct Exports {
    HMODULE module = nullptr;
    NoArgFn canUnloadNow = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    NoArgFn registerServer = nullptr;
    NoArgFn unregisterServer = nullptr;
};

template <typename F>
F Proc(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

Exports LoadExports(const char* dll) {
    Exports e;
    e.module = LoadLibraryA(BinPath(dll).c_str());
    if (!e.module) return e;
    e.canUnloadNow = Proc<NoArgFn>(e.module, "DllCanUnloadNow");
    e.getClassObject = Proc<GetClassObjectFn>(e.module, "DllGetClassObject");
    e.registerServer = Proc<NoArgFn>(e.module, "DllRegisterServer");
    e.unregisterServer = Proc<NoArgFn>(e.module, "DllUnregisterServer");
    return e;
}

class ComTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        addin_ = LoadExports("Sentrydesk.dll");
        ASSERT_NE(addin_.module, nullptr);
        ASSERT_TRUE(addin_.canUnloadNow && addin_.getClassObject && addin_.registerServer &&
                    addin_.unregisterServer);
    }
    void TearDown() override {
        if (addin_.module) FreeLibrary(addin_.module);
        CoUninitialize();
    }

    IClassFactory* Factory() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(
            addin_.getClassObject(kClsidServiceMgr, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
        return factory;
    }

    template <typename T>
    T* Create(REFIID iid) {
        IClassFactory* factory = Factory();
        if (!factory) return nullptr;
        T* object = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&object)), S_OK);
        factory->Release();
        return object;
    }

    Exports addin_;
};

// ---- the class and its two interfaces ----

TEST_F(ComTest, QueryInterfaceAnswersTheTableWithOneIdentity) {
    IConsoleAddin* addin = Create<IConsoleAddin>(IID_IConsoleAddin);
    ASSERT_NE(addin, nullptr);
    ICServiceMgr* mgr = nullptr;
    ASSERT_EQ(addin->QueryInterface(kIidServiceMgr, reinterpret_cast<void**>(&mgr)), S_OK);
    ASSERT_NE(static_cast<void*>(mgr), static_cast<void*>(addin));

    struct Case {
        const char* name;
        IUnknown* via;
        const IID* iid;
        void* expected;
    } cases[] = {
        {"IUnknown via IConsoleAddin", addin, &IID_IUnknown, mgr},
        {"IDispatch via IConsoleAddin", addin, &IID_IDispatch, mgr},
        {"ICServiceMgr via IConsoleAddin", addin, &kIidServiceMgr, mgr},
        {"IConsoleAddin via IConsoleAddin", addin, &IID_IConsoleAddin, addin},
        {"IUnknown via ICServiceMgr", mgr, &IID_IUnknown, mgr},
        {"IDispatch via ICServiceMgr", mgr, &IID_IDispatch, mgr},
        {"IConsoleAddin via ICServiceMgr", mgr, &IID_IConsoleAddin, addin},
    };
    for (const Case& c : cases) {
        void* out = nullptr;
        EXPECT_EQ(c.via->QueryInterface(*c.iid, &out), S_OK) << c.name;
        EXPECT_EQ(out, c.expected) << c.name;
        if (out) static_cast<IUnknown*>(out)->Release();
    }
    for (const IID* other : {&IID_IClassFactory, &IID_IPersist, &IID_ITypeInfo}) {
        void* out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(addin->QueryInterface(*other, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    // Each successful answer added one reference: the counts show it.
    mgr->AddRef();
    EXPECT_EQ(mgr->Release(), 2u);
    mgr->Release();
    EXPECT_EQ(addin->Release(), 0u);
}

TEST_F(ComTest, ConsoleOperationsStoreTheirValueAndAnswerNotImplemented) {
    IConsoleAddin* addin = Create<IConsoleAddin>(IID_IConsoleAddin);
    ASSERT_NE(addin, nullptr);
    typedef HRESULT (STDMETHODCALLTYPE IConsoleAddin::*Getter)(long*);
    struct Case {
        const char* name;
        Getter getter;
        long expected;
    } cases[] = {
        {"GetMenuNameId", &IConsoleAddin::GetMenuNameId, 101},
        {"GetMenuItemTextId", &IConsoleAddin::GetMenuItemTextId, 102},
        {"GetPromptId", &IConsoleAddin::GetPromptId, 105},
        {"GetToolbarMenuTextId", &IConsoleAddin::GetToolbarMenuTextId, 103},
        {"GetToolbarNameId", &IConsoleAddin::GetToolbarNameId, 104},
    };
    for (const Case& c : cases) {
        long value = -7;
        EXPECT_EQ((addin->*c.getter)(&value), E_NOTIMPL) << c.name;
        EXPECT_EQ(value, c.expected) << c.name;
        EXPECT_EQ((addin->*c.getter)(nullptr), E_POINTER) << c.name;
    }
    HINSTANCE instance = nullptr;
    EXPECT_EQ(addin->GetResourceInstance(&instance), E_NOTIMPL);
    EXPECT_EQ(instance, addin_.module);
    EXPECT_EQ(addin->GetResourceInstance(nullptr), E_POINTER);
    // The handle holds the string table the ids name.
    char text[128] = {};
    LoadStringA(instance, 101, text, sizeof text);
    EXPECT_STREQ(text, "A&dvanced");
    for (long a : {0L, -1L, 0x7FFFFFFFL}) {
        EXPECT_EQ(addin->ReservedA(a, a), E_NOTIMPL);
        EXPECT_EQ(addin->ReservedB(a, 1, a), E_NOTIMPL);
    }
    addin->Release();
}

TEST_F(ComTest, StringTableHoldsTheMenuAndNoticeTexts) {
    struct Case {
        UINT id;
        const char* text;
    } cases[] = {
        {100, "Sentrydesk"},
        {101, "A&dvanced"},
        {102, "&Services Manager..."},
        {103, "&Advanced Toolbar"},
        {104, "Advanced Tools"},
        {105, "Configure Trap & Syslog services\nServices Manager"},
        {106, "SERVICE_MGR"},
        {107, "The update will take in effect only after restart the services."},
    };
    for (const Case& c : cases) {
        char text[256] = {};
        LoadStringA(addin_.module, c.id, text, sizeof text);
        EXPECT_STREQ(text, c.text) << "string " << c.id;
    }
}

TEST_F(ComTest, TypeInformationComesFromTheRegisteredLibraries) {
    ASSERT_EQ(addin_.registerServer(), S_OK);
    // The console registers its own library; the add-in only reads it.
    ProgramResult console = RunProgram("\"" + BinPath("Console.exe") + "\" -r");
    ASSERT_EQ(console.exitCode, 0u) << console.output;

    IConsoleAddin* addin = Create<IConsoleAddin>(IID_IConsoleAddin);
    ASSERT_NE(addin, nullptr);
    ICServiceMgr* mgr = nullptr;
    ASSERT_EQ(addin->QueryInterface(kIidServiceMgr, reinterpret_cast<void**>(&mgr)), S_OK);

    struct Case {
        const char* name;
        IDispatch* via;
        const IID* described;
    } cases[] = {{"ICServiceMgr", mgr, &kIidServiceMgr}, {"IConsoleAddin", addin, &IID_IConsoleAddin}};
    for (const Case& c : cases) {
        UINT count = 0;
        EXPECT_EQ(c.via->GetTypeInfoCount(&count), S_OK) << c.name;
        EXPECT_EQ(count, 1u) << c.name;
        EXPECT_EQ(c.via->GetTypeInfo(0, 0, nullptr), E_POINTER) << c.name;
        for (UINT index : {0u, 5u}) {
            ITypeInfo* info = nullptr;
            ASSERT_EQ(c.via->GetTypeInfo(index, 0, &info), S_OK) << c.name;
            TYPEATTR* attr = nullptr;
            ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
            EXPECT_TRUE(IsEqualGUID(attr->guid, *c.described)) << c.name;
            info->ReleaseTypeAttr(attr);
            info->Release();
        }
    }

    // A call through the console's dispatch reaches the table and stores the id.
    LPOLESTR name = const_cast<LPOLESTR>(L"GetMenuItemTextId");
    DISPID id = -1;
    ASSERT_EQ(addin->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 3);
    long stored = 0;
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I4 | VT_BYREF;
    arg.plVal = &stored;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    EXCEPINFO excep = {};
    addin->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &excep, nullptr);
    EXPECT_EQ(stored, 102);
    LPOLESTR unknown = const_cast<LPOLESTR>(L"NoSuchOperation");
    EXPECT_NE(addin->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id), S_OK);

    mgr->Release();
    addin->Release();
}

// ---- the class object and the module's lock count ----

TEST_F(ComTest, ClassObjectIsCachedAndHoldsTheModuleWhileReferenced) {
    EXPECT_EQ(addin_.canUnloadNow(), S_OK);
    IClassFactory* first = Factory();
    IClassFactory* second = Factory();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(addin_.canUnloadNow(), S_FALSE) << "external references to the class object";
    second->Release();
    EXPECT_EQ(addin_.canUnloadNow(), S_FALSE) << "one external reference left";
    first->Release();
    EXPECT_EQ(addin_.canUnloadNow(), S_OK) << "only the class table's reference left";

    IClassFactory* factory = Factory();
    IUnknown* unknown = nullptr;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(factory));
    unknown->Release();
    void* other = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(factory->Release(), 1u) << "the class table keeps its own reference";

    factory = Factory();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(addin_.canUnloadNow(), S_FALSE) << "an unmatched LockServer(TRUE)";
    factory = Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(addin_.canUnloadNow(), S_OK);

    IUnknown* instance = Create<IUnknown>(IID_IUnknown);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(addin_.canUnloadNow(), S_FALSE) << "a live instance";
    instance->Release();
    EXPECT_EQ(addin_.canUnloadNow(), S_OK);
}

TEST_F(ComTest, ClassObjectRefusesUnknownClassesBadPointersAndAggregationWithoutIUnknown) {
    const CLSID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    void* out = nullptr;
    EXPECT_EQ(addin_.getClassObject(other, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);

    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    IUnknown* outer = Create<IUnknown>(IID_IUnknown);  // any object will do as the outer one
    for (const IID* iid : {&kIidServiceMgr, &IID_IConsoleAddin, &IID_IDispatch}) {
        void* result = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(factory->CreateInstance(outer, *iid, &result), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(result, nullptr);
    }
    void* refused = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &refused), E_NOINTERFACE);
    EXPECT_EQ(refused, nullptr);
    outer->Release();
    factory->Release();
    EXPECT_EQ(addin_.canUnloadNow(), S_OK) << "a refused instance was not destroyed";
}

// An outer object that counts what the inner object sends it.
class CountingOuter : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        ++queries;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    long refs = 1;
    int queries = 0;
};

TEST_F(ComTest, AggregatedObjectDelegatesToItsOuterObject) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    CountingOuter outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    factory->Release();
    EXPECT_EQ(outer.refs, 1) << "the inner IUnknown counts for itself";

    IConsoleAddin* addin = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IConsoleAddin, reinterpret_cast<void**>(&addin)), S_OK);
    EXPECT_EQ(outer.refs, 2) << "an interface of the inner object counts on the outer one";
    IUnknown* identity = nullptr;
    ASSERT_EQ(addin->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, &outer) << "identity is the outer object's";
    EXPECT_GE(outer.queries, 1);
    identity->Release();
    // The outer object does not know ICServiceMgr: the table answers.
    ICServiceMgr* mgr = nullptr;
    EXPECT_EQ(addin->QueryInterface(kIidServiceMgr, reinterpret_cast<void**>(&mgr)), S_OK);
    ASSERT_NE(mgr, nullptr);
    mgr->Release();
    addin->Release();
    EXPECT_EQ(outer.refs, 1);
    IUnknown* self = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self)), S_OK);
    EXPECT_EQ(self, inner);
    self->Release();
    EXPECT_EQ(addin_.canUnloadNow(), S_FALSE);
    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(addin_.canUnloadNow(), S_OK);
}

// ---- registration ----

struct ExpectedKey {
    std::string path;
    std::string defaultValue;
    std::vector<std::string> subkeys;
    std::vector<std::string> values;
};

std::vector<ExpectedKey> ExpectedKeys() {
    std::string dll = BinPath("Sentrydesk.dll");
    std::string cls = kClassKey;
    return {
        {"OVCoreLib.CServiceMgr.1", "SERVICE_MGR", {"CLSID"}, {""}},
        {"OVCoreLib.CServiceMgr.1\\CLSID", kClsid, {}, {""}},
        {"OVCoreLib.CServiceMgr", "SERVICE_MGR", {"CLSID"}, {""}},
        {"OVCoreLib.CServiceMgr\\CLSID", kClsid, {}, {""}},
        {cls, "SERVICE_MGR", {"InprocServer32", "ProgID", "VersionIndependentProgID"}, {""}},
        {cls + "\\ProgID", "OVCoreLib.CServiceMgr.1", {}, {""}},
        {cls + "\\VersionIndependentProgID", "OVCoreLib.CServiceMgr", {}, {""}},
        {cls + "\\InprocServer32", dll, {}, {"", "ThreadingModel"}},
    };
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    for (auto& s : v) std::transform(s.begin(), s.end(), s.begin(), ::tolower);
    std::sort(v.begin(), v.end());
    return v;
}

void ExpectRegistered() {
    for (const ExpectedKey& key : ExpectedKeys()) {
        ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key.path)) << key.path;
        EXPECT_STRCASEEQ(ReadString(HKEY_CLASSES_ROOT, key.path).c_str(), key.defaultValue.c_str())
            << key.path;
        EXPECT_EQ(Sorted(SubkeyNames(HKEY_CLASSES_ROOT, key.path)), Sorted(key.subkeys)) << key.path;
        EXPECT_EQ(Sorted(ValueNames(HKEY_CLASSES_ROOT, key.path)), Sorted(key.values)) << key.path;
    }
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32", "ThreadingModel"),
              "both");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::string(kTypeLibKey) + "\\1.0"),
              "Sentrydesk 1.0 Type Library");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kInterfaceKey));
}

void ExpectUnregistered() {
    for (const char* key :
         {"OVCoreLib.CServiceMgr.1", "OVCoreLib.CServiceMgr", kClassKey, kTypeLibKey, kInterfaceKey})
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
}

class RegistrationTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        components_ = LoadExports("OrvaneComponents.dll");
        addin_.unregisterServer();
        // Keys a former registration might have left that we never write.
        DeleteTree(HKEY_CLASSES_ROOT, "OVCoreLib.CServiceMgr");
        DeleteTree(HKEY_CLASSES_ROOT, "OVCoreLib.CServiceMgr.1");
        DeleteTree(HKEY_CLASSES_ROOT, kClassKey);
    }
    void TearDown() override {
        if (components_.module) FreeLibrary(components_.module);
        ComTest::TearDown();
    }
    Exports components_;
};

TEST_F(RegistrationTest, WritesExactlyTheListedKeysAndRemovesThemAgain) {
    if (components_.unregisterServer) components_.unregisterServer();
    ASSERT_EQ(addin_.registerServer(), S_OK) << "registration without the local-system component";
    ExpectRegistered();
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "OVCoreLib.CServiceMgr\\CurVer"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Programmable"));

    EXPECT_EQ(addin_.unregisterServer(), S_OK);
    ExpectUnregistered();
    EXPECT_EQ(addin_.unregisterServer(), S_OK) << "a second unregistration";
    ExpectUnregistered();
}

TEST_F(RegistrationTest, AnnouncesTheClassBeforeItsKeysExist) {
    if (!components_.registerServer) GTEST_SKIP() << "OrvaneComponents.dll is not built";
    ASSERT_EQ(components_.registerServer(), S_OK);
    DeleteTree(HKEY_LOCAL_MACHINE, kLocalSystemKey);

    ASSERT_EQ(addin_.registerServer(), S_OK);
    std::vector<std::string> announced =
        ReadMultiString(HKEY_LOCAL_MACHINE, kLocalSystemKey, "AnnouncedClasses");
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0], std::string(kClsid) + " 1 keys-absent");
    ExpectRegistered();

    // The component does see keys that exist: a second registration is told apart.
    ASSERT_EQ(addin_.registerServer(), S_OK);
    announced = ReadMultiString(HKEY_LOCAL_MACHINE, kLocalSystemKey, "AnnouncedClasses");
    ASSERT_EQ(announced.size(), 2u);
    EXPECT_EQ(announced[1], std::string(kClsid) + " 1 keys-present");

    // Unregistration leaves the component alone.
    EXPECT_EQ(addin_.unregisterServer(), S_OK);
    EXPECT_EQ(ReadMultiString(HKEY_LOCAL_MACHINE, kLocalSystemKey, "AnnouncedClasses").size(), 2u);
    ExpectUnregistered();
    components_.unregisterServer();
}

TEST_F(RegistrationTest, RegistrationToolsSeeTheSameKeys) {
    std::string dll = "\"" + BinPath("Sentrydesk.dll") + "\"";
    ProgramResult reg = RunProgram("regsvr32 /s " + dll);
    ASSERT_EQ(reg.exitCode, 0u) << reg.output;
    ExpectRegistered();

    ProgramResult query = RunProgram(std::string("reg query HKCR\\") + kClassKey + " /s");
    EXPECT_EQ(query.exitCode, 0u);
    for (const char* text : {"InprocServer32", "ThreadingModel", "both", "ProgID", "OVCoreLib.CServiceMgr.1",
                             "VersionIndependentProgID", "SERVICE_MGR", "Sentrydesk.dll"})
        EXPECT_NE(query.output.find(text), std::string::npos) << text << " in\n" << query.output;
    query = RunProgram("reg query HKCR\\OVCoreLib.CServiceMgr /s");
    EXPECT_NE(query.output.find(kClsid), std::string::npos) << query.output;
    EXPECT_EQ(query.output.find("CurVer"), std::string::npos) << query.output;

    ProgramResult unreg = RunProgram("regsvr32 /s /u " + dll);
    ASSERT_EQ(unreg.exitCode, 0u) << unreg.output;
    ExpectUnregistered();
    for (std::string key : {std::string("HKCR\\") + kClassKey, std::string("HKCR\\") + kTypeLibKey,
                            std::string("HKCR\\OVCoreLib.CServiceMgr")}) {
        query = RunProgram("reg query " + key);
        EXPECT_NE(query.exitCode, 0u) << key << " still there:\n" << query.output;
    }
}

TEST_F(RegistrationTest, ConsoleCreatesTheClassThroughItsProgId) {
    ASSERT_EQ(addin_.registerServer(), S_OK);
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"OVCoreLib.CServiceMgr", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, kClsidServiceMgr));
    ASSERT_EQ(CLSIDFromProgID(L"OVCoreLib.CServiceMgr.1", &clsid), S_OK);
    IConsoleAddin* addin = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IConsoleAddin,
                               reinterpret_cast<void**>(&addin)),
              S_OK);
    long id = 0;
    addin->GetPromptId(&id);
    EXPECT_EQ(id, 105);
    addin->Release();
    addin_.unregisterServer();
}

}  // namespace
