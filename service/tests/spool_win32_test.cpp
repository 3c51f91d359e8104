// The spool through the real Win32 file API: the seam's operations, then records that survive a
// reopen. The spool's logic itself is tested natively.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "spool.h"
#include "spool_format.h"

namespace {

std::string TempFolder(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name + std::to_string(GetCurrentProcessId());
}

void RemoveFolder(const std::string& folder) {
    std::unique_ptr<ISpoolFolder> files = MakeSpoolFolder(folder);
    std::vector<std::string> names;
    if (files->List(&names))
        for (const std::string& name : names) files->Remove(name);
    RemoveDirectoryA(folder.c_str());
}

std::vector<unsigned char> Record(int seq) {
    std::vector<unsigned char> r(220, 0);
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<unsigned char>(seq + i);
    return r;
}

TEST(SpoolWin32, FileOperations) {
    std::string folder = TempFolder("ovs-seam-");
    RemoveFolder(folder);
    std::unique_ptr<ISpoolFolder> files = MakeSpoolFolder(folder + "\\");
    ASSERT_TRUE(files->Create());
    ASSERT_TRUE(files->Create()) << "an existing folder is fine";
    EXPECT_EQ(files->Open("missing.spl", false), nullptr);

    std::unique_ptr<ISpoolFile> file = files->Open("a.spl", true);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->Append("hello ", 6));
    char buffer[16] = {};
    std::size_t got = 0;
    // A read through the same handle must not move where the next append lands.
    ASSERT_TRUE(file->ReadAt(0, buffer, 2, &got));
    ASSERT_TRUE(file->Append("world", 5));
    ASSERT_TRUE(file->Flush());
    ASSERT_TRUE(file->ReadAt(0, buffer, sizeof buffer, &got));
    EXPECT_EQ(std::string(buffer, got), "hello world");
    ASSERT_TRUE(file->ReadAt(11, buffer, 4, &got));
    EXPECT_EQ(got, 0u) << "nothing past the end";
    std::uint64_t size = 0;
    ASSERT_TRUE(file->Size(&size));
    EXPECT_EQ(size, 11u);
    // A second handle, as the reader of the segment being written has.
    std::unique_ptr<ISpoolFile> reader = files->Open("a.spl", false);
    ASSERT_NE(reader, nullptr);
    ASSERT_TRUE(file->Append("!", 1));
    ASSERT_TRUE(reader->ReadAt(6, buffer, sizeof buffer, &got));
    EXPECT_EQ(std::string(buffer, got), "world!");

    std::string bytes;
    EXPECT_FALSE(files->ReadSmall("a.state", &bytes));
    ASSERT_TRUE(files->Replace("a.state", "first"));
    ASSERT_TRUE(files->Replace("a.state", "second"));
    ASSERT_TRUE(files->ReadSmall("a.state", &bytes));
    EXPECT_EQ(bytes, "second");

    std::vector<std::string> names;
    ASSERT_TRUE(files->List(&names));
    EXPECT_EQ(std::count(names.begin(), names.end(), "a.spl"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "a.state"), 1);
    file.reset();
    reader.reset();
    // A rename never replaces what is there.
    ASSERT_TRUE(files->Replace("b.spl", "other"));
    EXPECT_FALSE(files->Rename("a.spl", "b.spl"));
    ASSERT_TRUE(files->Rename("a.spl", "a.spl.damaged"));
    EXPECT_EQ(files->OpenForReading("a.spl"), nullptr);
    ASSERT_TRUE(files->ReadSmall("a.spl.damaged", &bytes));
    EXPECT_EQ(bytes, "hello world!");
    EXPECT_TRUE(files->Remove("a.spl.damaged"));
    EXPECT_FALSE(files->Remove("a.spl.damaged"));
    RemoveFolder(folder);
}

// The spool only reads a segment to deliver it: one it may not write is delivered all the same.
TEST(SpoolWin32, AReadOnlySegmentIsDelivered) {
    std::string folder = TempFolder("ovs-readonly-");
    RemoveFolder(folder);
    {
        CSpool spool(MakeSpoolFolder(folder), "10.0.0.2");
        ASSERT_TRUE(spool.Open().ok);
        for (int i = 0; i < 5; ++i) ASSERT_EQ(spool.Append(Record(i).data(), 220), SpoolAppend::kAppended);
    }
    std::string segment = folder + "\\" + SegmentFileName(SpoolName("10.0.0.2"), 1);
    ASSERT_TRUE(SetFileAttributesA(segment.c_str(), FILE_ATTRIBUTE_READONLY));
    std::vector<unsigned char> r;
    {
        CSpool spool(MakeSpoolFolder(folder), "10.0.0.2");
        SpoolOpen found = spool.Open();
        EXPECT_EQ(found.unreadableFiles, 0u);
        EXPECT_EQ(found.records, 5u);
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(spool.Head(&r), SpoolHead::kRecord) << i;
            EXPECT_EQ(r, Record(i));
            spool.MarkDelivered();
        }
        EXPECT_EQ(spool.Head(&r), SpoolHead::kEmpty);
        EXPECT_EQ(spool.SetAside(), 0u);
    }
    SetFileAttributesA(segment.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveFolder(folder);
}

TEST(SpoolWin32, RecordsSurviveAReopen) {
    std::string folder = TempFolder("ovs-spool-");
    RemoveFolder(folder);
    SpoolLimits limits;
    limits.segmentBytes = 3 * (12 + 220);
    std::vector<unsigned char> r;
    {
        CSpool spool(MakeSpoolFolder(folder), "10.0.0.1", limits);
        ASSERT_TRUE(spool.Open().ok);
        for (int i = 0; i < 10; ++i) ASSERT_EQ(spool.Append(Record(i).data(), 220), SpoolAppend::kAppended);
        for (int i = 0; i < 4; ++i) {
            ASSERT_EQ(spool.Head(&r), SpoolHead::kRecord);
            EXPECT_EQ(r, Record(i));
            spool.MarkDelivered();
        }
        EXPECT_TRUE(spool.Flush());
    }
    CSpool spool(MakeSpoolFolder(folder), "10.0.0.1", limits);
    SpoolOpen found = spool.Open();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.records, 6u);
    EXPECT_EQ(found.damagedRegions, 0u);
    ASSERT_EQ(spool.Append(Record(10).data(), 220), SpoolAppend::kAppended);
    for (int i = 4; i <= 10; ++i) {
        ASSERT_EQ(spool.Head(&r), SpoolHead::kRecord) << i;
        EXPECT_EQ(r, Record(i));
        spool.MarkDelivered();
    }
    EXPECT_EQ(spool.Head(&r), SpoolHead::kEmpty);
    EXPECT_TRUE(spool.Flush());  // delivered segments go once a position past them is saved
    std::vector<std::string> names;
    ASSERT_TRUE(MakeSpoolFolder(folder)->List(&names));
    for (const std::string& name : names)
        EXPECT_EQ(name.find(".spl"), std::string::npos) << name << " left behind";
    RemoveFolder(folder);
}

}  // namespace
