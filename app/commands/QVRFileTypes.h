#pragma once

#include "platform/core/Error.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The kinds of file the application opens, told apart by name the way the
// desktop's file types are, and the reading of plain text in whatever common
// encoding it comes.
namespace QVRFileTypes {

enum class FileType
{
    Unreadable,   // missing, a dangling link, or its kind cannot be told
    NoteDocument, // "*.quillary", whatever the case of the extension
    PlainText,    // a name whose type is exactly text/plain (".md", ".csv" are not)
    Other,        // folders and every other type
};

// The largest file opened as a note. A note is typed by hand; a file above
// this is refused before any of it is read.
constexpr qint64 MaximumFileSize = 16 * 1024 * 1024;

FileType typeOfFile(const QString& path, platform::Error* error = nullptr);

// Decodes the bytes of a text file: a byte-order mark (UTF-8, UTF-16 or
// UTF-32, either order) decides; otherwise strict UTF-8; otherwise
// Windows-1252. Nothing for text holding NUL characters (a binary file).
std::optional<QString> decodeText(const QByteArray& bytes);

// Reads and decodes a text file of at most MaximumFileSize bytes.
std::optional<QString> readText(const QString& path, platform::Error* error = nullptr);

} // namespace QVRFileTypes
