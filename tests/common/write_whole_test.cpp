#include "common/write_whole.h"

#include <cerrno>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <unistd.h>

// A pipe takes 64 KiB at a time: a larger write comes back short and must
// be carried on until every byte is through, in order.
TEST(WriteWholeTest, ShortWritesAreCarriedOnInOrder)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::string data(1 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + i / 251);
    std::string received;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(ends[0], buffer, sizeof buffer)) > 0)
            received.append(buffer, static_cast<std::size_t>(n));
    });
    const bool ok = writeWhole(ends[1], data.data(), data.size());
    ::close(ends[1]);
    reader.join();
    ::close(ends[0]);
    EXPECT_TRUE(ok);
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

TEST(WriteWholeTest, FailureLeavesErrno)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    errno = 0;
    EXPECT_FALSE(writeWhole(ends[0], "x", 1)); // the reading end
    EXPECT_EQ(errno, EBADF);
    EXPECT_TRUE(writeWhole(ends[1], "", 0));
    ::close(ends[0]);
    ::close(ends[1]);
}
