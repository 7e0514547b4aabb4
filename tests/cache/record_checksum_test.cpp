#include "cache/record_checksum.h"

#include <string>
#include <string_view>

#include <gtest/gtest.h>

// Records already on users' disks carry this sum: a change to how it is
// formed would make every kept record look damaged.
TEST(RecordChecksumTest, KeptRecordsStillMatch)
{
    EXPECT_EQ(recordChecksum(7, 1, 1, 640, 480, LoadFailure::None, "", "ab", "cd"), 933656606419328965);
    EXPECT_EQ(recordChecksum(0, 0, 0, 0, 0, LoadFailure::Damaged, "bad marker", "", ""), 7234882222066409433);
}

TEST(RecordChecksumTest, BytesMovedBetweenFieldsChangeIt)
{
    const int64_t base = recordChecksum(7, 1, 1, 640, 480, LoadFailure::None, "", "ab", "cd");
    EXPECT_NE(recordChecksum(7, 1, 1, 640, 480, LoadFailure::None, "", "abc", "d"), base);
    EXPECT_NE(recordChecksum(7, 1, 1, 640, 480, LoadFailure::None, "a", "b", "cd"), base);
    EXPECT_NE(recordChecksum(7, 1, 1, 480, 640, LoadFailure::None, "", "ab", "cd"), base);
    EXPECT_NE(recordChecksum(7, 1, 2, 640, 480, LoadFailure::None, "", "ab", "cd"), base);
    EXPECT_NE(recordChecksum(7, 1, 1, 640, 480, LoadFailure::None, "", "ab", std::string_view("cd\0", 3)), base);
}

// Kept records carry these sums too. They bind the content's sum to the
// record's key: the same content under another path or another file
// version is another sum.
TEST(RecordChecksumTest, KeptSumsCoverTheKey)
{
    FileVersion version;
    version.device = 0x801;
    version.inode = 7;
    version.size = 12345;
    version.mtimeNs = 1'600'000'000'123'456'789;
    version.ctimeNs = 1'600'000'001'000'000'001;
    const int64_t content = recordChecksum(7, 1, 1, 640, 480, LoadFailure::None, "", "ab", "cd");
    const int64_t base = keyedChecksum("/p/a.jpg", version, content);
    EXPECT_EQ(base, 4706568143133550209);
    EXPECT_EQ(headerSizeChecksum("/p/a.jpg", version, 1, 640, 480), 4866301015184586906);
    EXPECT_NE(keyedChecksum("/p/b.jpg", version, content), base);
    EXPECT_NE(keyedChecksum("/p/a.jpg", version, content + 1), base);
    for (int64_t FileVersion::*field : {&FileVersion::size, &FileVersion::mtimeNs, &FileVersion::ctimeNs}) {
        FileVersion other = version;
        other.*field += 1;
        EXPECT_NE(keyedChecksum("/p/a.jpg", other, content), base);
    }
    for (uint64_t FileVersion::*field : {&FileVersion::device, &FileVersion::inode}) {
        FileVersion other = version;
        other.*field += 1;
        EXPECT_NE(keyedChecksum("/p/a.jpg", other, content), base);
    }
    // The time a version was seen is no part of it.
    FileVersion seenLater = version;
    seenLater.seenNs += 1;
    EXPECT_EQ(keyedChecksum("/p/a.jpg", seenLater, content), base);
}

// The turned signatures' sum, taken eight bytes at a step: kept rows carry
// it, and a byte changed or moved anywhere in a blob, or from one blob to
// the other, changes it.
TEST(RecordChecksumTest, TurnedSumsSeeEveryByte)
{
    const std::string identical = "0123456789abcdefghijklmnopq"; // three words and a tail
    const std::string similar = "ABCDEFGHIJKLMNOP";
    const int64_t base = turnedChecksum(7, 1, 1, identical, similar);
    EXPECT_EQ(base, -9065280039609799035);
    for (std::size_t at = 0; at < identical.size(); ++at) {
        std::string changed = identical;
        changed[at] = static_cast<char>(changed[at] ^ 1);
        EXPECT_NE(turnedChecksum(7, 1, 1, changed, similar), base) << at;
    }
    EXPECT_NE(turnedChecksum(7, 1, 1, identical + "A", similar.substr(1)), base);
    EXPECT_NE(turnedChecksum(7, 1, 1, similar, identical), base);
    EXPECT_NE(turnedChecksum(7, 0, 1, identical, similar), base);
    EXPECT_NE(turnedChecksum(7, 1, 1, identical, std::string_view("ABCDEFGHIJKLMNOP\0", 17)), base);
}
