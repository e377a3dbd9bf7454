#pragma once

#include "platform/core/Error.h"
#include "store/QVRNoteAttributes.h"

#include <QString>
#include <QVariant>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// How a save treats a file already at the target.
enum class QVRSaveOperation : int
{
    Create = 1,    // fail when a file exists
    Overwrite = 2, // replace atomically (any value but Create does this)
};

namespace QVRSyncErrors {
inline const QString domain = QStringLiteral("com.quorvane.sync");
enum Code : int
{
    NotRightFormat = 100,
    NoReadFormat = 101,
    NoWriteFormat = 102,
    TooLarge = 103
};
} // namespace QVRSyncErrors

// A serial queue of blocks. It borrows a worker thread only while there is
// work and never joins it, so the last owner may let go of the queue from
// inside one of its own blocks.
class QVRSerialQueue
{
public:
    explicit QVRSerialQueue(QString name);
    void add(std::function<void()> block);
    // Runs `block` after every block added before it and before any added
    // after it, and waits for it. An idle queue runs it on the calling thread.
    void sync(const std::function<void()>& block);
    const QString& name() const { return m_name; }
    QVRSerialQueue(const QVRSerialQueue&) = delete;
    QVRSerialQueue& operator=(const QVRSerialQueue&) = delete;

private:
    struct State
    {
        std::mutex mutex;
        std::deque<std::function<void()>> blocks;
        bool draining = false;
    };
    QString m_name;
    // Hands the blocks waiting in `state` to a worker thread.
    void drainOnWorker(std::shared_ptr<State> state);
    std::shared_ptr<State> m_state;
};

// One synced object held as one file. Every file operation runs on the
// document's own serial queue under the per-path file coordinator; the
// completion handlers run there too. The "no URL" failures answer at once on
// the caller's thread.
class QVRSyncDocument : public std::enable_shared_from_this<QVRSyncDocument>
{
public:
    using CompletionHandler = std::function<void(bool success)>;
    using DateHandler = std::function<void(bool success, std::optional<double> date)>;

    explicit QVRSyncDocument(const QString& fileURL = QString());
    virtual ~QVRSyncDocument();
    QVRSyncDocument(const QVRSyncDocument&) = delete;
    QVRSyncDocument& operator=(const QVRSyncDocument&) = delete;

    virtual QString documentType() const;
    virtual QVRNoteAttributes attributes() const;
    virtual void updateWithObject(const QVRNoteAttributes& record);

    void performAsynchronousFileAccessUsingBlock(std::function<void()> block);

    void openWithCompletionHandler(CompletionHandler handler);
    // Opens on the calling thread, in turn with the document's queue, for a
    // caller that would only wait for the handler.
    bool openSynchronously();
    void saveToURL(const QString& url, QVRSaveOperation saveOperation, CompletionHandler handler);
    void deleteWithCompletionHandler(CompletionHandler handler);
    void modificationDateWithCompletionHandler(DateHandler handler);

    // Format hooks. `contents` is what was read: a QByteArray for a file.
    virtual bool loadFromContents(const QVariant& contents, const QString& type, platform::Error* error);
    virtual std::optional<QByteArray> contentsForType(const QString& type, platform::Error* error);

    // The steps inside the coordination (no coordination of their own).
    void readFromURL(const QString& url, const CompletionHandler& handler);
    void writeToURL(const QString& url, QVRSaveOperation saveOperation, const CompletionHandler& handler);
    void deleteFromURL(const QString& url, const CompletionHandler& handler);

    QString fileURL() const;
    std::optional<double> fileModificationDate() const;
    void setFileModificationDate(std::optional<double> date);
    std::optional<platform::Error> error() const;
    QString uuid() const;
    void setUuid(const QString& uuid);
    bool archived() const;
    void setArchived(bool archived);
    bool unsavedChanges() const;
    const QVRSerialQueue& fileAccessQueue() const { return *m_fileAccessQueue; }

    // How long saveObject waits for its document; tests shorten it.
    static void setSaveTimeoutForTesting(int milliseconds);

protected:
    // Saves a new document made by `make` (filled from `record`) with the
    // create operation and waits for it, at most the save timeout. A timeout
    // gives nothing and leaves `error` unset.
    static std::shared_ptr<QVRSyncDocument>
    saveObjectWith(const std::function<std::shared_ptr<QVRSyncDocument>()>& make,
                   const QVRNoteAttributes& record, const QString& url, platform::Error* error);
    void setError(std::optional<platform::Error> error);
    mutable std::mutex m_mutex; // guards the fields of this class and its subclasses

private:
    using FileStep = std::function<void(const QString& path, const CompletionHandler& done)>;
    // The shape of open, save and delete: an empty URL fails at once on the
    // caller's thread with `noUrlMessage` logged; otherwise `step` runs on
    // the document's queue while the file is coordinated, and the handler
    // after it is let go.
    void accessFile(const QString& url, const QString& noUrlMessage, FileStep step,
                    CompletionHandler handler);
    // The same on the calling thread. With `waitForFile` false it gives up,
    // answering nothing, while another thread holds the file.
    std::optional<bool> accessFileNow(const QString& url, const QString& noUrlMessage, const FileStep& step,
                                      bool waitForFile);
    // Keeps the document alive for the block when it is shared-owned.
    std::function<void()> retained(std::function<void()> block);

    QString m_fileURL;
    std::optional<double> m_fileModificationDate;
    std::optional<platform::Error> m_error;
    QString m_uuid;
    bool m_archived = false;
    bool m_unsavedChanges = false;
    std::unique_ptr<QVRSerialQueue> m_fileAccessQueue;
};

platform::Error QVRSyncError(int code, const QString& description = QString());

// Describes an error the way the log lines want it: "(domain code) text".
QString QVRDescribeError(const std::optional<platform::Error>& error);
QString QVRDescribeUserInfo(const QVariantMap& userInfo);

namespace SyncOutUtilities {
// True when anything exists at `path`; otherwise creates the folder with its
// parents and answers whether that worked.
bool ensureDirectoryAtPath(const QString& path);
} // namespace SyncOutUtilities

namespace SyncUtilities {
// True only for an existing folder that lists at least one entry.
bool directoryHasContents(const QString& path);
} // namespace SyncUtilities
