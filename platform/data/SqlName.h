#pragma once

#include <QString>

namespace platform {

// A table or column name as SQL reads it: in double quotes, with any double
// quote inside doubled.
inline QString sqlQuoted(const QString& name)
{
    QString escaped = name;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

} // namespace platform
