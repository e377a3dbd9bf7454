#include "app/commands/QVRScriptCommands.h"

#include "app/QuillaryAppDelegate.h"
#include "app/session/NoteSession.h"

#include "platform/core/Clock.h"
#include "platform/core/Variant.h"
#include "store/QVRNoteAttributes.h"
#include "store/QVRUtilities.h"

#include <QDateTime>
#include <QUuid>

#include <cmath>

namespace {

NoteSession* sessionOf(QuillaryAppDelegate* delegate)
{
    if (!delegate)
        delegate = QuillaryAppDelegate::sharedDelegate();
    return delegate ? delegate->noteSession() : nullptr;
}

// The store's reason for the last failed write, for the script's error.
QString notSavedMessage(const NoteSession& session)
{
    const std::optional<platform::Error> reason = session.writeFailure();
    QString why;
    if (reason) {
        why = reason->localizedDescription;
        const QString detail = reason->userInfo.value(QStringLiteral("reason")).toString();
        if (!detail.isEmpty())
            why = why.isEmpty() ? detail : QStringLiteral("%1: %2").arg(why, detail);
    }
    return why.isEmpty() ? QStringLiteral("Quillary could not save the change.")
                         : QStringLiteral("Quillary could not save the change: %1.").arg(why);
}

} // namespace

QVRSaveNoteScriptCommand::QVRSaveNoteScriptCommand(QVariantMap arguments, QuillaryAppDelegate* delegate)
    : QVRSaveNoteScriptCommand(std::move(arguments), sessionOf(delegate))
{
}

QVRSaveNoteScriptCommand::QVRSaveNoteScriptCommand(QVariantMap arguments, NoteSession* session)
    : m_arguments(std::move(arguments)), m_session(session)
{
}

bool QVRSaveNoteScriptCommand::performDefaultImplementation()
{
    const QVariant text = m_arguments.value(QVRNoteAttributeKey::text);
    if (!m_session || text.typeId() != QMetaType::QString)
        return false;

    const QVariant given = m_arguments.value(QString());
    QString uuid =
        given.typeId() == QMetaType::QString ? QVRUtilities::validUUID(given.toString()) : QString();
    if (uuid.isNull())
        uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();

    const QVariant date = m_arguments.value(QVRNoteAttributeKey::date);
    double seconds = platform::now();
    if (platform::isNumber(date) && std::isfinite(date.toDouble()))
        seconds = date.toDouble();
    else if (date.typeId() == QMetaType::QDateTime && date.toDateTime().isValid())
        seconds = double(date.toDateTime().toMSecsSinceEpoch()) / 1000.0;

    return m_session->quietlySaveItem({{QVRNoteAttributeKey::uuid, uuid},
                                       {QVRNoteAttributeKey::text, text.toString()},
                                       {QVRNoteAttributeKey::date, seconds}});
}

QVRDeleteNoteScriptCommand::QVRDeleteNoteScriptCommand(QVariantMap arguments, QuillaryAppDelegate* delegate)
    : QVRDeleteNoteScriptCommand(std::move(arguments), sessionOf(delegate))
{
}

QVRDeleteNoteScriptCommand::QVRDeleteNoteScriptCommand(QVariantMap arguments, NoteSession* session)
    : m_arguments(std::move(arguments)), m_session(session)
{
}

void QVRDeleteNoteScriptCommand::performDefaultImplementation()
{
    const QVariant given = m_arguments.value(QString());
    const QString uuid =
        given.typeId() == QMetaType::QString ? QVRUtilities::validUUID(given.toString()) : QString();
    if (uuid.isNull()) {
        m_scriptErrorNumber = InvalidUUIDError;
        m_scriptErrorString = QStringLiteral("A valid UUID is required.");
        return;
    }
    if (m_session && !m_session->quietlyDeleteUUID(uuid)) {
        m_scriptErrorNumber = NotSavedError;
        m_scriptErrorString = notSavedMessage(*m_session);
    }
}

bool QVRScriptingHandler::saveNote(const QVariantMap& item)
{
    return QVRSaveNoteScriptCommand(item, m_delegate).performDefaultImplementation();
}

bool QVRScriptingHandler::deleteNote(const QString& uuid, QString* failure)
{
    QVRDeleteNoteScriptCommand command({{QString(), uuid}}, m_delegate);
    command.performDefaultImplementation();
    if (command.notSaved() && failure)
        *failure = command.scriptErrorString();
    return command.scriptErrorNumber() == 0;
}
