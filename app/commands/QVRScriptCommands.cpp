#include "app/commands/QVRScriptCommands.h"

#include "app/QuillaryAppDelegate.h"

#include "platform/core/Clock.h"
#include "platform/core/Variant.h"
#include "store/QVRNoteAttributes.h"
#include "store/QVRUtilities.h"

#include <QDateTime>
#include <QUuid>

#include <cmath>

namespace {

QuillaryAppDelegate* delegateOr(QuillaryAppDelegate* delegate)
{
    return delegate ? delegate : QuillaryAppDelegate::sharedDelegate();
}

} // namespace

QVRSaveNoteScriptCommand::QVRSaveNoteScriptCommand(QVariantMap arguments, QuillaryAppDelegate* delegate)
    : m_arguments(std::move(arguments)), m_delegate(delegateOr(delegate))
{
}

bool QVRSaveNoteScriptCommand::performDefaultImplementation()
{
    const QVariant text = m_arguments.value(QVRNoteAttributeKey::text);
    if (!m_delegate || text.typeId() != QMetaType::QString)
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

    return m_delegate->quietlySaveItem({{QVRNoteAttributeKey::uuid, uuid},
                                        {QVRNoteAttributeKey::text, text.toString()},
                                        {QVRNoteAttributeKey::date, seconds}});
}

QVRDeleteNoteScriptCommand::QVRDeleteNoteScriptCommand(QVariantMap arguments, QuillaryAppDelegate* delegate)
    : m_arguments(std::move(arguments)), m_delegate(delegateOr(delegate))
{
}

void QVRDeleteNoteScriptCommand::performDefaultImplementation()
{
    const QVariant given = m_arguments.value(QString());
    const QString uuid =
        given.typeId() == QMetaType::QString ? QVRUtilities::validUUID(given.toString()) : QString();
    if (uuid.isNull()) {
        m_scriptErrorNumber = -1703;
        m_scriptErrorString = QStringLiteral("A valid UUID is required.");
        return;
    }
    if (m_delegate)
        m_delegate->quietlyDeleteUUID(uuid);
}

bool QVRScriptingHandler::saveNote(const QVariantMap& item)
{
    return QVRSaveNoteScriptCommand(item, m_delegate).performDefaultImplementation();
}

bool QVRScriptingHandler::deleteNote(const QString& uuid)
{
    QVRDeleteNoteScriptCommand command({{QString(), uuid}}, m_delegate);
    command.performDefaultImplementation();
    return command.scriptErrorNumber() == 0;
}
