#pragma once

#include <QLoggingCategory>

// Port opening, failures and, at debug level, every byte written and read:
//   QT_LOGGING_RULES="rqv5.link.debug=true"
Q_DECLARE_LOGGING_CATEGORY(lcLink)
