#include "client/logging.h"

// Info and debug off until asked for; warnings always reach the log.
Q_LOGGING_CATEGORY(lcNet, "velmora.net", QtWarningMsg)
Q_LOGGING_CATEGORY(lcModel, "velmora.model", QtWarningMsg)
Q_LOGGING_CATEGORY(lcKeyring, "velmora.keyring", QtWarningMsg)
Q_LOGGING_CATEGORY(lcTray, "velmora.tray", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUpdate, "velmora.update", QtWarningMsg)

void enableVerboseLogging() {
    QLoggingCategory::setFilterRules(QStringLiteral("velmora.*=true"));
}
