// The spool over real files (POSIX here): format, order, resumption, damage, bounds, failures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "spool.h"
#include "spool_format.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kRecord = 220;
constexpr std::uint64_t kFrame = kFrameHeaderBytes + kRecord;

// A 220-byte record that carries its sequence number.
std::vector<unsigned char> Record(int seq) {
    std::vector<unsigned char> r(kRecord, 0);
    std::snprintf(reinterpret_cast<char*>(r.data()) + 92, 128, "message %06d", seq);
    for (std::size_t i = 0; i < 92; ++i) r[i] = static_cast<unsigned char>(seq * 7 + i);
    return r;
}

int SeqOf(const std::vector<unsigned char>& r) {
    int seq = -1;
    if (r.size() != kRecord ||
        std::sscanf(reinterpret_cast<const char*>(r.data()) + 92, "message %d", &seq) != 1 ||
        r != Record(seq))
        return -1;
    return seq;
}

// A folder whose writes can be made to fail, or to stop reaching the disk as at a crash.
class FaultyFolder : public ISpoolFolder {
public:
    struct Faults {
        bool failAppend = false;  // appends fail after writing half the buffer
        bool crashed = false;     // nothing more reaches the disk
        std::string unreadable;   // a file that cannot be opened
    };

    FaultyFolder(const std::string& path, Faults* faults)
        : m_inner(MakeSpoolFolder(path)), m_faults(faults) {}

    bool Create() override { return m_inner->Create(); }
    bool List(std::vector<std::string>* names) override { return m_inner->List(names); }
    std::unique_ptr<ISpoolFile> Open(const std::string& name, bool create) override {
        if ((m_faults->crashed && create) || name == m_faults->unreadable) return nullptr;
        std::unique_ptr<ISpoolFile> file = m_inner->Open(name, create);
        if (!file) return nullptr;
        return std::unique_ptr<ISpoolFile>(new File(std::move(file), m_faults));
    }
    std::unique_ptr<ISpoolFile> OpenForReading(const std::string& name) override {
        if (name == m_faults->unreadable) return nullptr;
        std::unique_ptr<ISpoolFile> file = m_inner->OpenForReading(name);
        if (!file) return nullptr;
        return std::unique_ptr<ISpoolFile>(new File(std::move(file), m_faults));
    }
    bool Remove(const std::string& name) override { return !m_faults->crashed && m_inner->Remove(name); }
    bool Rename(const std::string& from, const std::string& to) override {
        return !m_faults->crashed && m_inner->Rename(from, to);
    }
    bool ReadSmall(const std::string& name, std::string* bytes) override {
        return m_inner->ReadSmall(name, bytes);
    }
    bool Replace(const std::string& name, const std::string& bytes) override {
        return !m_faults->crashed && m_inner->Replace(name, bytes);
    }

private:
    class File : public ISpoolFile {
    public:
        File(std::unique_ptr<ISpoolFile> inner, Faults* faults)
            : m_inner(std::move(inner)), m_faults(faults) {}
        bool Append(const void* data, std::size_t size) override {
            if (m_faults->crashed) return false;
            if (m_faults->failAppend) {
                m_inner->Append(data, size / 2);
                return false;
            }
            return m_inner->Append(data, size);
        }
        bool ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t* got) override {
            return m_inner->ReadAt(offset, data, size, got);
        }
        bool Flush() override { return !m_faults->crashed && m_inner->Flush(); }
        bool Size(std::uint64_t* size) override { return m_inner->Size(size); }

    private:
        std::unique_ptr<ISpoolFile> m_inner;
        Faults* m_faults;
    };

    std::unique_ptr<ISpoolFolder> m_inner;
    Faults* m_faults;
};

class SpoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = fs::temp_directory_path() / ("ovs-spool-" + std::to_string(getpid())) / info->name();
        fs::remove_all(m_dir);
        fs::create_directories(m_dir.parent_path());
    }
    void TearDown() override { fs::remove_all(m_dir.parent_path()); }

    std::unique_ptr<CSpool> Make(SpoolLimits limits = {}, const std::string& destination = "srv1") {
        return std::unique_ptr<CSpool>(new CSpool(
            std::unique_ptr<ISpoolFolder>(new FaultyFolder(m_dir.string(), &m_faults)), destination, limits));
    }

    // Delivers up to `count` records, each checked to carry the next sequence number from `first`.
    static int Deliver(CSpool& spool, int first, int count) {
        std::vector<unsigned char> r;
        int n = 0;
        for (; n < count && spool.Head(&r) == SpoolHead::kRecord; ++n) {
            EXPECT_EQ(SeqOf(r), first + n) << "record " << n << " of this delivery";
            spool.MarkDelivered();
        }
        return n;
    }

    // The sequence numbers still in the spool, in delivery order, delivering them all.
    static std::vector<int> Drain(CSpool& spool) {
        std::vector<int> seqs;
        std::vector<unsigned char> r;
        while (spool.Head(&r) == SpoolHead::kRecord) {
            seqs.push_back(SeqOf(r));
            spool.MarkDelivered();
        }
        return seqs;
    }

    static void AppendRange(CSpool& spool, int first, int count) {
        for (int i = first; i < first + count; ++i)
            ASSERT_EQ(spool.Append(Record(i).data(), kRecord), SpoolAppend::kAppended) << "record " << i;
    }

    std::vector<std::string> Files(const std::string& suffix) const {
        std::vector<std::string> names;
        if (!fs::exists(m_dir)) return names;
        for (const auto& e : fs::directory_iterator(m_dir)) {
            std::string name = e.path().filename().string();
            if (name.size() >= suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path m_dir;
    FaultyFolder::Faults m_faults;
};

std::vector<int> Range(int first, int end) {
    std::vector<int> v;
    for (int i = first; i < end; ++i) v.push_back(i);
    return v;
}

class MemorySource : public ByteSource {
public:
    explicit MemorySource(const std::string& bytes) : m_bytes(bytes) {}
    const unsigned char* Bytes(std::uint64_t offset, std::size_t size) override {
        if (offset + size > m_bytes.size()) return nullptr;
        return reinterpret_cast<const unsigned char*>(m_bytes.data()) + offset;
    }
    bool Failed() const override { return false; }

private:
    std::string m_bytes;
};

TEST(SpoolFormat, DamagedFramesAreSkippedUpToTheNextIntactOne) {
    std::vector<unsigned char> a = Record(1), b = Record(2);
    const std::string first = EncodeFrame(a.data(), a.size()), second = EncodeFrame(b.data(), b.size());
    ASSERT_EQ(first.size(), kFrame);
    struct Case {
        const char* name;
        std::function<void(std::string&)> damage;  // applied to the first frame
        bool firstIntact;
    };
    const Case cases[] = {
        {"intact", [](std::string&) {}, true},
        {"magic flipped", [](std::string& f) { f[0] ^= 0x01; }, false},
        {"length flipped", [](std::string& f) { f[4] ^= 0x10; }, false},
        {"length made huge", [](std::string& f) { f[7] = 0x7F; }, false},
        {"checksum flipped", [](std::string& f) { f[9] ^= 0x80; }, false},
        {"payload flipped", [](std::string& f) { f[kFrameHeaderBytes + 100] ^= 0x04; }, false},
        {"last payload byte flipped", [](std::string& f) { f.back() ^= 0x01; }, false},
        {"cut in the payload", [](std::string& f) { f.resize(100); }, false},
        {"cut in the header", [](std::string& f) { f.resize(7); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string damaged = first;
        c.damage(damaged);
        // Alone: found when intact, otherwise all of it skipped as damage.
        MemorySource alone(damaged);
        FrameFind f = FindFrame(alone, 0, damaged.size());
        EXPECT_EQ(f.found, c.firstIntact);
        EXPECT_EQ(f.skipped, c.firstIntact ? 0u : damaged.size());
        // Followed by an intact frame: that one is found, the damage passed over.
        MemorySource both(damaged + second);
        f = FindFrame(both, 0, damaged.size() + second.size());
        ASSERT_TRUE(f.found);
        EXPECT_EQ(f.at, c.firstIntact ? 0u : damaged.size());
        EXPECT_EQ(f.skipped, f.at);
        EXPECT_EQ(f.length, kRecord);
    }
    EXPECT_TRUE(EncodeFrame(a.data(), 0).empty());
    EXPECT_TRUE(EncodeFrame(std::string(kMaxPayloadBytes + 1, 'x').data(), kMaxPayloadBytes + 1).empty());
}

TEST(SpoolFormat, PositionSurvivesOnlyIntact) {
    SpoolPosition p{0x1122334455667788ull, 0x99AABBCCull}, q;
    std::string bytes = EncodePosition(p);
    ASSERT_EQ(bytes.size(), kStateBytes);
    ASSERT_TRUE(DecodePosition(bytes, &q));
    EXPECT_EQ(q.segment, p.segment);
    EXPECT_EQ(q.offset, p.offset);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string damaged = bytes;
        damaged[i] ^= 0x20;
        EXPECT_FALSE(DecodePosition(damaged, &q)) << "byte " << i << " flipped";
    }
    EXPECT_FALSE(DecodePosition(bytes.substr(0, kStateBytes - 1), &q));
    EXPECT_FALSE(DecodePosition("", &q));
}

std::string Tagged(const std::string& name, const std::string& destination) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "~%08lx",
                  static_cast<unsigned long>(Crc32(destination.data(), destination.size())));
    return name + tag;
}

TEST(SpoolFormat, NamesAreSafeForWindowsAndDistinct) {
    const std::string longId(100, 'x'), longDots(40, '.');
    std::string cutDots;
    for (int i = 0; i < 21; ++i) cutDots += "%2E";
    const struct {
        std::string destination, want;
    } cases[] = {
        {"srv1", "srv1"},
        {"orvane-local_2", "orvane-local_2"},
        {"10.0.0.1", "10%2E0%2E0%2E1"},
        {"a/b\\c:d*e?f\"g<h>i|j k", "a%2Fb%5Cc%3Ad%2Ae%3Ff%22g%3Ch%3Ei%7Cj%20k"},
        {"\xE9t\xE9", "%E9t%E9"},
        {"x~1", "x%7E1"},
        {"SRV1", Tagged("SRV1", "SRV1")},
        {"Srv1", Tagged("Srv1", "Srv1")},
        {"", Tagged("", "")},
        {"con", Tagged("con", "con")},
        {"lpt9", Tagged("lpt9", "lpt9")},
        {"com10", "com10"},
        {longId, Tagged(std::string(kMaxSpoolNameChars, 'x'), longId)},
        // 64 characters would end inside an escape: cut before it.
        {longDots, Tagged(cutDots, longDots)},
    };
    std::set<std::string> folded;
    for (const auto& c : cases) {
        std::string name = SpoolName(c.destination);
        EXPECT_EQ(name, c.want) << "destination \"" << c.destination << "\"";
        std::string lower;
        for (char ch : name) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(ch))));
        EXPECT_TRUE(folded.insert(lower).second) << name << " collides without case";
        for (char ch : name) EXPECT_EQ(std::strchr("\\/:*?\"<>|. ", ch), nullptr) << name;
    }
}

