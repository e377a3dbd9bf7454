#pragma once

#include <QString>
#include <QVariantMap>

namespace platform {

// An error as reported to callers and, through localizedDescription, to the
// user.
struct Error
{
    QString domain;
    int code = 0;
    QString localizedDescription;
    QString recoverySuggestion;
    QVariantMap userInfo;
};

} // namespace platform
