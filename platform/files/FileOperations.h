#pragma once

#include "platform/core/Error.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// Error domain for failures reported by the operating system (code = errno).
extern const QString PosixErrorDomain;

// Reads the whole file. With `modificationDate`, also gives the content
// modification time of what was read (unset when the system did not tell).
std::optional<QByteArray> readFileContents(const QString& path, Error* error = nullptr,
                                           std::optional<double>* modificationDate = nullptr);

// The content modification time a write is to give its file, and whether it
// did. A date that cannot be set leaves the write whole and says why here.
struct ModificationDate
{
    double secondsSince1970 = 0;
    bool applied = false;
    Error error;
};

// Writes through a temporary file in the same folder and renames it over
// `path`: readers see the old contents or the new, never a part. With
// `date`, the file appears with that modification time already set.
bool writeFileAtomically(const QString& path, const QByteArray& data, Error* error = nullptr,
                         ModificationDate* date = nullptr);

// Writes `data` to `path` only if nothing is there, also against other
// writers racing for the same name: exactly one of them succeeds, the others
// fail with EEXIST. The file appears complete or not at all, and with
// `date` set as above.
bool writeFileCreatingOnly(const QString& path, const QByteArray& data, Error* error = nullptr,
                           ModificationDate* date = nullptr);

// The content modification time in seconds since 1970, to the nanosecond
// as far as a double holds it.
std::optional<double> contentModificationDate(const QString& path, Error* error = nullptr);

// Removes a file, a link or a whole folder.
bool removeItem(const QString& path, Error* error = nullptr);

} // namespace platform
