#pragma once

#include <QString>
#include <QVariantMap>

namespace platform {

// What the scripting commands on the session bus do; the application
// implements it. The bus side has already checked the types: see
// ApplicationShell for what reaches these calls.
class ScriptingHandler
{
public:
    virtual ~ScriptingHandler();

    // Saves a note for a script and answers whether a note came back. `item`
    // always holds "text" (a string); it holds "" (the uuid as the caller gave
    // it, a string) and "date" (seconds since 1970, a double) only when the
    // caller gave them.
    virtual bool saveNote(const QVariantMap& item) = 0;

    // Deletes the note with `uuid`. Returns false when `uuid` is not a valid
    // UUID (the caller then gets the error "A valid UUID is required."), or
    // when the delete could not be stored: then `failure` says why, and the
    // caller gets the error kNotSavedError with that text.
    virtual bool deleteNote(const QString& uuid, QString* failure = nullptr) = 0;
};

} // namespace platform
