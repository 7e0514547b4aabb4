#include "common/log_categories.h"

// QtFatalMsg as the least severity enabled: not even warnings print until
// a rule switches the category on.
Q_LOGGING_CATEGORY(zelvicScan, "zelvic.scan", QtFatalMsg)
Q_LOGGING_CATEGORY(zelvicPicture, "zelvic.picture", QtFatalMsg)
Q_LOGGING_CATEGORY(zelvicCache, "zelvic.cache", QtFatalMsg)

void enableVerboseLogging()
{
    QLoggingCategory::setFilterRules(QStringLiteral("zelvic.*=true"));
}
