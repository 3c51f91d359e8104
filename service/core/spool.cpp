#include "spool.h"

#include <algorithm>
#include <cstdio>

#include "spool_format.h"

// A segment file read through a window, so that a run of frames costs one read per window.
class SpoolWindow : public ByteSource {
public:
    SpoolWindow(std::unique_ptr<ISpoolFile> file, std::uint64_t segment, std::size_t window)
        : m_file(std::move(file)), m_segment(segment), m_window(window) {}

    std::uint64_t segment() const { return m_segment; }

    const unsigned char* Bytes(std::uint64_t offset, std::size_t size) override {
        if (offset >= m_at && offset - m_at + size <= m_length) return m_buffer.data() + (offset - m_at);
        m_buffer.resize(std::max(size, m_window));
        std::size_t got = 0;
        m_length = 0;
        if (!m_file->ReadAt(offset, m_buffer.data(), m_buffer.size(), &got) || got < size) {
            // Only bytes below the segment's known end are asked for: short means the file changed.
            m_failed = true;
            return nullptr;
        }
        m_at = offset;
        m_length = got;
        return m_buffer.data();
    }
    bool Failed() const override { return m_failed; }

private:
    std::unique_ptr<ISpoolFile> m_file;
    std::uint64_t m_segment;
    std::size_t m_window;
    std::vector<unsigned char> m_buffer;
    std::uint64_t m_at = 0;
    std::size_t m_length = 0;
    bool m_failed = false;
};

CSpool::CSpool(std::unique_ptr<ISpoolFolder> folder, const std::string& destination, SpoolLimits limits)
    : m_folder(std::move(folder)), m_name(SpoolName(destination)), m_limits(limits) {}

CSpool::~CSpool() {
    if (m_opened) Flush();
}

void CSpool::Reset() {
    m_opened = false;
    m_scanned = true;
    m_toScan = SpoolScan();
    m_segments.clear();
    m_nextSegment = 1;
    m_writer.reset();
    m_unflushed = false;
    m_reader.reset();
    m_cursor = 0;
    m_readIndex = 0;
    m_readAt = 0;
    m_pending.clear();
    m_positionDirty = false;
    m_delivered.clear();
    m_unreadable = 0;
    m_records = m_bytes = m_diskBytes = 0;
}

SpoolOpen CSpool::Open() {
    SpoolOpen found = Attach();
    if (!found.ok || m_scanned) return found;
    SpoolScan scan = PrepareScan();
    RunScan(*m_folder, &scan);
    return AdoptScan(std::move(scan));
}

SpoolOpen CSpool::Attach() {
    if (m_opened) Flush();
    Reset();
    SpoolOpen found;
    std::vector<std::string> names;
    if (!m_folder->Create() || !m_folder->List(&names)) return found;

    std::vector<std::uint64_t> numbers;
    for (const std::string& name : names) {
        std::uint64_t number = 0;
        if (ParseSegmentFileName(m_name, name, &number)) numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());

    SpoolPosition position;  // no position file: nothing was delivered yet
    std::string saved;
    if (m_folder->ReadSmall(m_name + kStateSuffix, &saved) && !DecodePosition(saved, &position)) {
        // Better to deliver everything again than to lose any of it.
        found.positionLost = true;
        position = SpoolPosition();
        m_positionDirty = true;
    }
    // A position inside a segment counts that segment's frames below it as delivered: a new
    // segment never takes its number, whether its file is still there or not.
    std::uint64_t pastPosition = position.segment + (position.offset > 0 ? 1 : 0);
    m_nextSegment = std::max<std::uint64_t>({numbers.empty() ? 1 : numbers.back() + 1, pastPosition, 1});

    m_toScan.name = m_name;
    m_toScan.position = position;
    for (std::uint64_t number : numbers) {
        if (number < position.segment)
            Remove(SegmentFileName(m_name, number));  // delivered before its deletion was done
        else
            m_toScan.numbers.push_back(number);
    }
    found.ok = m_opened = true;
    m_toScan.found = found;
    m_scanned = m_toScan.numbers.empty();
    return found;
}

SpoolScan CSpool::PrepareScan() const { return m_toScan; }

