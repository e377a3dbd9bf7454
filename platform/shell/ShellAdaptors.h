#pragma once
// The bus interfaces of the application object (internal to ApplicationShell).

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace platform {

class ApplicationShell;

class ApplicationAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quorvane.Quillary.Application")
public:
    ApplicationAdaptor(QObject* object, ApplicationShell* shell);

public slots:
    void Activate(const QDBusMessage& message);
    void OpenURL(const QString& url, const QDBusMessage& message);
    void OpenFiles(const QStringList& paths, const QDBusMessage& message);

private:
    // Answers the Quitting error while the application quits: what a start
    // asks of it would be dropped.
    bool refusedWhileQuitting(const QDBusMessage& message) const;

    ApplicationShell* m_shell;
};

class ScriptingAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quorvane.Quillary.Scripting")
public:
    ScriptingAdaptor(QObject* object, ApplicationShell* shell);

    // The argument dictionary of SaveNote as the handler gets it, or nothing
    // when the command must not save (see ApplicationShell).
    static std::optional<QVariantMap> saveArguments(const QVariantMap& arguments);
    // The uuid argument of DeleteNote when it is a string.
    static std::optional<QString> deleteArgument(const QVariantMap& arguments);

public slots:
    bool SaveNote(const QVariantMap& arguments, const QDBusMessage& message);
    void DeleteNote(const QVariantMap& arguments, const QDBusMessage& message);

private:
    ApplicationShell* m_shell;
};

} // namespace platform
