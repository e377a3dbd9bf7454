#pragma once

#include "platform/shell/ScriptingHandler.h"

#include <QString>
#include <QVariant>
#include <QVariantMap>

class QuillaryAppDelegate;

// The two commands scripts send over the session bus. Their arguments come
// under "" (the note's uuid), "text" and "date". The delegate is the shared
// application delegate unless one is given.
class QVRSaveNoteScriptCommand
{
public:
    explicit QVRSaveNoteScriptCommand(QVariantMap arguments, QuillaryAppDelegate* delegate = nullptr);

    // Whether a note was saved. A uuid that is not valid becomes a new note;
    // a date that is neither seconds nor a date is now. A missing text, or
    // one that is not a string, saves nothing: handed on as "no text", it
    // would delete the note the uuid names.
    bool performDefaultImplementation();

private:
    QVariantMap m_arguments;
    QuillaryAppDelegate* m_delegate;
};

class QVRDeleteNoteScriptCommand
{
public:
    explicit QVRDeleteNoteScriptCommand(QVariantMap arguments, QuillaryAppDelegate* delegate = nullptr);

    // Deletes the note the uuid names, when there is one. A missing or invalid
    // uuid sets the script error instead.
    void performDefaultImplementation();

    int scriptErrorNumber() const { return m_scriptErrorNumber; }
    QString scriptErrorString() const { return m_scriptErrorString; }

private:
    QVariantMap m_arguments;
    QuillaryAppDelegate* m_delegate;
    int m_scriptErrorNumber = 0;
    QString m_scriptErrorString;
};

// Runs the commands for the application's bus object.
class QVRScriptingHandler : public platform::ScriptingHandler
{
public:
    explicit QVRScriptingHandler(QuillaryAppDelegate* delegate = nullptr) : m_delegate(delegate) {}
    bool saveNote(const QVariantMap& item) override;
    bool deleteNote(const QString& uuid) override;

private:
    QuillaryAppDelegate* m_delegate;
};
