// The suite's communication library (stand-in): one delivery function, exported by ordinal only.
#pragma once

#include <stddef.h>

namespace orvane_comm {
constexpr int kDeliverOrdinal = 10;
constexpr size_t kRecordSize = 220;
constexpr size_t kHostOffset = 26;  // the sender's host, 16 bytes, NUL-padded when shorter
constexpr size_t kHostSize = 16;
constexpr int kStored = 1;
constexpr int kRefused = 0;
}  // namespace orvane_comm

// Stores one 220-byte record for `destination`; 1 when stored, 0 when refused.
extern "C" int __cdecl OrvaneDeliver(const char* destination, const unsigned char* record);
typedef int(__cdecl* OrvaneDeliverFn)(const char* destination, const unsigned char* record);