void CSpool::RunScan(ISpoolFolder& folder, SpoolScan* scan, const std::atomic<bool>* stop) {
    for (std::uint64_t number : scan->numbers) {
        std::uint64_t deliveredUpTo = number == scan->position.segment ? scan->position.offset : 0;
        bool read = ScanSegment(folder, scan->name, number, deliveredUpTo, scan, stop);
        if (scan->cancelled) return;
        if (!read) {
            ++scan->found.unreadableFiles;
            if (scan->unreadable == 0) scan->unreadable = number;
        }
    }
}

SpoolOpen CSpool::AdoptScan(SpoolScan&& scan) {
    if (m_scanned || scan.cancelled) return scan.found;
    // An earlier run's segments all come before the ones this run started.
    for (auto s = scan.segments.rbegin(); s != scan.segments.rend(); ++s) {
        m_segments.push_front(*s);
        Account(*s, +1);
    }
    m_unreadable = scan.unreadable;
    m_cursor = 0;
    if (!scan.segments.empty() && scan.segments.front().number == scan.position.segment)
        m_cursor = std::min(scan.position.offset, scan.segments.front().end);
    m_readIndex = 0;
    m_readAt = m_cursor;
    m_reader.reset();
    m_scanned = true;
    m_toScan = SpoolScan();
    scan.found.records = m_records;
    return scan.found;
}

// Frames that start before deliveredUpTo were delivered by an earlier run.
bool CSpool::ScanSegment(ISpoolFolder& folder, const std::string& name, std::uint64_t number,
                         std::uint64_t deliveredUpTo, SpoolScan* scan, const std::atomic<bool>* stop) {
    std::string fileName = SegmentFileName(name, number);
    std::unique_ptr<ISpoolFile> file = folder.OpenForReading(fileName);
    Segment s;
    s.number = number;
    if (!file || !file->Size(&s.end)) return false;
    // Closed before the file may be removed below.
    std::unique_ptr<SpoolWindow> window(new SpoolWindow(std::move(file), number, kSpoolReadWindowBytes));
    for (std::uint64_t at = 0; at < s.end;) {
        if (stop != nullptr && stop->load()) {
            scan->cancelled = true;
            return true;
        }
        FrameFind f = FindFrame(*window, at, s.end);
        if (window->Failed()) return false;
        if (f.skipped > 0) {
            s.damagedAt.push_back(at);
            if (at >= deliveredUpTo) {
                ++scan->found.damagedRegions;
                scan->found.damagedBytes += f.skipped;
            }
        }
        if (!f.found) break;
        std::uint64_t frame = kFrameHeaderBytes + f.length;
        ++s.records;
        s.bytes += frame;
        if (f.at < deliveredUpTo) {
            ++s.delivered;
            s.deliveredBytes += frame;
        }
        at = f.at + frame;
    }
    window.reset();
    // Nothing left to deliver in it; a failed removal is tried again at the next open.
    if (s.records == s.delivered)
        folder.Remove(fileName);
    else
        scan->segments.push_back(s);
    return true;
}

void CSpool::Account(const Segment& s, int sign) {
    std::uint64_t records = s.records - s.delivered, bytes = s.bytes - s.deliveredBytes;
    if (sign > 0) {
        m_records += records, m_bytes += bytes, m_diskBytes += s.end;
    } else {
        m_records -= records, m_bytes -= bytes, m_diskBytes -= s.end;
    }
}

std::uint64_t CSpool::SegmentLimit() const {
    std::uint64_t limit = std::min(m_limits.segmentBytes, m_limits.maxBytes / kSpoolSegmentsPerMax);
    return std::max<std::uint64_t>(limit, kFrameHeaderBytes + 1);
}

bool CSpool::StartSegment() {
    CloseWriter();
    if (!m_folder->Create()) return false;
    std::uint64_t number = m_nextSegment++;
    std::unique_ptr<ISpoolFile> file = m_folder->Open(SegmentFileName(m_name, number), true);
    std::uint64_t size = 0;
    // A file already there is no segment of ours; never append behind its bytes.
    if (!file || !file->Size(&size) || size != 0) return false;
    Segment s;
    s.number = number;
    m_segments.push_back(s);
    m_writer = std::move(file);
    return true;
}