TEST(SpoolFormat, OnlyThisSpoolsSegmentFilesAreRecognised) {
    EXPECT_EQ(SegmentFileName("srv1", 12), "srv1.00000012.spl");
    EXPECT_EQ(SegmentFileName("srv1", 123456789012ull), "srv1.123456789012.spl");
    const struct {
        const char* file;
        bool mine;
        std::uint64_t number;
    } cases[] = {
        {"srv1.00000012.spl", true, 12},
        {"srv1.123456789012.spl", true, 123456789012ull},
        {"srv1.7.spl", true, 7},
        {"srv10.00000012.spl", false, 0},
        {"srv.00000012.spl", false, 0},
        {"srv1.state", false, 0},
        {"srv1.state.tmp", false, 0},
        {"srv1..spl", false, 0},
        {"srv1.12a.spl", false, 0},
        {"srv1.00000012.spl.tmp", false, 0},
        {"srv1.99999999999999999999.spl", false, 0},
    };
    for (const auto& c : cases) {
        std::uint64_t number = 0;
        EXPECT_EQ(ParseSegmentFileName("srv1", c.file, &number), c.mine) << c.file;
        if (c.mine) EXPECT_EQ(number, c.number) << c.file;
    }
}

TEST_F(SpoolTest, RecordsComeBackExactlyAndInOrder) {
    auto spool = Make();
    SpoolOpen found = spool->Open();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.records, 0u);
    std::vector<unsigned char> r;
    EXPECT_EQ(spool->Head(&r), SpoolHead::kEmpty);
    spool->MarkDelivered();  // nothing to mark: no effect
    // Appends and deliveries interleaved, as while a destination recovers.
    AppendRange(*spool, 0, 5);
    EXPECT_EQ(spool->Records(), 5u);
    EXPECT_EQ(spool->Bytes(), 5 * kFrame);
    EXPECT_EQ(Deliver(*spool, 0, 2), 2);
    ASSERT_EQ(spool->Head(&r), SpoolHead::kRecord);
    ASSERT_EQ(spool->Head(&r), SpoolHead::kRecord);  // the same one until it is marked
    EXPECT_EQ(SeqOf(r), 2);
    AppendRange(*spool, 5, 3);
    EXPECT_EQ(Drain(*spool), Range(2, 8));
    EXPECT_TRUE(spool->Empty());
    EXPECT_EQ(spool->Bytes(), 0u);
    EXPECT_EQ(spool->DiskBytes(), 0u);
    EXPECT_EQ(spool->Head(&r), SpoolHead::kEmpty);
    EXPECT_FALSE(Files(".spl").empty()) << "a delivered segment stays until a position past it is saved";
    ASSERT_TRUE(spool->Flush());
    EXPECT_TRUE(Files(".spl").empty()) << "a delivered segment is deleted";
    AppendRange(*spool, 8, 1);
    EXPECT_EQ(Drain(*spool), Range(8, 9));
}

