#include "outbox.h"

#include <windows.h>

#include "handles.h"
#include "outbox_names.h"

namespace orvane_comm {
namespace {

bool IsDirectory(const std::string& path) {
  DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

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

bool Outbox::Append(const std::string& name, const void* data, size_t size) const {
  std::string path = dir_;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  path += name;
  orvane::UniqueHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  // FILE_APPEND_DATA alone does not move the position on every platform: go to the end first.
  if (SetFilePointer(file.get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR)
    return false;
  DWORD written = 0;
  return WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) &&
         written == size;
}

bool Outbox::AppendRecord(const std::string& stem, const unsigned char* record,
                          size_t size) const {
  return Append(stem + kRecordExtension, record, size);
}

bool Outbox::AppendCall(const std::string& line) const {
  return Append(kCallsLogName, line.data(), line.size());
}

}  // namespace orvane_comm
