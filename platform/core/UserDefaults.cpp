#include "platform/core/UserDefaults.h"

#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/Paths.h"
#include "platform/core/Variant.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/plist/PropertyList.h"

namespace platform {

const QString UserDefaults::DidChangeNotification = QStringLiteral("NSUserDefaultsDidChangeNotification");

namespace {
// Writes a new file beside the old one and renames it over it, so a reader
// (or a crash) sees the old settings or the new ones, never a part or none.
// QSaveFile is not used: with O_TMPFILE it can leave the path missing for a
// moment while it replaces the file.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    bool ok = written == bytes.size() && ::fchmod(fd, 0600) == 0 && ::fsync(fd) == 0;
    if (!ok)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    if (::close(fd) != 0 && ok) {
        ok = false;
        *error = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (ok && ::rename(temp.constData(), target.constData()) != 0) {
        ok = false;
        *error = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (!ok)
        ::unlink(temp.constData());
    return ok;
}

// The largest settings file read. The settings are a few short keys; a file
// far above this is not ours, and reading it whole would only cost memory.
constexpr qint64 MaximumFileSize = 16 * 1024 * 1024;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

enum class ReadOutcome
{
    Read,
    Missing,
    Refused,
};

// Reads the settings file if it is a regular file of at most MaximumFileSize
// bytes. A link to one is followed: settings kept with the user's other
// dotfiles are linked into place. Anything else is refused before a byte of
// it is read, with the reason in `why`: a FIFO would block the open or the
// read for good, a device such as /dev/zero never ends, and opening some
// devices does something by itself. The type is checked before opening and
// again on the open file, in case the path changed between the two.
ReadOutcome readRegularFile(const QString& path, QByteArray* bytes, QString* why)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st
    {
    };
    if (::stat(name.constData(), &st) != 0) {
        if (errno == ENOENT)
            return ReadOutcome::Missing;
        *why = systemError(errno);
        return ReadOutcome::Refused;
    }
    const auto refuseUnlessRegular = [why](const struct stat& info) {
        if (!S_ISREG(info.st_mode)) {
            *why = QStringLiteral("not a regular file");
            return true;
        }
        if (info.st_size > MaximumFileSize) {
            *why = QStringLiteral("larger than %1 bytes").arg(MaximumFileSize);
            return true;
        }
        return false;
    };
    if (refuseUnlessRegular(st))
        return ReadOutcome::Refused;
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadOutcome::Missing;
        *why = systemError(errno);
        return ReadOutcome::Refused;
    }
    struct Close
    {
        int fd;
        ~Close() { ::close(fd); }
    } close{fd};
    if (::fstat(fd, &st) != 0) {
        *why = systemError(errno);
        return ReadOutcome::Refused;
    }
    if (refuseUnlessRegular(st))
        return ReadOutcome::Refused;
    // One byte past the bound, so that a file which grew since is refused too.
    bytes->resize(qsizetype(st.st_size) + 1);
    qsizetype size = 0;
    for (;;) {
        if (size == bytes->size()) {
            if (size > MaximumFileSize) {
                *why = QStringLiteral("larger than %1 bytes").arg(MaximumFileSize);
                return ReadOutcome::Refused;
            }
            bytes->resize(std::min<qsizetype>(size * 2, MaximumFileSize + 1));
        }
        const ssize_t n = ::read(fd, bytes->data() + size, size_t(bytes->size() - size));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *why = systemError(errno);
            return ReadOutcome::Refused;
        }
        size += n;
    }
    bytes->resize(size);
    return ReadOutcome::Read;
}

// The instances alive, so that a delayed write never reaches one that is
// gone and everything pending can be written at once before the process ends.
// Never taken while an instance's own mutex is held.
struct Registry
{
    std::mutex mutex;
    std::set<UserDefaults*> live;
};

Registry& registry()
{
    static auto* instance = new Registry; // used until the very end
    return *instance;
}

// Changes are held back only while an application object exists, so they
// are all written by the time it is gone: when its event loop ends, or from
// its destructor for a program that never ran one. Not at exit: Qt's own
// statics (the property-list types among them) may be gone by then, and
// standard() is never destroyed.
std::mutex g_hookMutex;
QCoreApplication* g_hooked = nullptr;

void writeAtApplicationEnd()
{
    {
        std::lock_guard lock(g_hookMutex);
        g_hooked = nullptr;
    }
    UserDefaults::synchronizeAll();
}

void hookApplicationEnd(QCoreApplication* app)
{
    std::lock_guard lock(g_hookMutex);
    if (g_hooked == app)
        return;
    g_hooked = app;
    qAddPostRoutine(&writeAtApplicationEnd);
    QObject::connect(app, &QCoreApplication::aboutToQuit, app, &UserDefaults::synchronizeAll);
}

} // namespace

UserDefaults& UserDefaults::standard()
{
    // Deliberately never destroyed: it is used from other statics' destructors.
    static auto* defaults = new UserDefaults(
        configDirectory() + QStringLiteral("/com.quorvane.Quillary.plist"), StandardWriteDelay);
    return *defaults;
}

