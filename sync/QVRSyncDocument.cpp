#include "sync/QVRSyncDocument.h"

#include "platform/core/Log.h"
#include "platform/files/FileCoordinator.h"
#include "platform/files/FileOperations.h"

#include <QDir>
#include <QFileInfo>
#include <QSemaphore>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <pthread.h>
#include <thread>

using platform::log;

namespace {
std::atomic<int> gSaveTimeoutMs{120000};
}

// ---- serial queue

namespace {

// The threads that drain serial queues. A queue with work borrows one for as
// long as it has blocks; a thread left without work waits a while for the
// next queue before it ends, so a run of short-lived documents (one per note
// file) does not start a thread for every file.
class WorkerPool
{
public:
    static WorkerPool& shared()
    {
        // Never destroyed: idle workers may still wait on it at exit.
        static auto* pool = new WorkerPool();
        return *pool;
    }

    void run(std::function<void()> job)
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
        // Every waiting worker takes one job; start another only when the
        // jobs outnumber them.
        if (m_jobs.size() > m_idle)
            std::thread([this] { work(); }).detach();
        else
            m_wake.notify_one();
    }

private:
    void work()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            ++m_idle;
            const bool got =
                m_wake.wait_for(lock, std::chrono::seconds(5), [this] { return !m_jobs.empty(); });
            --m_idle;
            if (!got)
                return;
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            job();
            job = nullptr; // let go of what the job holds before waiting again
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::size_t m_idle = 0;
};

} // namespace

QVRSerialQueue::QVRSerialQueue(QString name) : m_name(std::move(name)), m_state(std::make_shared<State>()) {}

void QVRSerialQueue::add(std::function<void()> block)
{
    std::shared_ptr<State> state = m_state;
    {
        std::lock_guard lock(state->mutex);
        state->blocks.push_back(std::move(block));
        if (state->draining)
            return;
        state->draining = true;
    }
    drainOnWorker(std::move(state));
}

void QVRSerialQueue::sync(const std::function<void()>& block)
{
    std::shared_ptr<State> state = m_state;
    {
        std::unique_lock lock(state->mutex);
        if (state->draining) {
            lock.unlock();
            QSemaphore done;
            add([&] {
                block();
                done.release();
            });
            done.acquire();
            return;
        }
        // The queue is ours until the block is done: what is added meanwhile
        // waits behind it.
        state->draining = true;
    }
    block();
    {
        std::lock_guard lock(state->mutex);
        if (state->blocks.empty()) {
            state->draining = false;
            return;
        }
    }
    drainOnWorker(std::move(state));
}

void QVRSerialQueue::drainOnWorker(std::shared_ptr<State> state)
{
    const QByteArray threadName = m_name.left(15).toUtf8();
    WorkerPool::shared().run([state = std::move(state), threadName] {
        thread_local QByteArray currentName;
        if (currentName != threadName) {
            pthread_setname_np(pthread_self(), threadName.constData());
            currentName = threadName;
        }
        for (;;) {
            std::function<void()> next;
            {
                std::lock_guard lock(state->mutex);
                if (state->blocks.empty()) {
                    state->draining = false;
                    return;
                }
                next = std::move(state->blocks.front());
                state->blocks.pop_front();
            }
            next();
        }
    });
}

// ---- errors and their descriptions

platform::Error QVRSyncError(int code, const QString& description)
{
    platform::Error e;
    e.domain = QVRSyncErrors::domain;
    e.code = code;
    e.localizedDescription = description.isEmpty()
                                 ? QStringLiteral("The operation couldn't be completed. (%1 error %2.)")
                                       .arg(QVRSyncErrors::domain)
                                       .arg(code)
                                 : description;
    if (!description.isEmpty())
        e.userInfo.insert(QStringLiteral("NSLocalizedDescription"), description);
    return e;
}

QString QVRDescribeUserInfo(const QVariantMap& userInfo)
{
    QStringList parts;
    for (auto it = userInfo.cbegin(); it != userInfo.cend(); ++it)
        parts << QStringLiteral("%1 = %2").arg(it.key(), it.value().toString());
    return QStringLiteral("{") + parts.join(QStringLiteral("; ")) + QStringLiteral("}");
}

QString QVRDescribeError(const std::optional<platform::Error>& error)
{
    if (!error)
        return QStringLiteral("(null)");
    return QStringLiteral("Error Domain=%1 Code=%2 \"%3\"")
        .arg(error->domain)
        .arg(error->code)
        .arg(error->localizedDescription);
}

