// The outbox folder: one append-only file of records per destination, and calls.log.
#pragma once

#include <map>
#include <string>

#include "ovwin/handles.h"

namespace orvane_comm {

// Serialises writers across threads and processes, so records and lines never interleave.
constexpr const char* kOutboxMutexName = "OrvaneCommStandInOutbox";
// Files kept open at most; past this all are closed and opened again as needed.
constexpr size_t kMaxOpenFiles = 64;

// Keeps its files open between calls, because opening one is the dearest part of a delivery under
// Wine. A file unlinked from the host side (a test clearing the outbox) is noticed and opened
// anew; deleting one through Windows fails while it is open. Not thread-safe: callers hold the
// outbox mutex.
class Outbox {
public:
    // A change of folder closes the files of the old one.
    void UseFolder(const std::string& dir);
    // Creates the folder and any missing parents; true when it exists afterwards.
    bool Ensure() const;
    // Appends the whole record in one write; false when the file or the write failed.
    bool AppendRecord(const std::string& stem, const unsigned char* record, size_t size);
    bool AppendCall(const std::string& line);

private:
    bool Append(const std::string& name, const void* data, size_t size);
    // The open file of that name, or null when it cannot be opened.
    HANDLE File(const std::string& name);
    HANDLE Open(const std::string& name) const;

    std::string dir_;
    std::map<std::string, ovwin::UniqueHandleT> files_;
};

}  // namespace orvane_comm