TEST_F(SpoolTest, RestartResumesWhereDeliveryStood) {
    const struct {
        const char* name;
        int delivered;   // before the position is flushed
        bool headTaken;  // one more handed to the destination, not yet marked
        int more;        // delivered after the flush
        bool crash;      // the process dies: nothing after the flush reaches the disk
        int wantFirst;
    } cases[] = {
        {"nothing delivered, clean close", 0, false, 0, false, 0},
        {"some delivered, clean close", 4, false, 0, false, 4},
        {"some delivered and flushed, crash", 4, false, 0, true, 4},
        {"delivered but not flushed: at least once", 0, false, 3, true, 0},
        {"crash between delivery and the mark", 5, true, 0, true, 5},
        {"flushed, then more before the crash", 5, false, 2, true, 5},
        {"all delivered, clean close", 10, false, 0, false, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_dir);
        m_faults = {};
        {
            auto spool = Make();
            ASSERT_TRUE(spool->Open().ok);
            AppendRange(*spool, 0, 10);
            ASSERT_EQ(Deliver(*spool, 0, c.delivered), c.delivered);
            std::vector<unsigned char> r;
            if (c.headTaken) ASSERT_EQ(spool->Head(&r), SpoolHead::kRecord);
            ASSERT_TRUE(spool->Flush());
            Deliver(*spool, c.delivered, c.more);
            m_faults.crashed = c.crash;
        }
        m_faults = {};
        auto spool = Make();
        SpoolOpen found = spool->Open();
        ASSERT_TRUE(found.ok);
        EXPECT_EQ(found.records, 10u - c.wantFirst);
        EXPECT_EQ(found.damagedRegions, 0u);
        EXPECT_EQ(spool->Records(), 10u - c.wantFirst);
        EXPECT_EQ(Drain(*spool), Range(c.wantFirst, 10));
    }
}

