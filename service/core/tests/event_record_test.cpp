#include <gtest/gtest.h>

#include <string>

#include "event_record.h"

namespace {

std::string Slot(const EventRecord& r, std::size_t offset, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(r.data()) + offset, size);
}

// The slot holds `expected` followed by NULs up to its end.
void ExpectSlot(const EventRecord& r, std::size_t offset, std::size_t size, const std::string& expected,
                const char* what) {
    ASSERT_LE(expected.size(), size) << what;
    std::string want = expected + std::string(size - expected.size(), '\0');
    EXPECT_EQ(Slot(r, offset, size), want) << what << " at offset " << offset;
}

const std::string kUuid = "0f8fad5b-d9cb-469f-a165-70867728950e";

TEST(EventRecord, FixedCodesAreExactBytes) {
    EventRecord r = BuildEventRecord("LOCAL", "10.0.0.1", kUuid.c_str(), "text");
    const struct {
        std::size_t offset;
        const char bytes[6];
    } cases[] = {
        {0, {'7', '0', 0, 0, 0}}, {5, {'1', 0, 0, 0, 0}}, {42, {'1', '2', 0, 0, 0}}, {47, {'1', 0, 0, 0, 0}}};
    for (const auto& c : cases)
        EXPECT_EQ(Slot(r, c.offset, 5), std::string(c.bytes, 5)) << "fixed code at " << c.offset;
}

struct Case {
    const char* name;
    std::string local;
    std::string host;
    std::string text;
    // What the slots must hold (followed by NULs).
    std::string wantLocal;
    std::string wantHost;
    std::string wantText;
};

TEST(EventRecord, VariableSlotsFollowTheFillingRules) {
    std::string s15(15, 'h'), s16 = "abcdefghijklmnop", s17 = s16 + "q";
    std::string t127(127, 'x'), t128 = t127 + "y", t500(500, 'z');
    const Case cases[] = {
        {"short texts", "ORVANE-LOCAL", "10.1.2.3", "link down", "ORVANE-LOCAL", "10.1.2.3", "link down"},
        {"host of 15 ends in one NUL", "L", s15, "m", "L", s15, "m"},
        {"host of 16 fills the slot", "L", s16, "m", "L", s16, "m"},
        {"host of 17 is cut to 16", "L", s17, "m", "L", s16, "m"},
        {"local id of 16 fills the slot", s16, "h", "m", s16, "h", "m"},
        {"text of 127 is carried whole", "L", "h", t127, "L", "h", t127},
        {"text of 128 is cut to 127", "L", "h", t128, "L", "h", t127},
        {"text of 500 is cut to 127", "L", "h", t500, "L", "h", t500.substr(0, 127)},
        {"empty texts", "", "", "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EventRecord r = BuildEventRecord(c.local.c_str(), c.host.c_str(), kUuid.c_str(), c.text.c_str());
        ExpectSlot(r, kLocalServerOffset, kLocalServerSize, c.wantLocal, "local server");
        ExpectSlot(r, kHostOffset, kHostSize, c.wantHost, "host");
        ExpectSlot(r, kEventIdOffset, kEventIdSize, kUuid, "event id");
        ExpectSlot(r, kTextOffset, kTextSize, c.wantText, "text");
        EXPECT_EQ(r[kEventRecordSize - 1], 0) << "last byte";
        EXPECT_EQ(Slot(r, kThirdCodeOffset, 2), "12") << "a full host must not spill into the next slot";
    }
}

TEST(EventRecord, NullTextsCountAsEmpty) {
    EventRecord r = BuildEventRecord(nullptr, nullptr, nullptr, nullptr);
    for (std::size_t offset : {kLocalServerOffset, kHostOffset, kEventIdOffset, kTextOffset})
        EXPECT_EQ(r[offset], 0) << "slot at " << offset;
    EXPECT_EQ(r[0], '7');
}

}  // namespace
