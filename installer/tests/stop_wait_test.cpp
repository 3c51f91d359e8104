// The package's stop before files are replaced: it must end only once the service's process has
// ended, since a process that reported STOPPED still maps its program for a moment. Driven with
// a stand-in service whose process outlives its STOPPED report by seconds, under the real name.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>

#include <chrono>
#include <string>

#include "ovtest/wait_until.h"
#include "ovwin/handles.h"
#include "ovwin/registry_names.h"
#include "ovwin/service_wait.h"

namespace {

using StopAction = UINT(__stdcall*)(MSIHANDLE);

std::string Beside(const char* name) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of('\\') + 1) + name;
}

// Whatever an earlier run or another test left under the name goes first.
void RemoveService(SC_HANDLE manager) {
    ovwin::UniqueScHandle old(OpenServiceA(manager, ovwin::kSyslogService, SERVICE_ALL_ACCESS));
    if (!old) return;
    SERVICE_STATUS status = {};
    ControlService(old.get(), SERVICE_CONTROL_STOP, &status);
    ovtest::WaitUntil([&] { return ovwin::QueryState(old.get()) == SERVICE_STOPPED; },
                      std::chrono::seconds(60));
    DeleteService(old.get());
}

class StopServiceAndWait : public ::testing::Test {
protected:
    void SetUp() override {
        m_manager.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(m_manager) << GetLastError();
        RemoveService(m_manager.get());
        ASSERT_TRUE(ovtest::WaitUntil([&] { return !Open(); }, std::chrono::seconds(20)))
            << "the earlier service is still there";
        m_actions.reset(LoadLibraryA(Beside("OVSyslogSetup.dll").c_str()));
        ASSERT_TRUE(m_actions) << "OVSyslogSetup.dll: " << GetLastError();
        m_stop = reinterpret_cast<StopAction>(
            reinterpret_cast<void*>(GetProcAddress(m_actions.get(), "StopServiceAndWait")));
        ASSERT_NE(m_stop, nullptr);
    }
    void TearDown() override {
        if (m_manager) RemoveService(m_manager.get());
    }
    bool Open() {
        ovwin::UniqueScHandle service(
            OpenServiceA(m_manager.get(), ovwin::kSyslogService, SERVICE_QUERY_STATUS));
        return static_cast<bool>(service);
    }

    ovwin::UniqueScHandle m_manager;
    ovwin::UniqueModule m_actions;
    StopAction m_stop = nullptr;
};

TEST_F(StopServiceAndWait, EndsOnlyOnceTheServiceProcessHasEnded) {
    std::string program = "\"" + Beside("lingering_service.exe") + "\"";
    ovwin::UniqueScHandle service(CreateServiceA(m_manager.get(), ovwin::kSyslogService, "stop-wait stand-in",
                                                 SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, program.c_str(),
                                                 nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(service) << GetLastError();
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(ovtest::WaitUntil([&] { return ovwin::QueryState(service.get()) == SERVICE_RUNNING; },
                                  std::chrono::seconds(20)));
    SERVICE_STATUS_PROCESS status = {};
    DWORD size = 0;
    ASSERT_TRUE(QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                     sizeof status, &size));
    ovwin::UniqueHandleT process(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
    ASSERT_TRUE(process) << GetLastError();

    EXPECT_EQ(m_stop(0), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(ovwin::QueryState(service.get()), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(WaitForSingleObject(process.get(), 0), WAIT_OBJECT_0)
        << "the stop ended while the service's process still ran";
}

TEST_F(StopServiceAndWait, NoServiceIsNothingToStop) {
    EXPECT_EQ(m_stop(0), static_cast<UINT>(ERROR_SUCCESS));
}

}  // namespace
