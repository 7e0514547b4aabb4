#include "search/local_stamp_cache.h"

#include <chrono>

#include "search/scan_line.h"

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

int64_t stampNumberFromText(const std::string& text)
{
    int64_t value = 0;
    for (char c : text)
        if (c >= '0' && c <= '9')
            value = value * 10 + (c - '0');
    return value;
}

} // namespace

int64_t stampNumberOf(std::time_t lastWrite)
{
    return stampNumberFromText(formatStamp(lastWrite));
}

void writeStampText(int64_t stampNumber, char* out)
{
    // Digit positions of "yyyy/mm/dd hh/nn/ss", last digit first.
    static constexpr int kDigitAt[14] = {18, 17, 15, 14, 12, 11, 9, 8, 6, 5, 3, 2, 1, 0};
    out[4] = out[7] = '/';
    out[10] = ' ';
    out[13] = out[16] = '/';
    uint64_t rest = static_cast<uint64_t>(stampNumber);
    for (int at : kDigitAt) {
        out[at] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    }
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
    const int64_t year = static_cast<int>(date.year());
    const int64_t dateNumber = (year * 100 + static_cast<unsigned>(date.month())) * 100 + static_cast<unsigned>(date.day());
    const int64_t ss = time.seconds().count() & ~int64_t {1};
    const int64_t timeNumber = (time.hours().count() * 100 + time.minutes().count()) * 100 + ss;
    return dateNumber * 1'000'000 + timeNumber;
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
