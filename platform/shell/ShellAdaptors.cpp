#include "platform/shell/ShellAdaptors.h"

#include "platform/core/Variant.h"
#include "platform/shell/ApplicationShell.h"
#include "platform/shell/ScriptingHandler.h"

#include <QDBusConnection>
#include <QDBusVariant>
#include <QDateTime>

#include <cmath>

namespace platform {
namespace {

// A variant inside a variant arrives wrapped; scripts may well send one.
QVariant unwrap(QVariant value)
{
    for (int depth = 0; depth < 8 && value.metaType() == QMetaType::fromType<QDBusVariant>(); ++depth)
        value = value.value<QDBusVariant>().variant();
    return value;
}

std::optional<double> seconds(const QVariant& value)
{
    if (isNumber(value)) {
        const double d = value.toDouble();
        return std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
    }
    if (value.metaType().id() != QMetaType::QString)
        return std::nullopt;
    const QString text = value.toString().trimmed();
    QDateTime date = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!date.isValid())
        date = QDateTime::fromString(text, Qt::ISODate);
    if (!date.isValid())
        return std::nullopt;
    return double(date.toMSecsSinceEpoch()) / 1000.0;
}

void replyError(const QDBusMessage& message, const QString& name, const QString& text)
{
    message.setDelayedReply(true);
    QDBusConnection::sessionBus().send(message.createErrorReply(name, text));
}

} // namespace

ApplicationAdaptor::ApplicationAdaptor(QObject* object, ApplicationShell* shell)
    : QDBusAbstractAdaptor(object), m_shell(shell)
{
}

bool ApplicationAdaptor::refusedWhileQuitting(const QDBusMessage& message) const
{
    if (m_shell->m_termination == ApplicationShell::Termination::Running)
        return false;
    replyError(message, QString::fromLatin1(ApplicationShell::kQuittingError),
               QStringLiteral("Quillary is quitting."));
    return true;
}

void ApplicationAdaptor::Activate(const QDBusMessage& message)
{
    if (!refusedWhileQuitting(message))
        emit m_shell->reopen();
}

void ApplicationAdaptor::OpenURL(const QString& url, const QDBusMessage& message)
{
    if (!refusedWhileQuitting(message))
        emit m_shell->openURL(url);
}

void ApplicationAdaptor::OpenFiles(const QStringList& paths, const QDBusMessage& message)
{
    if (!refusedWhileQuitting(message) && !paths.isEmpty())
        emit m_shell->openFiles(paths);
}

ScriptingAdaptor::ScriptingAdaptor(QObject* object, ApplicationShell* shell)
    : QDBusAbstractAdaptor(object), m_shell(shell)
{
}

std::optional<QVariantMap> ScriptingAdaptor::saveArguments(const QVariantMap& arguments)
{
    // A missing or non-string text would otherwise reach the save as "no
    // text", which archives an existing note while answering true.
    const QVariant text = unwrap(arguments.value(QStringLiteral("text")));
    if (text.metaType() != QMetaType::fromType<QString>())
        return std::nullopt;
    QVariantMap item;
    item.insert(QStringLiteral("text"), text.toString());
    const QVariant uuid = unwrap(arguments.value(QString()));
    if (uuid.metaType() == QMetaType::fromType<QString>())
        item.insert(QString(), uuid.toString());
    if (auto date = seconds(unwrap(arguments.value(QStringLiteral("date")))))
        item.insert(QStringLiteral("date"), *date);
    return item;
}

std::optional<QString> ScriptingAdaptor::deleteArgument(const QVariantMap& arguments)
{
    const QVariant uuid = unwrap(arguments.value(QString()));
    if (uuid.metaType() != QMetaType::fromType<QString>())
        return std::nullopt;
    return uuid.toString();
}

bool ScriptingAdaptor::SaveNote(const QVariantMap& arguments, const QDBusMessage& message)
{
    if (!m_shell->m_scripting) {
        replyError(message, QStringLiteral("com.quorvane.Quillary.Error.NotReady"),
                   QStringLiteral("Quillary is still starting."));
        return false;
    }
    const auto item = saveArguments(arguments);
    return item && m_shell->m_scripting->saveNote(*item);
}

void ScriptingAdaptor::DeleteNote(const QVariantMap& arguments, const QDBusMessage& message)
{
    if (!m_shell->m_scripting) {
        replyError(message, QStringLiteral("com.quorvane.Quillary.Error.NotReady"),
                   QStringLiteral("Quillary is still starting."));
        return;
    }
    const auto uuid = deleteArgument(arguments);
    QString failure;
    if (uuid && m_shell->m_scripting->deleteNote(*uuid, &failure))
        return;
    if (!failure.isEmpty())
        replyError(message, QString::fromLatin1(ApplicationShell::kNotSavedError), failure);
    else
        replyError(message, QString::fromLatin1(ApplicationShell::kWrongDataTypeError),
                   QStringLiteral("A valid UUID is required."));
}

} // namespace platform
