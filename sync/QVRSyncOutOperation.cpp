#include "sync/QVRSyncOutOperation.h"

#include "sync/QVRNoteDocument.h"

#include "platform/cloud/Ubiquity.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/predicate/Predicate.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <exception>

namespace {

const QString kExtension = QStringLiteral("quillary");

QString describeDate(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(seconds * 1000.0), Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz +0000"));
}

} // namespace

std::shared_ptr<QVRSyncOutOperation> QVRSyncOutOperation::operationForUUID(const QString& uuid)
{
    auto operation = std::make_shared<QVRSyncOutOperation>();
    operation->setUuid(uuid);
    operation->setQueuePriority(platform::OperationQueuePriority::Normal);
    return operation;
}

QString QVRSyncOutOperation::cachesURL() const
{
    return m_cachesURL.isEmpty() ? QVRDataStore::cachesURL() : m_cachesURL;
}

void QVRSyncOutOperation::main()
{
    try {
        const QString noteUuid = uuid();
        if (isCancelled() || noteUuid.isEmpty()) {
            finish();
            return;
        }
        // Identifiers also come from web replies and opened files; only one
        // that names a file inside the folder may become a file name.
        if (!QVRNoteDocument::isSafeUuid(noteUuid)) {
            platform::log(QStringLiteral("Refusing to export a note whose identifier is not a file name: %1")
                              .arg(noteUuid));
            finish();
            return;
        }
        if (!m_parentObjectContext) {
            platform::log(QStringLiteral("No database connection"));
            finish();
            return;
        }
        QVRNoteAttributes note;
        bool found = false;
        platform::ManagedObjectContext* context = m_parentObjectContext;
        context->performAndWait([&] {
            platform::Error error;
            const std::vector<platform::ManagedObject*> objects =
                QVRDataStore::objectsWithUUID(context, QVRNoteEntityName, noteUuid, 1, &error);
            if (!error.localizedDescription.isEmpty() || error.code != 0)
                platform::log(QStringLiteral("Object not found: %1, %2")
                                  .arg(error.localizedDescription, QVRDescribeUserInfo(error.userInfo)));
            if (!objects.empty()) {
                if (const auto* record = dynamic_cast<const Note*>(objects.front())) {
                    note = record->attributes();
                    found = true;
                }
            }
        });
        if (!found) {
            finish();
            return;
        }
        // The path was taken when the cloud was enabled: the cloud folder may
        // have been removed or unmounted since. Then nothing is written, and
        // the folder is never made again here, for that would be taken for
        // another account and receive every note on a bare mount point.
        const QString root = m_cloudRootURL.isEmpty() ? platform::cloudRootPath() : m_cloudRootURL;
        platform::Error folderError;
        if (m_cloudURL.isEmpty() || !platform::makeFolderInsideCloud(root, m_cloudURL, &folderError)) {
            platform::log(QStringLiteral("iCloud container is missing"));
            finish();
            return;
        }
        const QString target = m_cloudURL + QLatin1Char('/') + noteUuid + QLatin1Char('.') + kExtension;
        if (isCancelled()) {
            finish();
            return;
        }
        // A link planted in the folder must not lead a write elsewhere.
        if (QFileInfo(target).isSymLink()) {
            platform::log(QStringLiteral("Refusing to write through a link: %1").arg(target));
            finish();
            return;
        }
        if (QFileInfo::exists(target))
            exportOver(target, note);
        else
            exportNew(target, note);
    } catch (const std::exception& e) {
        platform::log(QStringLiteral("QVRSyncOutOperation exception: %1, %2")
                          .arg(QString::fromUtf8(e.what()), QStringLiteral("{}")));
        finish();
    }
}

void QVRSyncOutOperation::exportOver(const QString& target, const QVRNoteAttributes& note)
{
    auto document = std::make_shared<QVRNoteDocument>(target);
    document->modificationDateWithCompletionHandler([this, document, target,
                                                     note](bool, std::optional<double> date) {
        const double fileDate = date.value_or(0);
        const double modified = note.value(QVRNoteAttributeKey::modified).toDouble();
        if (modified > fileDate) {
            document->updateWithObject(note);
            document->saveToURL(target, QVRSaveOperation::Overwrite, [this, document](bool) { finish(); });
            return;
        }
        platform::log(QStringLiteral("Existing file is newer: %1 vs. %2 %3")
                          .arg(describeDate(fileDate), describeDate(modified), QFileInfo(target).fileName()));
        finish();
    });
}

void QVRSyncOutOperation::exportNew(const QString& target, const QVRNoteAttributes& note)
{
    // A name of its own for every export: a file left by an earlier failure
    // can never be taken for this note's, and two exports of one note do not
    // meet in the caches folder.
    const QString caches = cachesURL();
    QDir().mkpath(caches);
    const QString temporary = caches + QLatin1Char('/') + uuid() + QLatin1Char('-') +
                              QUuid::createUuid().toString(QUuid::Id128) + QLatin1Char('.') + kExtension;
    auto document = std::make_shared<QVRNoteDocument>();
    document->updateWithObject(note);
    document->saveToURL(
        temporary, QVRSaveOperation::Create, [this, document, temporary, target, note](bool saved) {
            if (!saved) {
                QFile::remove(temporary);
                finish();
                return;
            }
            platform::Error error;
            if (platform::moveItemIntoCloud(temporary, target, &error)) {
                finish();
                return;
            }
            QFile::remove(temporary);
            if (error.code == EEXIST) {
                // Another export or the sync tool put a file there meanwhile:
                // judge it like any existing file.
                exportOver(target, note);
                return;
            }
            platform::log(QStringLiteral("Error moving file to iCloud: %1, %2")
                              .arg(error.localizedDescription, QVRDescribeUserInfo(error.userInfo)));
            finish();
        });
}
