#include "sync/QVRSyncInOperation.h"

#include "sync/QVRNoteDocument.h"

#include "platform/cloud/MetadataQuery.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/core/MainThread.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/predicate/Predicate.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"

#include <QFileInfo>

#include <exception>

std::shared_ptr<QVRSyncInOperation>
QVRSyncInOperation::operationForMetadataItem(const platform::MetadataItem& item)
{
    auto operation = std::make_shared<QVRSyncInOperation>();
    operation->setURL(item.path);
    operation->setDate(item.contentChangeDate);
    operation->setCurrent(item.isCurrent);
    operation->setDownloading(item.isDownloading);
    operation->setQueuePriority(platform::OperationQueuePriority::High);
    return operation;
}

QString QVRSyncInOperation::uuidFromURL(const QString& url)
{
    const QString name = QFileInfo(url).completeBaseName();
    const int space = name.indexOf(QLatin1Char(' '));
    return space < 0 ? name : name.left(space);
}

bool QVRSyncInOperation::storeHoldsNoteNotOlderThan(const QString& uuid, double date,
                                                    platform::ManagedObjectContext* context)
{
    if (!context)
        return true;
    bool found = false;
    context->performAndWait([&] {
        for (platform::ManagedObject* note :
             QVRDataStore::objectsWithUUID(context, QVRNoteEntityName, uuid)) {
            const QVariant modified = note->value(QStringLiteral("modified"));
            found = found || (!modified.isNull() && modified.toDouble() >= date - 0.001);
        }
    });
    return found;
}

bool QVRSyncInOperation::objectExistsWithDateLaterThan(double date,
                                                       platform::ManagedObjectContext* context) const
{
    return storeHoldsNoteNotOlderThan(uuidFromURL(m_url), date, context);
}

bool QVRSyncInOperation::shouldDeleteObjectWithDate(double date) const
{
    return m_historyDate.has_value() && date < *m_historyDate;
}

void QVRSyncInOperation::main()
{
    try {
        if (isCancelled() || m_delegate.expired() || m_url.isEmpty()) {
            finish();
            return;
        }
        // Files of a sync tool are always local, so nothing is ever fetched
        // first; an item that is neither here nor on its way is left for the
        // next notice.
        if (!m_current && !m_downloading) {
            finish();
            return;
        }
        if (!m_parentObjectContext) {
            platform::log(QStringLiteral("No database connection"));
            finish();
            return;
        }
        bool dateJudged = false;
        if (m_current && m_date) {
            if (objectExistsWithDateLaterThan(*m_date, m_parentObjectContext) || isCancelled()) {
                finish();
                return;
            }
            dateJudged = true;
        }
        // This thread would only wait for the file: read it here.
        auto document = std::make_shared<QVRNoteDocument>(m_url);
        const bool success = document->openSynchronously();
        opened(document, success, dateJudged);
    } catch (const std::exception& e) {
        platform::log(QStringLiteral("QVRSyncInOperation exception: %1, %2")
                          .arg(QString::fromUtf8(e.what()), QStringLiteral("{}")));
        finish();
    }
}

void QVRSyncInOperation::opened(const std::shared_ptr<QVRNoteDocument>& document, bool success,
                                bool dateJudged)
{
    const std::optional<double> fileDate = document->fileModificationDate();
    const double date = dateJudged ? *m_date : fileDate.value_or(m_date.value_or(0));
    if (!dateJudged && (objectExistsWithDateLaterThan(date, m_parentObjectContext) || isCancelled())) {
        finish();
        return;
    }
    if (!success || isCancelled()) {
        finish();
        return;
    }
    if (document->archived() && shouldDeleteObjectWithDate(date)) {
        document->deleteWithCompletionHandler([this, document](bool) { finish(); });
        return;
    }
    QVRNoteAttributes attributes = document->attributes();
    const QString nameUuid = uuidFromURL(m_url);
    // A file without an identifier belongs to the note its name gives;
    // otherwise every pass would make another copy of it under a new one.
    if (!document->hasStoredUuid()) {
        if (!QVRNoteDocument::isSafeUuid(nameUuid)) {
            platform::log(QStringLiteral("Ignoring note file without a usable identifier: %1").arg(m_url));
            finish();
            return;
        }
        attributes.insert(QVRNoteAttributeKey::uuid, nameUuid);
    }
    const QString uuid = attributes.value(QVRNoteAttributeKey::uuid).toString();
    if (!QVRNoteDocument::isSafeUuid(uuid)) {
        finish();
        return;
    }
    // A conflict copy or a renamed file holds another note's identifier: judge
    // newer-wins by the note it will be saved to.
    if (uuid != nameUuid && storeHoldsNoteNotOlderThan(uuid, date, m_parentObjectContext)) {
        finish();
        return;
    }
    std::weak_ptr<QVRSyncInOperationDelegate> delegate = m_delegate;
    platform::runOnMainThread([delegate, attributes] {
        if (auto target = delegate.lock())
            target->saveObjectWithAttributes(attributes);
    });
    finish();
}
