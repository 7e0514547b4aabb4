#pragma once

class QKeyEvent;

// What a key stands for in the review window: each names the button it
// presses.
enum class ReviewKey {
    None,
    Prev,       // Left: "Prev"
    Next,       // Right: "Next"
    Delete1,    // 1: "削除１"
    Delete2,    // 2: "削除２"
    Move1,      // Shift+1, whatever character the layout makes of it: "移動１"
    Move2,      // Shift+2: "移動２"
    ZoomIn,     // +
    ZoomOut,    // -
    ZoomActual, // 0: "1:1"
    PanLeft,    // Shift+arrows: the pad's arrows
    PanRight,
    PanUp,
    PanDown,
    Ok,         // Enter
    Abort,      // Esc: "中断"
};

// The key a press stands for. With a keyboard the digit keys are known by
// their place (X keycodes 10 and 11), so Shift+1 is "移動１" on every layout;
// without a scan code (synthetic events) the characters that Shift makes of
// 1 and 2 on common layouts count: "!", and "@" or "\"".
ReviewKey reviewKeyOf(const QKeyEvent& event);
