#include "review/pane_size.h"

#include "search/search_options.h"

namespace {

struct PaneBase {
    int32_t width;
    int32_t height;
};

// The "画面サイズ" items: 800 x 600, 1024 x 768, 1280 x 1024.
constexpr PaneBase kPaneBases[] = {{260, 416}, {330, 545}, {410, 738}};

} // namespace

PaneSize searchPaneSize(int32_t screen)
{
    const PaneBase base = (screen >= 0 && screen <= 2) ? kPaneBases[screen] : kPaneBases[0];
    return PaneSize {base.width * 3 / 2, base.height};
}

PaneSize redisplayPaneSize(int32_t screen, CheckMode mode, PaneSize previous)
{
    // No item chosen keeps the pane as it was; widening it again would make
    // it grow with every re-display.
    if (screen < 0 || screen > 2)
        return previous;
    const PaneBase base = kPaneBases[screen];
    const bool widened = mode == CheckMode::Identical || mode == CheckMode::Similar;
    return PaneSize {widened ? base.width * 3 / 2 : base.width, base.height};
}
