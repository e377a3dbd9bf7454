#include "sync/QVRSyncInOperation.h"

#include "sync/QVRNoteDocument.h"

#include "platform/cloud/MetadataQuery.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/core/MainThread.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/predicate/Predicate.h"
#include "store/Note.h"

#include <QFileInfo>

#include <exception>

std::shared_ptr<QVRSyncInOperation> QVRSyncInOperation::operationForMetadataItem(const platform::MetadataItem& item)
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

bool QVRSyncInOperation::storeHoldsNoteNotOlderThan(const QString& uuid, double date, platform::ManagedObjectContext* context)
{
    if (!context)
        return true;
    QString error;
    platform::FetchRequest request;
    request.entityName = QVRNoteEntityName;
    request.predicate = platform::Predicate::parse(QStringLiteral("uuid == %@ AND modified >= %@"),
                                                   {uuid, date - 0.001}, &error);
    request.fetchLimit = 1;
    if (!request.predicate)
        return true;
    qint64 count = -1;
    context->performAndWait([&] { count = context->count(request); });
    return count != 0;
}

bool QVRSyncInOperation::objectExistsWithDateLaterThan(double date, platform::ManagedObjectContext* context) const
{
    return storeHoldsNoteNotOlderThan(uuidFromURL(url_), date, context);
}

bool QVRSyncInOperation::shouldDeleteObjectWithDate(double date) const
{
    return historyDate_.has_value() && date < *historyDate_;
}

void QVRSyncInOperation::main()
{
    try {
        if (isCancelled() || delegate_.expired() || url_.isEmpty()) {
            finish();
            return;
        }
        // Files of a sync tool are always local, so nothing is ever fetched
        // first; an item that is neither here nor on its way is left for the
        // next notice.
        if (!current_ && !downloading_) {
            finish();
            return;
        }
        if (!parentObjectContext_) {
            platform::log(QStringLiteral("No database connection"));
            finish();
            return;
        }
        bool dateJudged = false;
        if (current_ && date_) {
            if (objectExistsWithDateLaterThan(*date_, parentObjectContext_) || isCancelled()) {
                finish();
                return;
            }
            dateJudged = true;
        }
        auto document = std::make_shared<QVRNoteDocument>(url_);
        document->openWithCompletionHandler([this, document, dateJudged](bool success) {
            try {
                opened(document, success, dateJudged);
            } catch (const std::exception& e) {
                platform::log(QStringLiteral("QVRSyncInOperation exception: %1, %2").arg(QString::fromUtf8(e.what()), QStringLiteral("{}")));
                finish();
            }
        });
    } catch (const std::exception& e) {
        platform::log(QStringLiteral("QVRSyncInOperation exception: %1, %2").arg(QString::fromUtf8(e.what()), QStringLiteral("{}")));
        finish();
    }
}

void QVRSyncInOperation::opened(const std::shared_ptr<QVRNoteDocument>& document, bool success, bool dateJudged)
{
    const std::optional<double> fileDate = document->fileModificationDate();
    const double date = dateJudged ? *date_ : fileDate.value_or(date_.value_or(0));
    if (!dateJudged && (objectExistsWithDateLaterThan(date, parentObjectContext_) || isCancelled())) {
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
    const QString nameUuid = uuidFromURL(url_);
    // A file without an identifier belongs to the note its name gives;
    // otherwise every pass would make another copy of it under a new one.
    if (!document->hasStoredUuid()) {
        if (!QVRNoteDocument::isSafeUuid(nameUuid)) {
            platform::log(QStringLiteral("Ignoring note file without a usable identifier: %1").arg(url_));
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
    if (uuid != nameUuid && storeHoldsNoteNotOlderThan(uuid, date, parentObjectContext_)) {
        finish();
        return;
    }
    std::weak_ptr<QVRSyncInOperationDelegate> delegate = delegate_;
    platform::runOnMainThread([delegate, attributes] {
        if (auto target = delegate.lock())
            target->saveObjectWithAttributes(attributes);
    });
    finish();
}
