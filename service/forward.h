// Forwarding one message to the local server and to every listed server.
#pragma once

#include <string>
#include <vector>

#include "event_record.h"

constexpr int kDeliveryAttempts = 10;
constexpr int kRetryWaitModulusMs = 1000;

// A message's records, made and waiting for delivery, in delivery order: the local server's, then
// each listed server's. A record without a UUID is not made and is never delivered.
struct PreparedRecord {
    std::string destination;
    EventRecord record;
    bool made = false;
};
using PreparedMessage = std::vector<PreparedRecord>;

// Makes the message's records: COM must be initialised on the calling thread.
PreparedMessage PrepareForward(const char* host, const char* text);
// Delivers them in order; needs no COM. Returns the last record's delivery result.
int DeliverRecords(const PreparedMessage& records);

// Both of the above. Returns the last record's delivery result.
int ForwardEvent(const char* host, const char* text);
// 1 when the record was delivered; 0 when no UUID could be made (then nothing is delivered).
int SendEventRecord(const char* host, const char* destination, const char* text);
