#pragma once

#include "platform/shell/ScriptingHandler.h"

#include <QString>
#include <QVariant>
#include <QVariantMap>

class NoteSession;
class QuillaryAppDelegate;

// The two commands scripts send over the session bus. Their arguments come
// under "" (the note's uuid), "text" and "date". They act on the open note's
// session: the given one, the given delegate's, or else the shared
// application delegate's.
class QVRSaveNoteScriptCommand
{
public:
    explicit QVRSaveNoteScriptCommand(QVariantMap arguments, QuillaryAppDelegate* delegate = nullptr);
    QVRSaveNoteScriptCommand(QVariantMap arguments, NoteSession* session);

    // Whether a note was saved (and written to the store). A uuid that is
    // not valid becomes a new note; a date that is neither seconds nor a
    // date is now. A missing text, or one that is not a string, saves
    // nothing: handed on as "no text", it would delete the note the uuid
    // names.
    bool performDefaultImplementation();

private:
    QVariantMap m_arguments;
    NoteSession* m_session;
};

class QVRDeleteNoteScriptCommand
{
public:
    explicit QVRDeleteNoteScriptCommand(QVariantMap arguments, QuillaryAppDelegate* delegate = nullptr);
    QVRDeleteNoteScriptCommand(QVariantMap arguments, NoteSession* session);

    // Deletes the note the uuid names, when there is one. A missing or invalid
    // uuid sets the script error -1703 instead; a delete the store could not
    // write sets -10000 with the store's reason.
    void performDefaultImplementation();

    int scriptErrorNumber() const { return m_scriptErrorNumber; }
    QString scriptErrorString() const { return m_scriptErrorString; }
    // The error was the store's, not the arguments'.
    bool notSaved() const { return m_scriptErrorNumber == NotSavedError; }

    static constexpr int InvalidUUIDError = -1703;
    static constexpr int NotSavedError = -10000;

private:
    QVariantMap m_arguments;
    NoteSession* m_session;
    int m_scriptErrorNumber = 0;
    QString m_scriptErrorString;
};

// Runs the commands for the application's bus object.
class QVRScriptingHandler : public platform::ScriptingHandler
{
public:
    explicit QVRScriptingHandler(QuillaryAppDelegate* delegate = nullptr) : m_delegate(delegate) {}
    bool saveNote(const QVariantMap& item) override;
    bool deleteNote(const QString& uuid, QString* failure = nullptr) override;

private:
    QuillaryAppDelegate* m_delegate;
};
