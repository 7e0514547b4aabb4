#pragma once

#include <QLoggingCategory>

// What went wrong along the way without failing the whole run: folders the
// scan passed over, pictures that could not be read and why, libjpeg's
// warnings, faults of the signature cache after its one warning. Silent
// unless switched on, with QT_LOGGING_RULES="zelvic.*=true" (or a single
// category, e.g. "zelvic.scan=true") or zelvic-cli --verbose. Messages are
// formatted only when their category is on.
Q_DECLARE_LOGGING_CATEGORY(zelvicScan)
Q_DECLARE_LOGGING_CATEGORY(zelvicPicture)
Q_DECLARE_LOGGING_CATEGORY(zelvicCache)

// Switches every zelvic category on; QT_LOGGING_RULES still has the last word.
void enableVerboseLogging();
