#include "search/local_stamp_cache.h"

#include <chrono>

namespace {

using std::chrono::days;
using std::chrono::floor;
using std::chrono::seconds;
using std::chrono::sys_days;
using std::chrono::sys_seconds;
using std::chrono::year_month_day;

// Whole hours since the epoch, rounded toward the past for times before it.
int64_t hourOf(int64_t t)
{
    return floor<std::chrono::hours>(seconds {t}).count();
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
    const int64_t hour = hourOf(t);
    Slot& slot = m_slots[static_cast<std::size_t>(hour) % kSlots];
    if (slot.hour != hour)
        fill(slot, hour);
    if (!slot.fixed)
        return stampNumberOf(lastWrite);
    // The offset turns the instant into local wall time, read as if it were UTC.
    const sys_seconds local {seconds {t + slot.offset}};
    const sys_days day = floor<days>(local);
    const year_month_day date {day};
    const std::chrono::hh_mm_ss time {local - day};
    return stampOf(static_cast<int>(date.year()), static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                   time.hours().count(), time.minutes().count(), time.seconds().count());
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
        const sys_days day {std::chrono::year {static_cast<int>(year)} / (local.tm_mon + 1) / local.tm_mday};
        const sys_seconds wall = day + std::chrono::hours {local.tm_hour} + std::chrono::minutes {local.tm_min}
                                 + seconds {local.tm_sec};
        offset = wall.time_since_epoch().count() - t;
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
