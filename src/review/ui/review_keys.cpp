#include "review/ui/review_keys.h"

#include <QKeyEvent>

namespace {

// X keycodes (evdev + 8) of the keys "1" and "2" of the main block, the same
// on xcb and Wayland.
constexpr quint32 kScanCodeOne = 10;
constexpr quint32 kScanCodeTwo = 11;

// 1 or 2 for the digit keys, 0 otherwise; `shifted` whether Shift was part
// of it.
int digitOf(const QKeyEvent& event, bool& shifted)
{
    shifted = event.modifiers().testFlag(Qt::ShiftModifier);
    const quint32 scan = event.nativeScanCode();
    if (scan == kScanCodeOne || scan == kScanCodeTwo)
        return scan == kScanCodeOne ? 1 : 2;
    switch (event.key()) {
    case Qt::Key_1:
        return 1;
    case Qt::Key_2:
        return 2;
    default:
        break;
    }
    if (scan != 0)
        return 0; // a real key elsewhere: Shift+' on a US keyboard is no "2"
    shifted = true;
    switch (event.key()) {
    case Qt::Key_Exclam:
        return 1;
    case Qt::Key_At:
    case Qt::Key_QuoteDbl:
        return 2;
    default:
        return 0;
    }
}

} // namespace

ReviewKey reviewKeyOf(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
    // Control and Alt combinations belong to the system and the widgets.
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return ReviewKey::None;
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    switch (event.key()) {
    case Qt::Key_Left:
        return shift ? ReviewKey::PanLeft : ReviewKey::Prev;
    case Qt::Key_Right:
        return shift ? ReviewKey::PanRight : ReviewKey::Next;
    case Qt::Key_Up:
        return shift ? ReviewKey::PanUp : ReviewKey::None;
    case Qt::Key_Down:
        return shift ? ReviewKey::PanDown : ReviewKey::None;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return ReviewKey::Ok;
    case Qt::Key_Escape:
        return ReviewKey::Abort;
    case Qt::Key_Plus:
    case Qt::Key_Equal: // "+" without Shift on many keyboards
        return ReviewKey::ZoomIn;
    case Qt::Key_Minus:
        return ReviewKey::ZoomOut;
    case Qt::Key_0:
        return ReviewKey::ZoomActual;
    default:
        break;
    }
    bool shifted = false;
    const int digit = digitOf(event, shifted);
    if (digit == 1)
        return shifted ? ReviewKey::Move1 : ReviewKey::Delete1;
    if (digit == 2)
        return shifted ? ReviewKey::Move2 : ReviewKey::Delete2;
    return ReviewKey::None;
}
