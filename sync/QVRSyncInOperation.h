#pragma once

#include "sync/QVROperation.h"

#include "store/QVRNoteAttributes.h"

#include <QString>

#include <memory>
#include <optional>

namespace platform {
class ManagedObjectContext;
struct MetadataItem;
} // namespace platform

// Receives what an import read from a note file, on the main thread.
class QVRSyncInOperationDelegate
{
public:
    virtual ~QVRSyncInOperationDelegate() = default;
    virtual void saveObjectWithAttributes(const QVRNoteAttributes& attributes) = 0;
};

// Imports one note file from the cloud folder: skipped when the store holds a
// note of that identifier that is not more than 1 ms older; archived files
// older than the history date are deleted instead. Ends only through finish(),
// which may come from the document's thread after main() has returned.
class QVRSyncInOperation : public QVROperation
{
public:
    static std::shared_ptr<QVRSyncInOperation> operationForMetadataItem(const platform::MetadataItem& item);

    void setDelegate(std::weak_ptr<QVRSyncInOperationDelegate> delegate) { m_delegate = std::move(delegate); }
    // Not owned; the root store's context outlives every operation.
    void setParentObjectContext(platform::ManagedObjectContext* context) { m_parentObjectContext = context; }
    void setURL(const QString& url) { m_url = url; }
    QString url() const { return m_url; }
    void setDate(std::optional<double> date) { m_date = date; }
    void setHistoryDate(std::optional<double> historyDate) { m_historyDate = historyDate; }
    void setCurrent(bool current) { m_current = current; }
    void setDownloading(bool downloading) { m_downloading = downloading; }

    void main() override;

    // The file name without its extension, up to the first space.
    static QString uuidFromURL(const QString& url);
    bool objectExistsWithDateLaterThan(double date, platform::ManagedObjectContext* context) const;
    bool shouldDeleteObjectWithDate(double date) const;

    // True when the store holds the note `uuid` with a modification time not
    // more than 1 ms before `date` (a failed count counts as true).
    static bool storeHoldsNoteNotOlderThan(const QString& uuid, double date,
                                           platform::ManagedObjectContext* context);

private:
    void opened(const std::shared_ptr<class QVRNoteDocument>& document, bool success, bool dateJudged);

    std::weak_ptr<QVRSyncInOperationDelegate> m_delegate;
    platform::ManagedObjectContext* m_parentObjectContext = nullptr;
    QString m_url;
    std::optional<double> m_date;
    std::optional<double> m_historyDate;
    bool m_current = true;
    bool m_downloading = false;
};
