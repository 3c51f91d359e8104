// The 220-byte event record handed to the suite's communication library. Pure C++: the layout is
// a data rule, checked below as it compiles, and its filling rules are tested natively as well.
#pragma once

#include <array>
#include <cstddef>
#include <string>

constexpr std::size_t kEventRecordSize = 220;

// Slot offsets and sizes, in record order.
constexpr std::size_t kFirstCodeOffset = 0, kFirstCodeSize = 5;
constexpr std::size_t kSecondCodeOffset = 5, kSecondCodeSize = 5;
constexpr std::size_t kLocalServerOffset = 10, kLocalServerSize = 16;
constexpr std::size_t kHostOffset = 26, kHostSize = 16;
constexpr std::size_t kThirdCodeOffset = 42, kThirdCodeSize = 5;
constexpr std::size_t kFourthCodeOffset = 47, kFourthCodeSize = 5;
constexpr std::size_t kEventIdOffset = 52, kEventIdSize = 40;
constexpr std::size_t kTextOffset = 92, kTextSize = 128;

// The slots tile the record: no gap, no overlap, nothing past its end.
static_assert(kFirstCodeOffset == 0, "the record starts with the first code");
static_assert(kFirstCodeOffset + kFirstCodeSize == kSecondCodeOffset, "first code");
static_assert(kSecondCodeOffset + kSecondCodeSize == kLocalServerOffset, "second code");
static_assert(kLocalServerOffset + kLocalServerSize == kHostOffset, "local server");
static_assert(kHostOffset + kHostSize == kThirdCodeOffset, "host");
static_assert(kThirdCodeOffset + kThirdCodeSize == kFourthCodeOffset, "third code");
static_assert(kFourthCodeOffset + kFourthCodeSize == kEventIdOffset, "fourth code");
static_assert(kEventIdOffset + kEventIdSize == kTextOffset, "event id");
static_assert(kTextOffset + kTextSize == kEventRecordSize, "text");

constexpr const char* kFirstCode = "70";
constexpr const char* kSecondCode = "1";
constexpr const char* kThirdCode = "12";
constexpr const char* kFourthCode = "1";

using EventRecord = std::array<unsigned char, kEventRecordSize>;

// Null texts count as empty. The text slot keeps at least one NUL at its end.
EventRecord BuildEventRecord(const char* localServer, const char* host, const char* eventId,
                             const char* text);

// The sender a record is ordered by on its way out: its host slot, as it stands.
std::string RecordSender(const unsigned char* record);
