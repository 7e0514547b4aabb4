#pragma once

#include <algorithm>
#include <atomic>

#include "compare/similar/similar_byte_sums.h"

// Switches the byte sums to `kind`, so that the tests hold every kind against
// the same results; a kind the processor lacks is replaced by the best it has
// below it (the table has no row for a kind the build cannot run).
inline void setByteSumKind(ByteSumKind kind)
{
    byte_sums_detail::kindInUse.store(std::min(kind, bestByteSumKind()), std::memory_order_relaxed);
}