// ---- document

QVRSyncDocument::QVRSyncDocument(const QString& fileURL)
    : m_fileURL(fileURL),
      m_fileAccessQueue(std::make_unique<QVRSerialQueue>(QStringLiteral("fileAccessQueue")))
{
}

QVRSyncDocument::~QVRSyncDocument() = default;

QString QVRSyncDocument::documentType() const
{
    return QStringLiteral("com.apple.binary-property-list");
}

QVRNoteAttributes QVRSyncDocument::attributes() const
{
    std::lock_guard lock(m_mutex);
    QVRNoteAttributes result;
    if (m_fileModificationDate)
        result.insert(QVRNoteAttributeKey::modified, *m_fileModificationDate);
    return result;
}

void QVRSyncDocument::updateWithObject(const QVRNoteAttributes& record)
{
    std::lock_guard lock(m_mutex);
    m_unsavedChanges = true;
    m_uuid = record.value(QVRNoteAttributeKey::uuid).toString();
    m_archived = record.value(QVRNoteAttributeKey::archived).toBool();
    m_fileModificationDate = record.contains(QVRNoteAttributeKey::modified)
                                 ? record.value(QVRNoteAttributeKey::modified).toDouble()
                                 : 0.0;
}

std::function<void()> QVRSyncDocument::retained(std::function<void()> block)
{
    std::shared_ptr<QVRSyncDocument> self = weak_from_this().lock();
    return [self, block = std::move(block)] { block(); };
}

void QVRSyncDocument::performAsynchronousFileAccessUsingBlock(std::function<void()> block)
{
    m_fileAccessQueue->add(retained(std::move(block)));
}

void QVRSyncDocument::accessFile(const QString& url, const QString& noUrlMessage, FileStep step,
                                 CompletionHandler handler)
{
    if (url.isEmpty()) {
        log(noUrlMessage);
        if (handler)
            handler(false);
        return;
    }
    performAsynchronousFileAccessUsingBlock([url, step = std::move(step), handler = std::move(handler)] {
        bool success = false;
        {
            auto access = platform::FileCoordinator::coordinate(url);
            step(access.path(), [&success](bool ok) { success = ok; });
        }
        // Called once the file is let go, so that a handler may wait for
        // other work on the same file without blocking it.
        if (handler)
            handler(success);
    });
}

std::optional<bool> QVRSyncDocument::accessFileNow(const QString& url, const QString& noUrlMessage,
                                                   const FileStep& step, bool waitForFile)
{
    if (url.isEmpty()) {
        log(noUrlMessage);
        return false;
    }
    std::optional<bool> success;
    m_fileAccessQueue->sync([&] {
        std::optional<platform::FileCoordinator::Access> access;
        if (waitForFile)
            access.emplace(platform::FileCoordinator::coordinate(url));
        else
            access = platform::FileCoordinator::tryCoordinate(url);
        if (access)
            step(access->path(), [&success](bool ok) { success = ok; });
    });
    return success;
}

bool QVRSyncDocument::openSynchronously()
{
    return accessFileNow(
               fileURL(), QStringLiteral("Error reading data: no URL"),
               [this](const QString& path, const CompletionHandler& done) { readFromURL(path, done); }, true)
        .value_or(false);
}

void QVRSyncDocument::openWithCompletionHandler(CompletionHandler handler)
{
    accessFile(
        fileURL(), QStringLiteral("Error reading data: no URL"),
        [this](const QString& path, const CompletionHandler& done) { readFromURL(path, done); },
        std::move(handler));
}

void QVRSyncDocument::saveToURL(const QString& url, QVRSaveOperation saveOperation, CompletionHandler handler)
{
    accessFile(
        url, QStringLiteral("Error writing data: no URL"),
        [this, saveOperation](const QString& path, const CompletionHandler& done) {
            writeToURL(path, saveOperation, done);
        },
        std::move(handler));
}

void QVRSyncDocument::deleteWithCompletionHandler(CompletionHandler handler)
{
    accessFile(
        fileURL(), QStringLiteral("Error deleting: no URL"),
        [this](const QString& path, const CompletionHandler& done) { deleteFromURL(path, done); },
        std::move(handler));
}

