#pragma once

#include <QString>

#include <optional>

// The parts of a URL as they stand in its text. QUrl lower-cases the host and
// decodes the query; the application's commands compare the host exactly and
// measure the query still encoded, so the text is split here by hand.
struct QVRURLParts
{
    QString scheme; // as written
    QString host;   // as written, case kept; empty without "//"
    QString query;  // between the first "?" and a "#", still percent-encoded
    bool hasQuery = false;

    // Nothing for text that is not a valid URL (QUrl's strict parsing, which
    // also refuses malformed percent escapes, spaces and control characters).
    static std::optional<QVRURLParts> parse(const QString& text);
};
