#pragma once

#include <array>
#include <cstdint>
#include <ctime>

// The stamp of a last-write time as one number, yyyymmddhhnnss: local time
// (TZ applies), the seconds rounded down to even as a DOS time keeps them.
// Times outside the DOS range (1980-2107) keep their real date; years beyond
// 0-9999 are clamped so that the stamp keeps its 14 digits. Ordered as its
// text in a scan line is.
int64_t stampNumberOf(std::time_t lastWrite);

// Gives stampNumberOf(t) for many files without a localtime_r call per file
// (glibc serialises those on a global lock). The offset from UTC is worked
// out once per hour of UTC and used for the whole hour only when localtime_r
// gives the same offset at both its ends, with no leap second; an hour with
// a zone change (or a leap second) takes localtime_r for every file in it.
// That rests on no zone changing its offset twice within one hour.
// One per thread, and one per scan: it keeps the zone it first saw.
class LocalStampCache {
public:
    int64_t stampNumber(std::time_t lastWrite);

private:
    struct Slot {
        int64_t hour = INT64_MIN;
        int64_t offset = 0;
        bool fixed = false; // offset holds for the whole hour
    };
    static constexpr std::size_t kSlots = 1024;

    void fill(Slot& slot, int64_t hour);

    std::array<Slot, kSlots> m_slots {};
};
