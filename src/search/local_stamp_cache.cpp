#include "search/local_stamp_cache.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;

int64_t floorDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back
// (H. Hinnant's civil calendar algorithms).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2;
    const int64_t era = floorDiv(y, 400);
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct CivilDate {
    int64_t year;
    int64_t month;
    int64_t day;
};

CivilDate civilFromDays(int64_t z)
{
    z += 719468;
    const int64_t era = floorDiv(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    return CivilDate {yoe + era * 400 + (m <= 2), m, d};
}

// yyyymmddhhnnss, the seconds rounded down to even as a DOS time keeps them.
int64_t stampOf(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second)
{
    return ((((year * 100 + month) * 100 + day) * 100 + hour) * 100 + minute) * 100 + (second & ~int64_t {1});
}

// 0000/01/01 00/00/00 and 9999/12/31 23/59/58: the stamps of times before and
// after the years a stamp shows.
constexpr int64_t kEarliestStamp = 101000000;
constexpr int64_t kLatestStamp = 99991231235958;

} // namespace

int64_t stampNumberOf(std::time_t lastWrite)
{
    std::tm local {};
    if (!localtime_r(&lastWrite, &local))
        return kEarliestStamp;
    // tm_year may be close to INT_MAX for a time stamp far in the future.
    const int64_t year = int64_t {local.tm_year} + 1900;
    if (year < 0)
        return kEarliestStamp;
    if (year > 9999)
        return kLatestStamp;
    return stampOf(year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

int64_t LocalStampCache::stampNumber(std::time_t lastWrite)
{
    const int64_t t = lastWrite;
    const int64_t hour = floorDiv(t, 3600);
    Slot& slot = m_slots[static_cast<std::size_t>(hour) % kSlots];
    if (slot.hour != hour)
        fill(slot, hour);
    if (!slot.fixed)
        return stampNumberOf(lastWrite);
    const int64_t local = t + slot.offset;
    const int64_t days = floorDiv(local, kSecondsPerDay);
    const int64_t secondOfDay = local - days * kSecondsPerDay;
    const CivilDate date = civilFromDays(days);
    return stampOf(date.year, date.month, date.day, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
}

void LocalStampCache::fill(Slot& slot, int64_t hour)
{
    slot.hour = hour;
    slot.fixed = false;
    // The offset at an instant, when localtime_r gives an ordinary time in
    // the years the stamp shows unclamped.
    const auto offsetAt = [](int64_t t, int64_t& offset) {
        const std::time_t at = static_cast<std::time_t>(t);
        std::tm local {};
        if (!localtime_r(&at, &local) || local.tm_sec > 59)
            return false;
        const int64_t year = int64_t {local.tm_year} + 1900;
        if (year < 0 || year > 9999)
            return false;
        offset = daysFromCivil(year, local.tm_mon + 1, local.tm_mday) * kSecondsPerDay
                 + local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec - t;
        return true;
    };
    // Hours far outside the years 0-9999 go the slow way (and never overflow here).
    constexpr int64_t kLimitHours = int64_t {12000} * 366 * 24;
    if (hour < -kLimitHours || hour > kLimitHours)
        return;
    const int64_t start = hour * 3600;
    int64_t first = 0;
    int64_t last = 0;
    if (offsetAt(start, first) && offsetAt(start + 3599, last) && first == last) {
        slot.offset = first;
        slot.fixed = true;
    }
}
