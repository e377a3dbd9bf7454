#pragma once

#include <QString>

// The user-visible text for `key` (the English text) from the application's
// string table; the key itself when the table has no entry.
QString QVRLocalizedString(const QString& key);