UserDefaults::UserDefaults(const QString& filePath, std::chrono::milliseconds writeDelay)
    : m_filePath(filePath), m_writeDelay(writeDelay)
{
    load();
    Registry& live = registry();
    std::lock_guard lock(live.mutex);
    live.live.insert(this);
}

UserDefaults::~UserDefaults()
{
    {
        Registry& live = registry();
        std::lock_guard lock(live.mutex);
        live.live.erase(this);
    }
    if (!m_changedKeys.isEmpty())
        synchronize();
}

void UserDefaults::synchronizeAll()
{
    Registry& live = registry();
    std::lock_guard lock(live.mutex);
    for (UserDefaults* defaults : live.live)
        defaults->writePending();
}

void UserDefaults::writePending()
{
    std::lock_guard lock(m_mutex);
    m_writeScheduled = false;
    if (!m_changedKeys.isEmpty())
        synchronize();
}

// A write takes the file lock, writes and fsyncs, often on the UI thread: a
// burst of changes (moving through the note list) is held back to cost one.
void UserDefaults::changed(const QString& key)
{
    m_changedKeys.insert(key);
    QCoreApplication* app = QCoreApplication::instance();
    if (m_writeDelay <= std::chrono::milliseconds::zero() || !app) {
        synchronize();
        return;
    }
    if (m_writeScheduled)
        return;
    m_writeScheduled = true;
    hookApplicationEnd(app);
    // The timer must be started on the thread of the event loop that runs it;
    // a change can come from any thread.
    QMetaObject::invokeMethod(
        app,
        [this, app, delay = m_writeDelay] {
            QTimer::singleShot(delay, app, [this] {
                Registry& live = registry();
                std::lock_guard lock(live.mutex);
                if (live.live.contains(this))
                    writePending();
            });
        },
        Qt::QueuedConnection);
}

void UserDefaults::load()
{
    std::lock_guard lock(m_mutex);
    m_changedKeys.clear();
    QVariantMap values;
    readFile(&values);
    m_values = values;
}

// What the file holds now: nothing when there is no file yet. False when it
// exists but cannot be read, so that nobody writes over it.
bool UserDefaults::readFile(QVariantMap* values)
{
    values->clear();
    QByteArray bytes;
    // While another process replaces the file, a lookup can (rarely) miss it
    // for a moment; ask again before taking "missing" for an answer.
    for (int attempt = 0;; ++attempt) {
        QString why;
        const ReadOutcome outcome = readRegularFile(m_filePath, &bytes, &why);
        if (outcome == ReadOutcome::Read)
            break;
        if (outcome == ReadOutcome::Refused) {
            // Said once, not at every write that it stops: the file stays as
            // it is, and the values live in memory until it is mended.
            if (why != m_refusal)
                log(QStringLiteral("Could not read settings file %1: %2; it is left as it is, and "
                                   "settings changed now are not saved")
                        .arg(m_filePath, why));
            m_refusal = why;
            return false;
        }
        if (attempt == 3) {
            m_refusal.clear();
            return true; // no settings saved yet
        }
        ::usleep(1000);
    }
    m_refusal.clear();
    if (bytes.isEmpty())
        return true;
    QString error;
    const QVariant root = readPropertyList(bytes, &error);
    if (root.typeId() == QMetaType::QVariantMap) {
        *values = root.toMap();
        return true;
    }
    // Keep the unreadable file aside rather than overwriting it on the next
    // save: the user may want it back.
    const QString aside = m_filePath + QStringLiteral(".unreadable");
    QFile::remove(aside);
    QFile::rename(m_filePath, aside);
    log(QStringLiteral("Settings file %1 is not a property list (%2); kept as %3 and starting afresh")
            .arg(m_filePath, error.isEmpty() ? QStringLiteral("not a dictionary") : error, aside));
    return true;
}

void UserDefaults::takeInFile()
{
    QVariantMap current;
    if (readFile(&current))
        m_values = withChanges(std::move(current));
}

QVariantMap UserDefaults::withChanges(QVariantMap fileValues) const
{
    for (const QString& key : std::as_const(m_changedKeys)) {
        auto it = m_values.constFind(key);
        if (it != m_values.constEnd())
            fileValues.insert(key, *it);
        else
            fileValues.remove(key);
    }
    return fileValues;
}

void UserDefaults::reload()
{
    load();
}

void UserDefaults::registerDefaults(const QVariantMap& defaults)
{
    std::lock_guard lock(m_mutex);
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        m_registered.insert(it.key(), it.value());
}

QVariant UserDefaults::lookup(const QString& key) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_values.constFind(key);
    if (it != m_values.constEnd())
        return *it;
    return m_registered.value(key);
}

QVariant UserDefaults::object(const QString& key) const
{
    return lookup(key);
}