void CSpool::CloseWriter() {
    if (m_writer && m_unflushed) m_writer->Flush();
    m_writer.reset();
    m_unflushed = false;
}

SpoolAppend CSpool::Append(const void* record, std::size_t size) {
    if (!m_opened && !Open().ok) {
        ++m_failed;
        return SpoolAppend::kFailed;
    }
    std::string frame = EncodeFrame(record, size);
    if (frame.empty()) {
        ++m_failed;
        return SpoolAppend::kFailed;
    }
    if (m_diskBytes + frame.size() > m_limits.maxBytes) {
        ++m_refused;
        return SpoolAppend::kFull;
    }
    bool full =
        m_writer && m_segments.back().end > 0 && m_segments.back().end + frame.size() > SegmentLimit();
    if ((!m_writer || full) && !StartSegment()) {
        ++m_failed;
        return SpoolAppend::kFailed;
    }
    Segment& s = m_segments.back();
    if (!m_writer->Append(frame.data(), frame.size())) {
        std::uint64_t size = 0;
        // Part of the frame may have reached the file: no record goes behind it.
        if (!m_writer->Size(&size) || size != s.end) CloseWriter();
        ++m_failed;
        return SpoolAppend::kFailed;
    }
    s.end += frame.size();
    ++s.records;
    s.bytes += frame.size();
    ++m_records;
    m_bytes += frame.size();
    m_diskBytes += frame.size();
    m_unflushed = true;
    return SpoolAppend::kAppended;
}

SpoolHead CSpool::Head(std::vector<unsigned char>* record) {
    if (!m_pending.empty()) {
        *record = m_pending.front().record;
        return SpoolHead::kRecord;
    }
    return ReadNext(record);
}

SpoolHead CSpool::ReadNext(std::vector<unsigned char>* record) {
    if (!m_opened && !Open().ok) return SpoolHead::kFailed;
    if (!m_scanned) {
        SpoolScan scan = PrepareScan();
        RunScan(*m_folder, &scan);
        AdoptScan(std::move(scan));
    }
    for (;;) {
        Settle();
        if (m_readIndex >= m_segments.size()) return SpoolHead::kEmpty;
        Segment& s = m_segments[m_readIndex];
        if (m_readAt >= s.end) {
            if (Writing(s)) return SpoolHead::kEmpty;
            ++m_readIndex;
            m_readAt = 0;
            continue;
        }
        if (!m_reader || m_reader->segment() != s.number) {
            std::unique_ptr<ISpoolFile> file = m_folder->OpenForReading(SegmentFileName(m_name, s.number));
            if (!file) {
                SetAsideReading(s);
                continue;
            }
            m_reader.reset(new SpoolWindow(std::move(file), s.number, kSpoolReadWindowBytes));
        }
        FrameFind f = FindFrame(*m_reader, m_readAt, s.end);
        if (m_reader->Failed()) {
            SetAsideReading(s);
            continue;
        }
        if (f.skipped > 0 && !std::binary_search(s.damagedAt.begin(), s.damagedAt.end(), m_readAt))
            ++m_lateDamage;
        if (!f.found) {
            m_readAt = s.end;
            continue;
        }
        const unsigned char* payload = m_reader->Bytes(f.at + kFrameHeaderBytes, f.length);
        if (payload == nullptr) {
            SetAsideReading(s);
            continue;
        }
        Read read;
        read.segment = s.number;
        read.end = f.at + kFrameHeaderBytes + f.length;
        read.bytes = kFrameHeaderBytes + f.length;
        read.record.assign(payload, payload + f.length);
        m_readAt = read.end;
        *record = read.record;
        m_pending.push_back(std::move(read));
        return SpoolHead::kRecord;
    }
}

// What was read of s is still delivered; the rest of it is given up, and nothing more is written
// behind what cannot be read.
void CSpool::SetAsideReading(Segment& s) {
    m_reader.reset();
    if (Writing(s)) CloseWriter();
    std::uint64_t read = s.delivered, readBytes = s.deliveredBytes;
    for (const Read& r : m_pending) {
        if (r.segment != s.number) continue;
        ++read;
        readBytes += r.bytes;
    }
    std::uint64_t lost = s.records > read ? s.records - read : 0;
    std::uint64_t lostBytes = s.bytes > readBytes ? s.bytes - readBytes : 0;
    m_records -= lost;
    m_bytes -= lostBytes;
    s.records -= lost;
    s.bytes -= lostBytes;
    s.setAside = true;
    s.lost += lost;
    ++m_setAside;
    m_readAt = s.end;
}

