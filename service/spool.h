// One destination's spool: the records its delivery refused, kept on disk in arrival order until
// they are delivered. Pure C++ over the file seam of spool_files.h.
//
// Files, in the folder given: "<name>.<segment>.spl", segments of framed records that roll over
// at a size and are deleted once every record in them is delivered, and "<name>.state", the
// delivered position (segment and offset). The position is saved by Flush, so a crash delivers
// again what was delivered since the last flush: at least once, never lost.
//
// Not synchronised: the caller serialises the calls on one spool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "spool_files.h"

constexpr std::uint64_t kSpoolDefaultMaxBytes = 1ull << 30;
constexpr std::uint64_t kSpoolSegmentBytes = 4ull << 20;
// A segment is at most this share of the maximum, so that delivery frees space in steps.
constexpr std::uint64_t kSpoolSegmentsPerMax = 4;
constexpr std::size_t kSpoolReadWindowBytes = 64 * 1024;
constexpr const char* kSpoolFolderName = "spool\\";

struct SpoolLimits {
    std::uint64_t maxBytes = kSpoolDefaultMaxBytes;  // of the segment files, framing included
    std::uint64_t segmentBytes = kSpoolSegmentBytes;
};

enum class SpoolAppend { kAppended, kFull, kFailed };
enum class SpoolHead { kRecord, kEmpty, kFailed };

// What the scan of the files earlier runs left found.
struct SpoolOpen {
    bool ok = false;                   // the folder could be made and listed
    std::uint64_t records = 0;         // undelivered records
    std::uint64_t damagedRegions = 0;  // torn tails and damaged frames, each skipped
    std::uint64_t damagedBytes = 0;
    // Segments that could not be read: left in place, delivered again after them at the next open.
    std::uint64_t unreadableFiles = 0;
    bool positionLost = false;  // damaged position file: delivery starts again from the oldest record
};

class SpoolWindow;

class CSpool {
public:
    CSpool(std::unique_ptr<ISpoolFolder> folder, const std::string& destination, SpoolLimits limits = {});
    // Saves the delivered position.
    ~CSpool();
    CSpool(const CSpool&) = delete;
    CSpool& operator=(const CSpool&) = delete;

    // Makes the folder and scans what is there. Append and Head open on first use when this
    // was not called or failed.
    SpoolOpen Open();
    // The record as given, behind every earlier one, in one write.
    SpoolAppend Append(const void* record, std::size_t size);
    // The oldest undelivered record; the same one until MarkDelivered.
    SpoolHead Head(std::vector<unsigned char>* record);
    // The record Head gave is delivered; a segment with nothing left is deleted.
    void MarkDelivered();
    // Appended records to the disk and the delivered position to its file; false when either
    // could not be written. Call it at least once a second while the spool is in use.
    bool Flush();

    bool Empty() const { return m_records == 0; }
    std::uint64_t Records() const { return m_records; }      // undelivered
    std::uint64_t Bytes() const { return m_bytes; }          // undelivered, framing included
    std::uint64_t DiskBytes() const { return m_diskBytes; }  // what the maximum bounds
    std::uint64_t Refused() const { return m_refused; }      // appends refused: spool full
    std::uint64_t Failed() const { return m_failed; }        // appends that could not be written
    // Damaged regions met while delivering that the scan at open had not seen.
    std::uint64_t LateDamage() const { return m_lateDamage; }
    // The destination as it appears in the file names.
    const std::string& Name() const { return m_name; }

private:
    struct Segment {
        std::uint64_t number = 0;
        std::uint64_t end = 0;  // bytes of the file that belong to the spool
        std::uint64_t records = 0, delivered = 0;
        std::uint64_t bytes = 0, deliveredBytes = 0;
        std::vector<std::uint64_t> damagedAt;  // where the scan skipped damage: silent at delivery
    };

    void Reset();
    bool ScanSegment(std::uint64_t number, std::uint64_t deliveredUpTo, SpoolOpen* found);
    std::uint64_t SegmentLimit() const;
    bool StartSegment();
    void CloseWriter();
    void DropHead();
    void Remove(const std::string& fileName);
    void Account(const Segment& s, int sign);
    bool Writing(const Segment& s) const { return m_writer && &s == &m_segments.back(); }

    std::unique_ptr<ISpoolFolder> m_folder;
    std::string m_name;
    SpoolLimits m_limits;
    bool m_opened = false;

    std::deque<Segment> m_segments;
    std::uint64_t m_nextSegment = 1;
    std::unique_ptr<ISpoolFile> m_writer;  // the last segment, while it takes records
    bool m_unflushed = false;
    std::unique_ptr<SpoolWindow> m_reader;  // the first segment, while records are read from it
    std::uint64_t m_cursor = 0;            // in the first segment: where undelivered data starts
    bool m_haveHead = false;
    std::uint64_t m_headEnd = 0;
    std::vector<unsigned char> m_head;
    bool m_positionDirty = false;
    std::vector<std::string> m_unremoved;  // delivered segments whose deletion failed: tried again
    std::uint64_t m_unreadable = 0;        // the first segment the scan could not read, or 0

    std::uint64_t m_records = 0, m_bytes = 0, m_diskBytes = 0;
    std::uint64_t m_refused = 0, m_failed = 0, m_lateDamage = 0;
};

// The error-log line for what the scan at open found damaged, or empty when nothing was.
std::string SpoolDamageLine(const std::string& destination, const SpoolOpen& found);
