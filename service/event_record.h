// The 220-byte event record handed to the suite's communication library. Pure C++: the layout is
// a data rule and is tested natively as well.
#pragma once

#include <array>
#include <cstddef>

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

constexpr const char* kFirstCode = "70";
constexpr const char* kSecondCode = "1";
constexpr const char* kThirdCode = "12";
constexpr const char* kFourthCode = "1";

using EventRecord = std::array<unsigned char, kEventRecordSize>;

// Null texts count as empty. The text slot keeps at least one NUL at its end.
EventRecord BuildEventRecord(const char* localServer, const char* host, const char* eventId,
                             const char* text);