void QVRSyncDocument::modificationDateWithCompletionHandler(DateHandler handler)
{
    const QString url = fileURL();
    if (url.isEmpty()) {
        log(QStringLiteral("Error checking modification date: no URL"));
        if (handler)
            handler(false, std::nullopt);
        return;
    }
    performAsynchronousFileAccessUsingBlock([url, handler] {
        platform::Error error;
        std::optional<double> date;
        {
            auto access = platform::FileCoordinator::coordinate(url);
            date = platform::contentModificationDate(access.path(), &error);
        }
        if (!date)
            log(QStringLiteral("Error getting modification date: %1, %2")
                    .arg(QVRDescribeError(error), QVRDescribeUserInfo(error.userInfo)));
        if (handler)
            handler(date.has_value(), date);
    });
}

bool QVRSyncDocument::loadFromContents(const QVariant&, const QString&, platform::Error* error)
{
    if (error)
        *error = QVRSyncError(QVRSyncErrors::NoReadFormat);
    return false;
}

std::optional<QByteArray> QVRSyncDocument::contentsForType(const QString&, platform::Error* error)
{
    if (error)
        *error = QVRSyncError(QVRSyncErrors::NoWriteFormat);
    return std::nullopt;
}

void QVRSyncDocument::readFromURL(const QString& url, const CompletionHandler& handler)
{
    setError(std::nullopt);
    platform::Error readError;
    std::optional<double> readDate;
    const std::optional<QByteArray> data = platform::readFileContents(url, &readError, &readDate);
    if (!data) {
        setError(readError);
        log(QStringLiteral("Error reading data from URL: %1, %2")
                .arg(QVRDescribeError(readError), QVRDescribeUserInfo(readError.userInfo)));
        if (handler)
            handler(false);
        return;
    }
    platform::Error loadError;
    loadError.code = 0;
    if (!loadFromContents(QVariant(*data), documentType(), &loadError)) {
        // A load that fails without an error of its own (a root that is not a
        // dictionary) leaves the document's error unset.
        std::optional<platform::Error> stored;
        if (!loadError.domain.isEmpty())
            stored = loadError;
        setError(stored);
        log(QStringLiteral("Error loading data from contents: %1, %2")
                .arg(QVRDescribeError(stored), QVRDescribeUserInfo(loadError.userInfo)));
        if (handler)
            handler(false);
        return;
    }
    // The date of the contents just read; a file replaced meanwhile cannot
    // lend its own.
    platform::Error dateError;
    if (const std::optional<double> date =
            readDate ? readDate : platform::contentModificationDate(url, &dateError))
        setFileModificationDate(date);
    else
        log(QStringLiteral("Error getting modification date: %1, %2")
                .arg(QVRDescribeError(dateError), QVRDescribeUserInfo(dateError.userInfo)));
    if (handler)
        handler(true);
}

void QVRSyncDocument::writeToURL(const QString& url, QVRSaveOperation saveOperation,
                                 const CompletionHandler& handler)
{
    setError(std::nullopt);
    platform::Error contentsError;
    const std::optional<QByteArray> data = contentsForType(documentType(), &contentsError);
    if (!data) {
        setError(contentsError);
        log(QStringLiteral("Error saving data to URL: %1, %2")
                .arg(QVRDescribeError(contentsError), QVRDescribeUserInfo(contentsError.userInfo)));
        if (handler)
            handler(false);
        return;
    }
    // The file appears with the note's date already set: a reader between
    // the rename and a later change of the date would take the time of the
    // write for the note's.
    std::optional<platform::ModificationDate> date;
    if (const std::optional<double> seconds = fileModificationDate())
        date = platform::ModificationDate{*seconds, false, {}};
    platform::ModificationDate* datePointer = date ? &*date : nullptr;
    platform::Error writeError;
    const bool written = saveOperation == QVRSaveOperation::Create
                             ? platform::writeFileCreatingOnly(url, *data, &writeError, datePointer)
                             : platform::writeFileAtomically(url, *data, &writeError, datePointer);
    if (!written) {
        setError(writeError);
        log(QStringLiteral("Error writing data to file: %1, %2")
                .arg(QVRDescribeError(writeError), QVRDescribeUserInfo(writeError.userInfo)));
        if (handler)
            handler(false);
        return;
    }
    // The change time cannot be set here and a hidden extension has no
    // meaning; the content time is what peers read.
    if (date && !date->applied)
        log(QStringLiteral("Error setting modification date: %1, %2")
                .arg(QVRDescribeError(date->error), QVRDescribeUserInfo(date->error.userInfo)));
    {
        std::lock_guard lock(m_mutex);
        m_fileURL = url;
        m_unsavedChanges = false;
    }
    if (handler)
        handler(true);
}