QString UserDefaults::string(const QString& key) const
{
    const QVariant v = lookup(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

qint64 UserDefaults::integer(const QString& key) const
{
    const QVariant v = lookup(key);
    if (!isNumberOrBool(v))
        return 0;
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
        const double d = v.toDouble();
        // Out-of-range or NaN doubles would be undefined as integers.
        if (!(d > -9.2e18 && d < 9.2e18))
            return 0;
        return qint64(d);
    }
    return v.toLongLong();
}

double UserDefaults::doubleValue(const QString& key) const
{
    const QVariant v = lookup(key);
    return isNumberOrBool(v) ? v.toDouble() : 0.0;
}

bool UserDefaults::boolValue(const QString& key) const
{
    const QVariant v = lookup(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    return isNumberOrBool(v) ? v.toDouble() != 0.0 : false;
}

QVariantMap UserDefaults::dictionary(const QString& key) const
{
    const QVariant v = lookup(key);
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

QVariantList UserDefaults::array(const QString& key) const
{
    const QVariant v = lookup(key);
    return v.typeId() == QMetaType::QVariantList ? v.toList() : QVariantList();
}

QByteArray UserDefaults::data(const QString& key) const
{
    const QVariant v = lookup(key);
    return v.typeId() == QMetaType::QByteArray ? v.toByteArray() : QByteArray();
}

void UserDefaults::set(const QString& key, const QVariant& value)
{
    if (!value.isValid()) {
        remove(key);
        return;
    }
    // A value the file cannot hold would make every later write fail too.
    QString encodeError;
    const QByteArray encoded =
        writePropertyList(QVariantList{value}, PropertyListFormat::Binary, &encodeError);
    if (encoded.isEmpty()) {
        log(QStringLiteral("Cannot store a value of type %1 under \"%2\" in the settings: %3")
                .arg(QString::fromLatin1(value.typeName()), key, encodeError));
        return;
    }
    // The same value as the file holds it (an int set here reads back as a
    // 64-bit integer).
    auto same = [&](const QVariant& held) { return writePropertyList(QVariantList{held}) == encoded; };
    {
        std::lock_guard lock(m_mutex);
        auto holds = [&] {
            auto it = m_values.constFind(key);
            return it != m_values.constEnd() && same(*it);
        };
        // Another process may have changed the value since it was read here;
        // a change made here and not yet written is the current value.
        if (holds() && (m_changedKeys.contains(key) || (takeInFile(), holds())))
            return;
        m_values.insert(key, value);
        changed(key);
    }
    NotificationCenter::defaultCenter().post(DidChangeNotification, this);
}

void UserDefaults::remove(const QString& key)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_values.contains(key) &&
            (m_changedKeys.contains(key) || (takeInFile(), !m_values.contains(key))))
            return;
        m_values.remove(key);
        changed(key);
    }
    NotificationCenter::defaultCenter().post(DidChangeNotification, this);
}

bool UserDefaults::synchronize()
{
    std::lock_guard lock(m_mutex);
    if (m_changedKeys.isEmpty()) {
        // Nothing to write: take in what other processes wrote.
        takeInFile();
        return true;
    }
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    // Read, merge and write under one lock, so that two processes writing at
    // once both keep their keys.
    const QByteArray lockPath = QFile::encodeName(m_filePath + QStringLiteral(".lock"));
    // Never through a link: a link left where the lock goes (dangling or not)
    // would make the settings create or lock a file wherever it points.
    const int lockFile =
        ::open(lockPath.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (lockFile < 0) {
        log(QStringLiteral("Could not lock settings file %1: %2")
                .arg(m_filePath,
                     errno == ELOOP ? QStringLiteral("its lock file is a link") : systemError(errno)));
        return false;
    }
    struct Unlock
    {
        int fd;
        ~Unlock() { ::close(fd); } // closing drops the lock
    } unlock{lockFile};
    struct stat lockInfo
    {
    };
    if (::fstat(lockFile, &lockInfo) != 0 || !S_ISREG(lockInfo.st_mode)) {
        log(QStringLiteral("Could not lock settings file %1: its lock file is not a regular file")
                .arg(m_filePath));
        return false;
    }
    while (::flock(lockFile, LOCK_EX) != 0) {
        if (errno != EINTR) {
            log(QStringLiteral("Could not lock settings file %1: %2").arg(m_filePath, systemError(errno)));
            return false;
        }
    }
    QVariantMap current;
    if (!readFile(&current))
        return false;
    // Only the keys changed here override the file.
    const QVariantMap merged = withChanges(std::move(current));
    QString error;
    const QByteArray bytes = writePropertyList(merged, PropertyListFormat::Binary, &error);
    if (bytes.isEmpty()) {
        log(QStringLiteral("Could not encode settings: %1").arg(error));
        return false;
    }
    QString writeError;
    if (!writeFileAtomically(m_filePath, bytes, &writeError)) {
        log(QStringLiteral("Could not write settings file %1: %2").arg(m_filePath, writeError));
        return false;
    }
    m_values = merged;
    m_changedKeys.clear();
    return true;
}

} // namespace platform