// Drops the first segments once reading has gone past them and nothing read from them waits.
void CSpool::Settle() {
    while (!m_segments.empty()) {
        const Segment& s = m_segments.front();
        bool readPast = m_readIndex > 0 || m_readAt >= s.end;
        bool waiting = !m_pending.empty() && m_pending.front().segment == s.number;
        if (!readPast || waiting) return;
        DropHead();
    }
}

void CSpool::MarkDelivered() {
    if (m_pending.empty()) return;
    Settle();
    Read read = std::move(m_pending.front());
    m_pending.pop_front();
    Segment& s = m_segments.front();
    ++s.delivered;
    s.deliveredBytes += read.bytes;
    --m_records;
    m_bytes -= read.bytes;
    m_cursor = read.end;
    m_positionDirty = true;
    // The last segment goes too once everything is delivered: the next record starts a new one.
    Settle();
}

void CSpool::DropHead() {
    Segment& s = m_segments.front();
    if (m_reader && m_reader->segment() == s.number) m_reader.reset();
    if (Writing(s)) {
        m_writer.reset();  // all of it delivered: nothing worth flushing
        m_unflushed = false;
    }
    Account(s, -1);
    std::string file = SegmentFileName(m_name, s.number);
    if (s.setAside) {
        // Kept for the operator under a name no scan takes for a segment.
        std::string aside = file + kSetAsideSuffix;
        m_setAsideFiles.push_back({m_folder->Rename(file, aside) ? aside : file, s.lost});
    } else {
        m_delivered.push_back(file);
    }
    m_segments.pop_front();
    m_cursor = 0;
    if (m_readIndex > 0)
        --m_readIndex;
    else
        m_readAt = 0;
    m_positionDirty = true;
}

void CSpool::Remove(const std::string& fileName) {
    if (!m_folder->Remove(fileName)) m_unremoved.push_back(fileName);
}

std::vector<SpoolSetAside> CSpool::TakeSetAside() {
    std::vector<SpoolSetAside> files;
    files.swap(m_setAsideFiles);
    return files;
}

bool CSpool::Flush() {
    bool ok = true;
    if (m_writer && m_unflushed) {
        m_unflushed = !m_writer->Flush();
        ok = !m_unflushed;
    }
    // Until the earlier run's segments are scanned, the saved position is the one that holds.
    if (m_positionDirty && m_scanned) {
        SpoolPosition position;
        position.segment = m_segments.empty() ? m_nextSegment : m_segments.front().number;
        position.offset = m_segments.empty() ? 0 : m_cursor;
        // Never past a segment that could not be read: the next run tries it again.
        if (m_unreadable != 0 && m_unreadable <= position.segment) position = SpoolPosition{m_unreadable, 0};
        m_positionDirty = !m_folder->Replace(m_name + kStateSuffix, EncodePosition(position));
        ok = ok && !m_positionDirty;
    }
    // Delivered segments go only once a position past them is on disk.
    if (!m_positionDirty && m_scanned) {
        std::vector<std::string> delivered;
        delivered.swap(m_delivered);
        for (const std::string& name : delivered) Remove(name);
    }
    std::vector<std::string> unremoved;
    unremoved.swap(m_unremoved);
    for (const std::string& name : unremoved) Remove(name);
    return ok;
}

std::string SpoolDamageLine(const std::string& destination, const SpoolOpen& found) {
    if (found.damagedRegions == 0 && found.unreadableFiles == 0 && !found.positionLost) return {};
    char line[256];
    std::snprintf(line, sizeof line,
                  "Syslog spool %s : %llu damaged records skipped (%llu bytes), %llu files unreadable%s !",
                  destination.c_str(), static_cast<unsigned long long>(found.damagedRegions),
                  static_cast<unsigned long long>(found.damagedBytes),
                  static_cast<unsigned long long>(found.unreadableFiles),
                  found.positionLost ? ", delivered position lost" : "");
    return line;
}
