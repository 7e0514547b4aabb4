#pragma once

#include <cstdint>
#include <vector>

#include "review/ui/review_window.h"

// The review window without its modal loop, for the window tests and the
// review benchmarks.
class ReviewWindowTestPeer {
public:
    // Lays out, fills and shows the window for `group`; false (after
    // reporting) when a picture cannot be read. `group` must outlive it.
    static bool openGroup(ReviewWindow& window, ReviewSession& session, std::vector<int32_t>& group,
                          int32_t paneCount = 2, const GroupPlace& place = {})
    {
        return window.openGroup(session, group, paneCount, place);
    }

    // Clicks and keys that act on the pair on show are taken now.
    static bool pairSettled(const ReviewWindow& window) { return window.pairSettled(); }

    // A test that steps through hundreds of pairs waits only for each pair's
    // pictures, not for a person's look at it.
    static void setSettleMs(ReviewWindow& window, int64_t ms) { window.m_settleMs = ms; }
};
