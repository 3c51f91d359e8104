#include "outbox.h"

#include <windows.h>

#include "outbox_names.h"

using namespace ovwin;

namespace orvane_comm {
namespace {

bool IsDirectory(const std::string& path) {
    DWORD attr = GetFileAttributesA(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

// A file unlinked from the host side since it was opened no longer shows in the folder.
bool StillInFolder(HANDLE file) {
    FILE_STANDARD_INFO info{};
    return GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) &&
           info.NumberOfLinks > 0 && !info.DeletePending;
}

}  // namespace

void Outbox::UseFolder(const std::string& dir) {
    if (dir == dir_) return;
    files_.clear();
    dir_ = dir;
}

bool Outbox::Ensure() const {
    if (IsDirectory(dir_)) return true;
    // Create each missing level from the top down; a level that exists already fails harmlessly.
    for (size_t i = 0; i <= dir_.size(); ++i) {
        if (i == dir_.size() || dir_[i] == '\\' || dir_[i] == '/') {
            std::string part = dir_.substr(0, i);
            if (!part.empty() && part.back() != ':') CreateDirectoryA(part.c_str(), nullptr);
        }
    }
    return IsDirectory(dir_);
}

HANDLE Outbox::Open(const std::string& name) const {
    std::string path = dir_;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
    path += name;
    // No FILE_SHARE_DELETE: Wine does not report a pending deletion on the open handle, so a file
    // deleted through Windows would take the records written after it when the handle closes.
    // Refusing the deletion while the file is open loses nothing; a file unlinked from the host
    // side is still noticed.
    return CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE Outbox::File(const std::string& name) {
    auto found = files_.find(name);
    if (found != files_.end()) {
        if (StillInFolder(found->second.get())) return found->second.get();
        files_.erase(found);
    }
    // The folder itself may have gone with the file.
    HANDLE file = Open(name);
    if (file == INVALID_HANDLE_VALUE && Ensure()) file = Open(name);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    if (files_.size() >= kMaxOpenFiles) files_.clear();
    return files_.emplace(name, UniqueHandleT(file)).first->second.get();
}

bool Outbox::Append(const std::string& name, const void* data, size_t size) {
    HANDLE file = File(name);
    if (file == nullptr) return false;
    // FILE_APPEND_DATA alone does not move the position on every platform: go to the end first.
    if (SetFilePointer(file, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return false;
    DWORD written = 0;
    if (WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size) return true;
    files_.erase(name);  // a handle that failed once is not trusted again
    return false;
}

bool Outbox::AppendRecord(const std::string& stem, const unsigned char* record, size_t size) {
    return Append(stem + kRecordExtension, record, size);
}

bool Outbox::AppendCall(const std::string& line) { return Append(kCallsLogName, line.data(), line.size()); }

}  // namespace orvane_comm
