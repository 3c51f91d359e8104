// The spool's bytes on disk: record frames, the delivered-position file and the file names.
// Pure C++, so that the format is tested natively as the data rule it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A frame: magic, payload length and CRC-32 (little-endian, 4 bytes each), then the payload. The
// checksum covers the length and the payload, so a damaged length is caught as well.
constexpr unsigned char kFrameMagic[4] = {'O', 'V', 'S', 'R'};
constexpr std::size_t kFrameHeaderBytes = 12;
constexpr std::size_t kMaxPayloadBytes = 4096;

// The delivered position: magic, segment number and offset (8 bytes each), CRC-32 of the rest.
constexpr unsigned char kStateMagic[4] = {'O', 'V', 'S', 'D'};
constexpr std::size_t kStateBytes = 24;

constexpr const char* kSegmentSuffix = ".spl";
constexpr const char* kStateSuffix = ".state";
// Longest spool name before it is cut and tagged with a checksum.
constexpr std::size_t kMaxSpoolNameChars = 64;

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc = 0);

// The frame of one payload; empty when the payload is empty or longer than kMaxPayloadBytes.
std::string EncodeFrame(const void* payload, std::size_t size);

// Where the first intact frame at or after `from` lies, within [from, end).
struct FrameFind {
    bool found = false;
    std::uint64_t at = 0;       // the frame's offset; when not found, end
    std::uint32_t length = 0;   // its payload length
    std::uint64_t skipped = 0;  // damaged bytes passed over before it (or before end)
};

// Bytes of a segment, fetched on demand: the reader keeps a window, so that reading a run of
// frames costs one file read per window.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Points at `size` bytes from `offset`, or returns null when they cannot be read.
    virtual const unsigned char* Bytes(std::uint64_t offset, std::size_t size) = 0;
    // A read failed (as opposed to the bytes being damaged).
    virtual bool Failed() const = 0;
};

FrameFind FindFrame(ByteSource& source, std::uint64_t from, std::uint64_t end);

struct SpoolPosition {
    std::uint64_t segment = 0;
    std::uint64_t offset = 0;
};
std::string EncodePosition(const SpoolPosition& position);
// False when the bytes are not an intact position.
bool DecodePosition(const std::string& bytes, SpoolPosition* position);

// The destination identifier made safe for a file name: letters, digits, '-' and '_' kept, every
// other byte as %XX. Windows compares names without case and reserves device names, so a name
// with capitals, a reserved one, an empty one or a long one (cut) gains "~" and the identifier's
// CRC-32 in hexadecimal: two destinations never share a spool.
std::string SpoolName(const std::string& destination);
// "<spool name>.<segment number, 8 digits at least>.spl".
std::string SegmentFileName(const std::string& spoolName, std::uint64_t segment);
// The segment number of one of this spool's segment files; false for any other name.
bool ParseSegmentFileName(const std::string& spoolName, const std::string& fileName, std::uint64_t* segment);
