#pragma once

#include <cstdint>

#include "review/search_records.h"

// Size of one review pane.
struct PaneSize {
    int32_t width = 0;
    int32_t height = 0;
};

// The review pane of a search from the "画面サイズ" item index: base width
// 260, 330 or 410 times 3 / 2, height 416, 545 or 738. No item chosen (-1)
// gives the sizes of item 0.
PaneSize searchPaneSize(int32_t screen);

// The review pane of a re-display ("画像再表示"): the base width, times 3 / 2
// only in CheckMode 2 and 3; no item chosen keeps `previous`.
PaneSize redisplayPaneSize(int32_t screen, CheckMode mode, PaneSize previous);
