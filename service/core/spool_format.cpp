#include "spool_format.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace {

std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

void PutLe(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t GetLe(const unsigned char* p, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

bool IsKept(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

bool IsReservedDeviceName(const std::string& name) {
    std::string lower;
    for (char c : name) lower.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    static const char* const kDevices[] = {"con", "prn", "aux", "nul"};
    for (const char* device : kDevices)
        if (lower == device) return true;
    return lower.size() == 4 && (lower.compare(0, 3, "com") == 0 || lower.compare(0, 3, "lpt") == 0) &&
           lower[3] >= '1' && lower[3] <= '9';
}

}  // namespace

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc) {
    static const std::array<std::uint32_t, 256> table = MakeCrcTable();
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint32_t c = ~crc;
    for (std::size_t i = 0; i < size; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}

std::string EncodeFrame(const void* payload, std::size_t size) {
    if (size == 0 || size > kMaxPayloadBytes) return {};
    std::string length;
    PutLe(length, size, 4);
    std::uint32_t crc = Crc32(payload, size, Crc32(length.data(), length.size()));
    std::string frame(reinterpret_cast<const char*>(kFrameMagic), sizeof kFrameMagic);
    frame += length;
    PutLe(frame, crc, 4);
    frame.append(static_cast<const char*>(payload), size);
    return frame;
}

FrameFind FindFrame(ByteSource& source, std::uint64_t from, std::uint64_t end) {
    FrameFind result;
    for (std::uint64_t at = from; at < end && end - at >= kFrameHeaderBytes; ++at) {
        const unsigned char* header = source.Bytes(at, kFrameHeaderBytes);
        if (header == nullptr) {
            result.at = at;
            return result;
        }
        if (std::memcmp(header, kFrameMagic, sizeof kFrameMagic) != 0) continue;
        std::uint64_t length = GetLe(header + 4, 4);
        if (length == 0 || length > kMaxPayloadBytes || length > end - at - kFrameHeaderBytes) continue;
        const unsigned char* frame = source.Bytes(at, kFrameHeaderBytes + length);
        if (frame == nullptr) {
            result.at = at;
            return result;
        }
        std::uint32_t crc = Crc32(frame + kFrameHeaderBytes, length, Crc32(frame + 4, 4));
        if (crc != GetLe(frame + 8, 4)) continue;
        result.found = true;
        result.at = at;
        result.length = static_cast<std::uint32_t>(length);
        result.skipped = at - from;
        return result;
    }
    result.at = end;
    result.skipped = end > from ? end - from : 0;
    return result;
}

std::string EncodePosition(const SpoolPosition& position) {
    std::string bytes(reinterpret_cast<const char*>(kStateMagic), sizeof kStateMagic);
    PutLe(bytes, position.segment, 8);
    PutLe(bytes, position.offset, 8);
    PutLe(bytes, Crc32(bytes.data(), bytes.size()), 4);
    return bytes;
}

bool DecodePosition(const std::string& bytes, SpoolPosition* position) {
    if (bytes.size() != kStateBytes ||
        bytes.compare(0, 4, reinterpret_cast<const char*>(kStateMagic), 4) != 0)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (Crc32(p, kStateBytes - 4) != GetLe(p + kStateBytes - 4, 4)) return false;
    position->segment = GetLe(p + 4, 8);
    position->offset = GetLe(p + 12, 8);
    return true;
}

std::string SpoolName(const std::string& destination) {
    std::string name;
    bool tag = destination.empty();
    for (unsigned char c : destination) {
        if (IsKept(c)) {
            name.push_back(static_cast<char>(c));
        } else if (c >= 'A' && c <= 'Z') {
            name.push_back(static_cast<char>(c));
            tag = true;
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            name += escape;
        }
    }
    if (IsReservedDeviceName(name)) tag = true;
    if (name.size() > kMaxSpoolNameChars) {
        std::size_t cut = kMaxSpoolNameChars;
        // Never in the middle of an escape.
        if (name[cut - 1] == '%')
            cut -= 1;
        else if (name[cut - 2] == '%')
            cut -= 2;
        name.resize(cut);
        tag = true;
    }
    if (tag) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "~%08lx",
                      static_cast<unsigned long>(Crc32(destination.data(), destination.size())));
        name += suffix;
    }
    return name;
}

std::string SegmentFileName(const std::string& spoolName, std::uint64_t segment) {
    char number[32];
    std::snprintf(number, sizeof number, ".%08llu", static_cast<unsigned long long>(segment));
    return spoolName + number + kSegmentSuffix;
}

bool ParseSegmentFileName(const std::string& spoolName, const std::string& fileName, std::uint64_t* segment) {
    const std::string suffix = kSegmentSuffix;
    std::size_t head = spoolName.size() + 1;
    if (fileName.size() <= head + suffix.size() || fileName.compare(0, spoolName.size(), spoolName) != 0 ||
        fileName[spoolName.size()] != '.' ||
        fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    std::string digits = fileName.substr(head, fileName.size() - suffix.size() - head);
    if (digits.size() > 19) return false;  // beyond that it may not fit 64 bits
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    *segment = value;
    return true;
}
