// A message's event records: one for the local server and one for every listed server, made and
// then delivered through the service's forwarding.
#pragma once

#include <string>
#include <vector>

#include "event_record.h"

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
// Delivers them in order through the forwarding that StartForwarding set up; needs no COM.
// kRecordAccepted when the last record was delivered at once, else 0 (it was spooled or lost).
int DeliverRecords(const PreparedMessage& records);

// Both of the above.
int ForwardEvent(const char* host, const char* text);
// One record for one destination, made and delivered: kRecordAccepted when it was delivered at
// once; 0 otherwise, also when no UUID could be made (then nothing is delivered).
int SendEventRecord(const char* host, const char* destination, const char* text);
