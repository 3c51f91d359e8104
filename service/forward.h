// Forwarding one message to the local server and to every listed server.
#pragma once

constexpr int kDeliveryAttempts = 10;
constexpr int kRetryWaitModulusMs = 1000;

// COM must be initialised on the calling thread. Returns the last record's delivery result.
int ForwardEvent(const char* host, const char* text);
// 1 when the record was delivered; 0 when no UUID could be made (then nothing is delivered).
int SendEventRecord(const char* host, const char* destination, const char* text);
