#include "cache/record_checksum.h"

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
