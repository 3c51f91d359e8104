#include "datagram_handoff.h"

#include <cstdlib>
#include <cstring>

namespace {

struct HandoffBlock {
    DatagramHandoff handoff;
    SenderAddress address;
    char data[1];  // the datagram's own length
};

}  // namespace

std::size_t HandoffBytes(int length) {
    return offsetof(HandoffBlock, data) + static_cast<std::size_t>(length);
}

DatagramHandoff* NewHandoff(SyslogCallback callback, const char* data, int length,
                            const SenderAddress& address, std::uint16_t sourcePort) {
    auto* block = static_cast<HandoffBlock*>(std::malloc(HandoffBytes(length)));
    if (block == nullptr) return nullptr;
    block->address = address;
    std::memcpy(block->data, data, static_cast<std::size_t>(length));
    block->handoff = DatagramHandoff{callback, block->data, length, &block->address, sourcePort};
    return &block->handoff;
}

// The record is the block's first member, so its address is the block's.
void FreeHandoff(DatagramHandoff* handoff) { std::free(handoff); }
