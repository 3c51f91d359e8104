// The outbox folder: one append-only file of records per destination, and calls.log.
#pragma once

#include <string>

namespace orvane_comm {

// Serialises writers across threads and processes, so records and lines never interleave.
constexpr const char* kOutboxMutexName = "OrvaneCommStandInOutbox";

class Outbox {
 public:
  explicit Outbox(std::string dir) : dir_(std::move(dir)) {}
  // Creates the folder and any missing parents; true when it exists afterwards.
  bool Ensure() const;
  // Appends the whole record in one write; false when the file or the write failed.
  bool AppendRecord(const std::string& stem, const unsigned char* record, size_t size) const;
  bool AppendCall(const std::string& line) const;

 private:
  bool Append(const std::string& name, const void* data, size_t size) const;
  std::string dir_;
};

}  // namespace orvane_comm
