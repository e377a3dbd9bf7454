#pragma once

#include "sync/QVROperation.h"

#include "store/QVRNoteAttributes.h"

#include <QString>

#include <memory>

namespace platform {
class ManagedObjectContext;
}
class QVRNoteDocument;

// Exports one note to the cloud folder as "<uuid>.quillary": over an existing
// file only when the note is strictly newer; a new file is written in the
// caches folder first and then moved in, never replacing a file that appeared
// meanwhile. Ends only through finish().
class QVRSyncOutOperation : public QVROperation
{
public:
    static std::shared_ptr<QVRSyncOutOperation> operationForUUID(const QString& uuid);

    // Not owned; the root store's context outlives every operation.
    void setParentObjectContext(platform::ManagedObjectContext* context) { m_parentObjectContext = context; }
    void setCloudURL(const QString& cloudURL) { m_cloudURL = cloudURL; }
    QString cloudURL() const { return m_cloudURL; }
    // The cloud folder that holds cloudURL; the configured one when unset.
    // cloudURL is made inside it when missing, but never the folder itself.
    void setCloudRootURL(const QString& cloudRootURL) { m_cloudRootURL = cloudRootURL; }
    QString cachesURL() const;
    // Tests put the temporary files elsewhere.
    void setCachesURL(const QString& cachesURL) { m_cachesURL = cachesURL; }

    void main() override;

private:
    void exportOver(const QString& target, const QVRNoteAttributes& note);
    void exportNew(const QString& target, const QVRNoteAttributes& note);

    platform::ManagedObjectContext* m_parentObjectContext = nullptr;
    QString m_cloudURL;
    QString m_cloudRootURL;
    QString m_cachesURL;
};
