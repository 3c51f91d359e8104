// One destination's spool: the records its delivery refused, kept on disk in arrival order until
// they are delivered. Pure C++ over the file seam of spool_files.h.
//
// Files, in the folder given: "<name>.<segment>.spl", segments of framed records that roll over
// at a size, and "<name>.state", the delivered position (segment and offset). The position is
// saved by Flush, so a crash delivers again what was delivered since the last flush: at least
// once, never lost. A delivered segment is deleted only once a position past it is saved, and a
// new segment never takes a number that a saved position names, so a stale position can never
// count another segment's records as delivered.
//
// Records are read ahead of the delivered position (ReadNext) and marked delivered oldest first
// (MarkDelivered), so that a caller can have several on their way at once.
//
// Not synchronised: the caller serialises the calls on one spool. Only RunScan, on a scan that
// PrepareScan made, may run beside the other calls.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "spool_files.h"
#include "spool_format.h"

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

constexpr const char* kSetAsideSuffix = ".damaged";

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

// A segment file as the spool keeps count of it.
struct SpoolSegment {
    std::uint64_t number = 0;
    std::uint64_t end = 0;  // bytes of the file that belong to the spool
    std::uint64_t records = 0, delivered = 0;
    std::uint64_t bytes = 0, deliveredBytes = 0;
    std::vector<std::uint64_t> damagedAt;  // where the scan skipped damage: silent at delivery
    bool setAside = false;   // could not be read: renamed, not deleted, once its head is delivered
    std::uint64_t lost = 0;  // records it held that could not be read
};

// A segment set aside: the file it now is (the original name when it could not be renamed).
struct SpoolSetAside {
    std::string file;
    std::uint64_t records = 0;  // not delivered
};

// The segments an earlier run left, to be scanned apart from the spool's other work.
struct SpoolScan {
    std::string name;
    std::vector<std::uint64_t> numbers;
    SpoolPosition position;
    SpoolOpen found;
    std::vector<SpoolSegment> segments;  // the scanned ones with records left
    std::uint64_t unreadable = 0;        // the first that could not be read, or 0
    bool cancelled = false;              // stopped part way: not to be adopted
};

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
    // Open in three steps, so that a long scan holds nobody up: Attach makes the folder, reads the
    // position and lists the segments (appends may follow at once, into new segments);
    // PrepareScan hands out the listed segments; RunScan reads them, on a folder handle of its
    // own, beside anything but another Attach or Open; AdoptScan takes the result. Until it is
    // adopted, nothing is read for delivery and no position is saved.
    SpoolOpen Attach();
    bool Scanned() const { return m_scanned; }
    SpoolScan PrepareScan() const;
    // Ends early, cancelled, once *stop is set.
    static void RunScan(ISpoolFolder& folder, SpoolScan* scan, const std::atomic<bool>* stop = nullptr);
    // A cancelled scan is not adopted: the spool stays as Attach left it.
    SpoolOpen AdoptScan(SpoolScan&& scan);
    // The record as given, behind every earlier one, in one write.
    SpoolAppend Append(const void* record, std::size_t size);
    // The oldest undelivered record; the same one until MarkDelivered.
    SpoolHead Head(std::vector<unsigned char>* record);
    // The next record after those already read and not yet delivered. A segment that cannot be
    // opened or read is set aside and reading goes on with the next one.
    SpoolHead ReadNext(std::vector<unsigned char>* record);
    // The oldest record read and not yet delivered is delivered; a segment with nothing left goes.
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
    // Segments that could not be read while delivering, set aside.
    std::uint64_t SetAside() const { return m_setAside; }
    // The segments set aside and let go since the last call.
    std::vector<SpoolSetAside> TakeSetAside();

private:
    using Segment = SpoolSegment;
    // A record read ahead of the delivered position.
    struct Read {
        std::uint64_t segment;
        std::uint64_t end;  // of its frame
        std::uint64_t bytes;
        std::vector<unsigned char> record;
    };

    void Reset();
    static bool ScanSegment(ISpoolFolder& folder, const std::string& name, std::uint64_t number,
                            std::uint64_t deliveredUpTo, SpoolScan* scan, const std::atomic<bool>* stop);
    std::uint64_t SegmentLimit() const;
    bool StartSegment();
    void CloseWriter();
    void SetAsideReading(Segment& s);
    void Settle();
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
    bool m_scanned = true;
    SpoolScan m_toScan;                     // what Attach listed, until it is adopted
    std::unique_ptr<SpoolWindow> m_reader;  // the segment records are read from
    std::uint64_t m_cursor = 0;             // in the first segment: where undelivered data starts
    std::size_t m_readIndex = 0;            // the segment read from, counted from the first
    std::uint64_t m_readAt = 0;             // and where in it the next frame is looked for
    std::deque<Read> m_pending;             // read, not yet delivered, oldest first
    bool m_positionDirty = false;
    std::vector<std::string> m_delivered;  // deleted once a position past them is saved
    std::vector<std::string> m_unremoved;  // delivered segments whose deletion failed: tried again
    std::uint64_t m_unreadable = 0;        // the first segment the scan could not read, or 0
    std::vector<SpoolSetAside> m_setAsideFiles;

    std::uint64_t m_records = 0, m_bytes = 0, m_diskBytes = 0;
    std::uint64_t m_refused = 0, m_failed = 0, m_lateDamage = 0;
    std::uint64_t m_setAside = 0;
};

// The error-log line for what the scan at open found damaged, or empty when nothing was.
std::string SpoolDamageLine(const std::string& destination, const SpoolOpen& found);