void QVRSyncDocument::deleteFromURL(const QString& url, const CompletionHandler& handler)
{
    setError(std::nullopt);
    platform::Error removeError;
    const bool removed = platform::removeItem(url, &removeError);
    if (removed) {
        std::lock_guard lock(m_mutex);
        m_unsavedChanges = false;
    } else {
        setError(removeError);
        log(QStringLiteral("Error deleting file: %1, %2")
                .arg(QVRDescribeError(removeError), QVRDescribeUserInfo(removeError.userInfo)));
    }
    if (handler)
        handler(removed);
}

QString QVRSyncDocument::fileURL() const
{
    std::lock_guard lock(m_mutex);
    return m_fileURL;
}

std::optional<double> QVRSyncDocument::fileModificationDate() const
{
    std::lock_guard lock(m_mutex);
    return m_fileModificationDate;
}

void QVRSyncDocument::setFileModificationDate(std::optional<double> date)
{
    std::lock_guard lock(m_mutex);
    m_fileModificationDate = date;
}

std::optional<platform::Error> QVRSyncDocument::error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

void QVRSyncDocument::setError(std::optional<platform::Error> error)
{
    std::lock_guard lock(m_mutex);
    m_error = std::move(error);
}

QString QVRSyncDocument::uuid() const
{
    std::lock_guard lock(m_mutex);
    return m_uuid;
}

void QVRSyncDocument::setUuid(const QString& uuid)
{
    std::lock_guard lock(m_mutex);
    m_uuid = uuid;
}

bool QVRSyncDocument::archived() const
{
    std::lock_guard lock(m_mutex);
    return m_archived;
}

void QVRSyncDocument::setArchived(bool archived)
{
    std::lock_guard lock(m_mutex);
    m_archived = archived;
}

bool QVRSyncDocument::unsavedChanges() const
{
    std::lock_guard lock(m_mutex);
    return m_unsavedChanges;
}

void QVRSyncDocument::setSaveTimeoutForTesting(int milliseconds)
{
    gSaveTimeoutMs = milliseconds;
}

std::shared_ptr<QVRSyncDocument>
QVRSyncDocument::saveObjectWith(const std::function<std::shared_ptr<QVRSyncDocument>()>& make,
                                const QVRNoteAttributes& record, const QString& url, platform::Error* error)
{
    // Shared with the handler, which may run after we gave up waiting: it
    // then touches only this state, never the caller's error.
    struct Shared
    {
        QSemaphore semaphore;
        std::mutex mutex;
        bool success = false;
        bool abandoned = false;
        std::optional<platform::Error> error;
    };
    std::shared_ptr<QVRSyncDocument> document = make();
    document->updateWithObject(record);
    // Nobody else has the new document, so when nobody holds the file either
    // the save runs here at once; otherwise it waits in the queue, at most
    // the save timeout.
    const std::optional<bool> savedNow = document->accessFileNow(
        url, QStringLiteral("Error writing data: no URL"),
        [&document](const QString& path, const CompletionHandler& done) {
            document->writeToURL(path, QVRSaveOperation::Create, done);
        },
        false);
    if (savedNow) {
        if (*savedNow)
            return document;
        if (const std::optional<platform::Error> saveError = document->error(); error && saveError)
            *error = *saveError;
        return nullptr;
    }
    auto shared = std::make_shared<Shared>();
    std::weak_ptr<QVRSyncDocument> weak = document;
    document->saveToURL(url, QVRSaveOperation::Create, [shared, weak](bool success) {
        std::lock_guard lock(shared->mutex);
        shared->success = success;
        if (!success)
            if (auto doc = weak.lock())
                shared->error = doc->error();
        shared->semaphore.release();
    });
    if (!shared->semaphore.tryAcquire(1, gSaveTimeoutMs.load()))
        return nullptr;
    std::lock_guard lock(shared->mutex);
    if (shared->success)
        return document;
    if (error && shared->error)
        *error = *shared->error;
    return nullptr;
}

// ---- folder helpers

bool SyncOutUtilities::ensureDirectoryAtPath(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink())
        return true;
    // mkpath also succeeds when a racing export made the folder first.
    if (QDir().mkpath(path))
        return true;
    log(QStringLiteral("Error creating directory %1: %2")
            .arg(path, QStringLiteral("could not create the folder")));
    return false;
}

bool SyncUtilities::directoryHasContents(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isDir())
        return false;
    return !QDir(path)
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                .isEmpty();
}