TEST_F(SpoolTest, DamageIsSkippedAndReportedOnceTheRestDelivered) {
    const struct {
        const char* name;
        std::uint64_t offset;  // into the segment file
        bool cut;              // cut the file there; otherwise flip the byte there
        bool stillAhead;       // after two more are delivered
        std::vector<int> want;
    } cases[] = {
        {"torn tail", 9 * kFrame + 100, true, true, Range(0, 9)},
        {"torn inside the last header", 9 * kFrame + 7, true, true, Range(0, 9)},
        {"flipped payload byte", 4 * kFrame + kFrameHeaderBytes + 50, false, true,
         [] {
             std::vector<int> v = Range(0, 4), w = Range(5, 10);
             v.insert(v.end(), w.begin(), w.end());
             return v;
         }()},
        {"flipped length byte", 4 * kFrame + 4, false, true,
         [] {
             std::vector<int> v = Range(0, 4), w = Range(5, 10);
             v.insert(v.end(), w.begin(), w.end());
             return v;
         }()},
        {"flipped first magic", 0, false, false, Range(1, 10)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_dir);
        {
            auto spool = Make();
            ASSERT_TRUE(spool->Open().ok);
            AppendRange(*spool, 0, 10);
        }
        std::vector<std::string> segments = Files(".spl");
        ASSERT_EQ(segments.size(), 1u);
        fs::path file = m_dir / segments[0];
        if (c.cut) {
            fs::resize_file(file, c.offset);
        } else {
            std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
            f.seekg(static_cast<std::streamoff>(c.offset));
            char byte = 0;
            f.get(byte);
            f.seekp(static_cast<std::streamoff>(c.offset));
            f.put(static_cast<char>(byte ^ 0x40));
        }
        {
            auto spool = Make();
            SpoolOpen found = spool->Open();
            EXPECT_EQ(found.damagedRegions, 1u);
            EXPECT_GT(found.damagedBytes, 0u);
            EXPECT_EQ(found.records, c.want.size());
            EXPECT_NE(SpoolDamageLine("srv1", found).find("1 damaged records skipped"), std::string::npos)
                << SpoolDamageLine("srv1", found);
            EXPECT_EQ(Deliver(*spool, c.want[0], 2), 2);
            EXPECT_EQ(spool->LateDamage(), 0u) << "what the scan reported is not counted again";
            AppendRange(*spool, 100, 1);  // new records never go behind the damage
        }
        auto spool = Make();
        SpoolOpen found = spool->Open();
        std::vector<int> want(c.want.begin() + 2, c.want.end());
        want.push_back(100);
        // Damage behind the delivered position is not reported again.
        EXPECT_EQ(found.damagedRegions, c.stillAhead ? 1u : 0u);
        EXPECT_EQ(Drain(*spool), want);
        EXPECT_EQ(spool->LateDamage(), 0u);
        ASSERT_TRUE(spool->Flush());
        EXPECT_TRUE(Files(".spl").empty());
    }
}

TEST_F(SpoolTest, SegmentsRollOverAndGoOnceDelivered) {
    SpoolLimits limits;
    limits.segmentBytes = 3 * kFrame;
    auto spool = Make(limits);
    ASSERT_TRUE(spool->Open().ok);
    AppendRange(*spool, 0, 10);
    EXPECT_EQ(Files(".spl"), (std::vector<std::string>{"srv1.00000001.spl", "srv1.00000002.spl",
                                                       "srv1.00000003.spl", "srv1.00000004.spl"}));
    EXPECT_EQ(Deliver(*spool, 0, 2), 2);
    EXPECT_EQ(Files(".spl").size(), 4u) << "a segment stays while any of it is undelivered";
    EXPECT_EQ(Deliver(*spool, 2, 1), 1);
    EXPECT_EQ(Files(".spl").size(), 4u) << "deleted only once a position past it is saved";
    ASSERT_TRUE(spool->Flush());
    EXPECT_EQ(Files(".spl").size(), 3u);
    EXPECT_EQ(spool->DiskBytes(), 7 * kFrame);
    EXPECT_EQ(Deliver(*spool, 3, 4), 4);
    ASSERT_TRUE(spool->Flush());
    spool.reset();

    // Numbering goes on above whatever an earlier run used, even once every file is gone.
    spool = Make(limits);
    EXPECT_EQ(spool->Open().records, 3u);
    EXPECT_EQ(Drain(*spool), Range(7, 10));
    ASSERT_TRUE(spool->Flush());
    EXPECT_TRUE(Files(".spl").empty());
    spool.reset();
    spool = Make(limits);
    EXPECT_EQ(spool->Open().records, 0u);
    AppendRange(*spool, 10, 1);
    EXPECT_EQ(Files(".spl"), std::vector<std::string>{"srv1.00000005.spl"});
    spool.reset();
    spool = Make(limits);
    EXPECT_EQ(spool->Open().records, 1u);
    EXPECT_EQ(Drain(*spool), Range(10, 11));
}

