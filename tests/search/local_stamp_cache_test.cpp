#include "search/local_stamp_cache.h"

#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "search/scan_files.h"
#include "search/scan_line.h"
#include "search/zone_scope.h"

using testing_support::stampTextOf;
using testing_support::ZoneScope;

namespace {

std::string cachedText(LocalStampCache& cache, std::time_t t)
{
    return testing_support::stampTextOfNumber(cache.stampNumber(t));
}

long offsetAt(std::time_t t)
{
    std::tm local {};
    localtime_r(&t, &local);
    return local.tm_gmtoff;
}

// Zone rules written out, so no zone database is needed: changes at whole
// hours of UTC, at half hours, at odd minutes and seconds, and none.
const char* const kZones[] = {
    "UTC0",
    "JST-9",
    "CET-1CEST,M3.5.0,M10.5.0/3",
    "EST5EDT,M3.2.0,M11.1.0",
    "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", // half-hour offset and a half-hour change
    "<-0317>3:17:30<-0217>2:17:30,M3.2.0/0:17:13,M11.1.0/2:43:59",
    "<+0545>-5:45",
};

} // namespace

TEST(LocalStampCacheTest, StampNumberTextIsTheStamp)
{
    ZoneScope zone("UTC0");
    EXPECT_EQ(stampNumberOf(0), 19700101000000);
    EXPECT_EQ(stampNumberOf(-1), 19691231235958);
    EXPECT_EQ(stampNumberOf(4354819201), 21080101000000);
    EXPECT_EQ(stampNumberOf(1022870527), 20020531184206);
    for (const int64_t stamp : {int64_t {19700101000000}, int64_t {20020531184206}, int64_t {101000000}})
        EXPECT_EQ(ScanLine(ScanLine::format({0, 0, stamp}, "/a")).stampNumber(), stamp) << stamp;
    EXPECT_EQ(testing_support::stampTextOfNumber(20020531184206), "2002/05/31 18/42/06");
}

TEST(LocalStampCacheTest, MatchesLocaltimeAcrossZoneChanges)
{
    for (const char* rule : kZones) {
        ZoneScope zone(rule);
        LocalStampCache cache;
        // Two years at an odd step, and every second of the two hours around
        // each change of offset met on the way.
        const std::time_t from = 1672531200; // 2023-01-01 UTC
        const std::time_t to = from + 2 * 366 * 86400;
        std::vector<std::time_t> changes;
        for (std::time_t t = from; t < to; t += 599) {
            ASSERT_EQ(cachedText(cache, t), stampTextOf(t)) << rule << " at " << t;
            if (offsetAt(t) != offsetAt(t + 599))
                changes.push_back(t);
        }
        if (std::string(rule).find(',') != std::string::npos) {
            EXPECT_EQ(changes.size(), 4u) << rule;
        }
        for (const std::time_t change : changes) {
            for (std::time_t t = change - 3600; t < change + 2 * 3600; ++t)
                ASSERT_EQ(cachedText(cache, t), stampTextOf(t)) << rule << " at " << t;
        }
    }
}

TEST(LocalStampCacheTest, FarTimesAndClampedYears)
{
    ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
    LocalStampCache cache;
    const std::time_t times[] = {
        0, -1, -86401, -2208988800 /* 1900 */, -62167219200 /* year 0 */, -62167219201, -99999999999,
        4354819201 /* 2108 */, 253402300799 /* 9999-12-31 23:59:59 UTC */, 253402300800, 999999999999,
        INT64_MIN, INT64_MAX, INT64_MIN + 1, INT64_MAX - 3599,
    };
    for (const std::time_t t : times)
        EXPECT_EQ(cachedText(cache, t), stampTextOf(t)) << t;
    EXPECT_EQ(cachedText(cache, 253402300800), "9999/12/31 23/59/58");
    EXPECT_EQ(cachedText(cache, INT64_MIN), "0000/01/01 00/00/00");
}

TEST(LocalStampCacheTest, KeepsTheZoneItFirstSaw)
{
    // One cache serves one scan: a zone set later applies to the next scan.
    ZoneScope zone("UTC0");
    LocalStampCache cache;
    EXPECT_EQ(cachedText(cache, 1022870527), "2002/05/31 18/42/06");
    LocalStampCache later;
    ZoneScope::set("JST-9");
    EXPECT_EQ(cachedText(later, 1022870527), "2002/06/01 03/42/06");
}

TEST(LocalStampCacheTest, LeapDaysAndCenturies)
{
    // Every hour from 27 February to 2 March of leap and common years,
    // century years among them (1900 and 2100 have no 29 February, 2000 has).
    ZoneScope zone("JST-9");
    LocalStampCache cache;
    for (const std::time_t march1 : {std::time_t {-2203891200} /* 1900 */, std::time_t {951868800} /* 2000 */,
                                     std::time_t {1709251200} /* 2024 */, std::time_t {1740787200} /* 2025 */,
                                     std::time_t {4107542400} /* 2100 */}) {
        for (std::time_t t = march1 - 3 * 86400; t < march1 + 2 * 86400; t += 3599)
            ASSERT_EQ(cachedText(cache, t), stampTextOf(t)) << t;
    }
    EXPECT_EQ(cachedText(cache, 951782400), "2000/02/29 09/00/00");
    EXPECT_EQ(cachedText(cache, 4107456000 + 86399), "2100/03/01 08/59/58");
    EXPECT_EQ(cachedText(cache, -62162035200 - 1), "0000/03/01 08/59/58"); // year 0 is a leap year
}
