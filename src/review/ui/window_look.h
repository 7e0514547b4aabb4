#pragma once

#include <QFont>

class QWidget;

// What the main window and the review window share of their look.

// The family list that stands in for "ＭＳ Ｐゴシック" (IPAPGothic is
// metric-compatible), with no size set or at a size in pixels.
QFont gothicFont();
QFont gothicFont(int pixelSize);

// Names `window` after its designer form, gives it the design caption (the
// title until the main window sets its own) and `font`.
void dressWindow(QWidget& window, const char* formName, const QFont& font);