TEST_F(SpoolTest, FullSpoolRefusesAndCountsUntilDeliveryFreesSpace) {
    SpoolLimits limits;
    limits.maxBytes = 8 * kFrame;
    limits.segmentBytes = 2 * kFrame;
    auto spool = Make(limits);
    ASSERT_TRUE(spool->Open().ok);
    AppendRange(*spool, 0, 8);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(spool->Append(Record(99).data(), kRecord), SpoolAppend::kFull);
    EXPECT_EQ(spool->Refused(), 3u);
    EXPECT_EQ(spool->DiskBytes(), limits.maxBytes);
    std::uintmax_t onDisk = 0;
    for (const auto& name : Files(".spl")) onDisk += fs::file_size(m_dir / name);
    EXPECT_EQ(onDisk, limits.maxBytes);
    // Half a segment delivered frees nothing yet; a whole one frees its space.
    EXPECT_EQ(Deliver(*spool, 0, 1), 1);
    EXPECT_EQ(spool->Append(Record(99).data(), kRecord), SpoolAppend::kFull);
    EXPECT_EQ(Deliver(*spool, 1, 1), 1);
    AppendRange(*spool, 8, 2);
    EXPECT_EQ(spool->Append(Record(99).data(), kRecord), SpoolAppend::kFull);
    EXPECT_EQ(spool->Refused(), 5u);
    EXPECT_EQ(Drain(*spool), Range(2, 10));
}

TEST_F(SpoolTest, UnwritableFolderFailsCleanly) {
    // A folder below a plain file cannot be made, whoever runs the test.
    std::ofstream(m_dir.parent_path() / "plain") << "x";
    auto spool = std::unique_ptr<CSpool>(
        new CSpool(MakeSpoolFolder((m_dir.parent_path() / "plain" / "spool").string()), "srv1"));
    EXPECT_FALSE(spool->Open().ok);
    EXPECT_EQ(spool->Append(Record(1).data(), kRecord), SpoolAppend::kFailed);
    EXPECT_EQ(spool->Append(Record(2).data(), kRecord), SpoolAppend::kFailed);
    EXPECT_EQ(spool->Failed(), 2u);
    std::vector<unsigned char> r;
    EXPECT_EQ(spool->Head(&r), SpoolHead::kFailed);
    EXPECT_TRUE(spool->Empty());
}

TEST_F(SpoolTest, FailedWriteLosesOnlyItsOwnRecord) {
    {
        auto spool = Make();
        ASSERT_TRUE(spool->Open().ok);
        AppendRange(*spool, 0, 3);
        m_faults.failAppend = true;  // the disk fills: half a frame reaches the file
        EXPECT_EQ(spool->Append(Record(50).data(), kRecord), SpoolAppend::kFailed);
        EXPECT_EQ(spool->Failed(), 1u);
        m_faults.failAppend = false;
        AppendRange(*spool, 3, 3);
        EXPECT_EQ(Files(".spl").size(), 2u) << "nothing is written behind a torn frame";
        EXPECT_EQ(Deliver(*spool, 0, 1), 1);
    }
    auto spool = Make();
    SpoolOpen found = spool->Open();
    EXPECT_EQ(found.records, 5u);
    EXPECT_EQ(found.damagedRegions, 1u);
    EXPECT_EQ(Drain(*spool), Range(1, 6));
}

TEST_F(SpoolTest, UnreadableSegmentIsKeptForTheNextRun) {
    SpoolLimits limits;
    limits.segmentBytes = 2 * kFrame;
    {
        auto spool = Make(limits);
        ASSERT_TRUE(spool->Open().ok);
        AppendRange(*spool, 0, 6);  // segments 1, 2, 3
    }
    m_faults.unreadable = "srv1.00000002.spl";
    {
        auto spool = Make(limits);
        SpoolOpen found = spool->Open();
        EXPECT_EQ(found.unreadableFiles, 1u);
        EXPECT_NE(SpoolDamageLine("srv1", found).find("1 files unreadable"), std::string::npos);
        std::vector<int> want = {0, 1, 4, 5};
        EXPECT_EQ(Drain(*spool), want);
    }
    m_faults.unreadable.clear();
    auto spool = Make(limits);
    EXPECT_EQ(spool->Open().unreadableFiles, 0u);
    EXPECT_EQ(Drain(*spool), Range(2, 4));
}

}  // namespace
