#include "actions.h"

#include <vector>

namespace ovsetup {

std::string GetProperty(MSIHANDLE install, const char* name) {
    char empty[1] = "";
    DWORD size = 0;
    if (MsiGetPropertyA(install, name, empty, &size) != ERROR_MORE_DATA) return std::string();
    std::vector<char> text(size + 1);
    size = static_cast<DWORD>(text.size());
    if (MsiGetPropertyA(install, name, text.data(), &size) != ERROR_SUCCESS) return std::string();
    return std::string(text.data(), size);
}

std::string ActionData(MSIHANDLE install) { return GetProperty(install, "CustomActionData"); }

namespace {

class Record {
public:
    explicit Record(const std::string& text) : m_handle(MsiCreateRecord(1)) {
        MsiRecordSetStringA(m_handle, 0, text.c_str());
    }
    ~Record() { MsiCloseHandle(m_handle); }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
    MSIHANDLE get() const { return m_handle; }

private:
    MSIHANDLE m_handle;
};

void Say(MSIHANDLE install, INSTALLMESSAGE kind, const std::string& text) {
    Record record(text);
    MsiProcessMessage(install, kind, record.get());
}

}  // namespace

void Log(MSIHANDLE install, const std::string& text) { Say(install, INSTALLMESSAGE_INFO, text); }

UINT Fail(MSIHANDLE install, const std::string& text) {
    Say(install, INSTALLMESSAGE_ERROR, text);
    return ERROR_INSTALL_FAILURE;
}

}  // namespace ovsetup
