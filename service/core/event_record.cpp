#include "event_record.h"

#include <cstring>

namespace {

// As strncpy fills a slot: the text up to the slot's size, NULs after it, no terminator forced.
void FillSlot(EventRecord& record, std::size_t offset, std::size_t size, const char* text) {
    std::size_t n = text == nullptr ? 0 : strnlen(text, size);
    if (n > 0) std::memcpy(record.data() + offset, text, n);
}

}  // namespace

EventRecord BuildEventRecord(const char* localServer, const char* host, const char* eventId,
                             const char* text) {
    EventRecord record{};  // every byte not filled below is NUL
    FillSlot(record, kFirstCodeOffset, kFirstCodeSize, kFirstCode);
    FillSlot(record, kSecondCodeOffset, kSecondCodeSize, kSecondCode);
    FillSlot(record, kLocalServerOffset, kLocalServerSize, localServer);
    FillSlot(record, kHostOffset, kHostSize, host);
    FillSlot(record, kThirdCodeOffset, kThirdCodeSize, kThirdCode);
    FillSlot(record, kFourthCodeOffset, kFourthCodeSize, kFourthCode);
    FillSlot(record, kEventIdOffset, kEventIdSize, eventId);
    FillSlot(record, kTextOffset, kTextSize - 1, text);
    return record;
}

std::string RecordSender(const unsigned char* record) {
    return std::string(reinterpret_cast<const char*>(record) + kHostOffset, kHostSize);
}
