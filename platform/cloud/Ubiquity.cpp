#include "platform/cloud/Ubiquity.h"

#include "platform/cloud/InotifyWatcher.h"
#include "platform/core/Error.h"
#include "platform/core/UserDefaults.h"
#include "platform/files/FileOperations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

const char* const CloudFolderEnvironmentVariable = "QUILLARY_CLOUD_DIR";
const QString CloudFolderDefaultsKey = QStringLiteral("QVRCloudFolder");
const QString UbiquityIdentityDidChangeNotification =
    QStringLiteral("NSUbiquityIdentityDidChangeNotification");
const QString DefaultUbiquityContainerIdentifier = QStringLiteral("XW9K2ZQ7TM.com.quorvane.Quillary");

QString cloudRootPath()
{
    QString path = qEnvironmentVariable(CloudFolderEnvironmentVariable);
    if (path.isEmpty())
        path = UserDefaults::standard().string(CloudFolderDefaultsKey);
    if (path.isEmpty())
        return {};
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    // A relative folder would depend on the working directory of the moment.
    if (QDir::isRelativePath(path))
        return {};
    return QDir::cleanPath(path);
}

QByteArray ubiquityIdentityToken()
{
    const QString root = cloudRootPath();
    if (root.isEmpty())
        return {};
    const QByteArray native = QFile::encodeName(root);
    char* resolved = ::realpath(native.constData(), nullptr);
    if (!resolved)
        return {};
    QByteArray canonical(resolved);
    std::free(resolved);
    struct stat st;
    if (::stat(canonical.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return {};
    if (::access(canonical.constData(), W_OK | X_OK) != 0)
        return {};
    char identity[64];
    std::snprintf(identity, sizeof identity, "%llu:%llu", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    QByteArray token = canonical;
    token.append('\0');
    token.append(identity);
    return token;
}

QString ubiquityContainerPath(const QString& identifier)
{
    if (identifier.isEmpty() || identifier.contains(QLatin1Char('/')) || identifier == QLatin1String(".") ||
        identifier == QLatin1String(".."))
        return {};
    if (ubiquityIdentityToken().isEmpty())
        return {};
    const QString root = cloudRootPath();
    const QString path = root + QLatin1Char('/') + identifier;
    if (!makeFolderInsideCloud(root, path))
        return {};
    return path;
}

// --- identity monitor -------------------------------------------------------

UbiquityIdentityMonitor& UbiquityIdentityMonitor::shared()
{
    static UbiquityIdentityMonitor* monitor = new UbiquityIdentityMonitor;
    return *monitor;
}

UbiquityIdentityMonitor::UbiquityIdentityMonitor(QObject* parent) : QObject(parent)
{
    m_poll = new QTimer(this);
    m_poll->setInterval(10000);
    connect(m_poll, &QTimer::timeout, this, &UbiquityIdentityMonitor::recheck);
    // Several events arrive for one rename or removal; one recheck answers them.
    m_settle = new QTimer(this);
    m_settle->setSingleShot(true);
    m_settle->setInterval(50);
    connect(m_settle, &QTimer::timeout, this, &UbiquityIdentityMonitor::recheck);
}

UbiquityIdentityMonitor::~UbiquityIdentityMonitor() = default;

void UbiquityIdentityMonitor::setPollInterval(int milliseconds)
{
    m_poll->setInterval(milliseconds);
}

void UbiquityIdentityMonitor::start()
{
    if (m_started)
        return;
    m_started = true;
    m_token = ubiquityIdentityToken();
    m_watcher = new InotifyWatcher(this);
    connect(m_watcher, &InotifyWatcher::fileEvent, this, [this](int wd, quint32 mask, const QString& name) {
        const bool relevant = wd < 0 || wd == m_rootWatch ||
                              (wd == m_ancestorWatch && (name.isEmpty() || name == m_watchedChildName)) ||
                              (mask & (IN_IGNORED | IN_UNMOUNT | IN_DELETE_SELF | IN_MOVE_SELF));
        if (relevant)
            m_settle->start();
    });
    rearm();
    m_defaultsObserver.emplace(NotificationCenter::defaultCenter().addObserver(
        UserDefaults::DidChangeNotification, nullptr, [this](const Notification&) {
            QMetaObject::invokeMethod(
                this, [this] { recheck(); }, Qt::QueuedConnection);
        }));
    m_poll->start();
}

void UbiquityIdentityMonitor::stop()
{
    if (!m_started)
        return;
    m_started = false;
    m_poll->stop();
    m_settle->stop();
    m_defaultsObserver.reset();
    delete m_watcher;
    m_watcher = nullptr;
    m_ancestorWatch = m_rootWatch = -1;
}

void UbiquityIdentityMonitor::rearm()
{
    if (!m_watcher)
        return;
    m_watcher->removeAllWatches();
    m_ancestorWatch = m_rootWatch = -1;
    m_watchedChildName.clear();
    const QString root = cloudRootPath();
    if (root.isEmpty())
        return;
    // Watch the root itself (removal, rename, unmount, permissions) and the
    // nearest existing folder above it for the step that leads to the root.
    m_rootWatch =
        m_watcher->addWatch(root, IN_DELETE_SELF | IN_MOVE_SELF | IN_ATTRIB | IN_UNMOUNT | IN_ONLYDIR);
    QString child = root;
    QString ancestor = QFileInfo(root).path();
    while (!QFileInfo(ancestor).isDir() && ancestor != child) {
        child = ancestor;
        ancestor = QFileInfo(ancestor).path();
    }
    m_watchedChildName = QFileInfo(child).fileName();
    m_ancestorWatch =
        m_watcher->addWatch(ancestor, IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                                          IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_ONLYDIR);
}

void UbiquityIdentityMonitor::recheck()
{
    if (!m_started)
        return;
    rearm();
    const QByteArray token = ubiquityIdentityToken();
    if (token == m_token)
        return;
    m_token = token;
    NotificationCenter::defaultCenter().post(UbiquityIdentityDidChangeNotification, nullptr);
}

// --- moves ------------------------------------------------------------------

namespace {

void setPosixError(Error* error, int code, const QString& what)
{
    if (!error)
        return;
    error->domain = QStringLiteral("NSPOSIXErrorDomain");
    error->code = code;
    error->localizedDescription = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(code));
    error->recoverySuggestion.clear();
    error->userInfo.clear();
}

// rename(2) that never replaces. Filesystems without RENAME_NOREPLACE fall
// back to link+unlink for files, which refuses an existing target the same way.
int renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    struct stat st;
    if (::lstat(from.constData(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode)) {
        if (::link(from.constData(), to.constData()) != 0)
            return errno;
        ::unlink(from.constData());
        return 0;
    }
    if (::lstat(to.constData(), &st) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

int copyFileFlushed(const QByteArray& from, const QByteArray& to, mode_t mode, const struct timespec& mtime)
{
    QFile in(QFile::decodeName(from));
    if (!in.open(QIODevice::ReadOnly))
        return EIO;
    const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777);
    if (out < 0)
        return errno;
    int result = 0;
    char buffer[65536];
    for (;;) {
        const qint64 n = in.read(buffer, sizeof buffer);
        if (n < 0) {
            result = EIO;
            break;
        }
        if (n == 0)
            break;
        qint64 written = 0;
        while (written < n) {
            const ssize_t w = ::write(out, buffer + written, size_t(n - written));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                result = errno;
                break;
            }
            written += w;
        }
        if (result)
            break;
    }
    // The modification time is the note's date: it must travel with the file.
    const struct timespec times[2] = {{0, UTIME_OMIT}, mtime};
    if (!result && ::futimens(out, times) != 0)
        result = errno;
    if (!result && ::fsync(out) != 0)
        result = errno;
    if (::close(out) != 0 && !result)
        result = errno;
    if (result)
        ::unlink(to.constData());
    return result;
}

int copyTree(const QByteArray& from, const QByteArray& to)
{
    struct stat st;
    if (::lstat(from.constData(), &st) != 0)
        return errno;
    if (S_ISREG(st.st_mode))
        return copyFileFlushed(from, to, st.st_mode, st.st_mtim);
    if (S_ISLNK(st.st_mode)) {
        QByteArray target(4096, '\0');
        const ssize_t n = ::readlink(from.constData(), target.data(), size_t(target.size()));
        if (n < 0)
            return errno;
        target.truncate(int(n));
        return ::symlink(target.constData(), to.constData()) == 0 ? 0 : errno;
    }
    if (!S_ISDIR(st.st_mode))
        return 0; // sockets, fifos and devices have no place in a notes folder
    if (::mkdir(to.constData(), (st.st_mode & 07777) | S_IRWXU) != 0)
        return errno;
    const QStringList entries =
        QDir(QFile::decodeName(from))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const QByteArray name = QFile::encodeName(entry);
        if (const int result = copyTree(from + '/' + name, to + '/' + name))
            return result;
    }
    return 0;
}

// A link is removed itself, never what it leads to.
bool removeTree(const QString& path)
{
    return removeItem(path);
}

bool moveItem(const QString& source, const QString& destination, Error* error)
{
    if (source.isEmpty() || destination.isEmpty()) {
        setPosixError(error, EINVAL, QStringLiteral("Cannot move an item without a path"));
        return false;
    }
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(destination);
    const int result = renameNoReplace(from, to);
    if (result == 0)
        return true;
    if (result != EXDEV) {
        setPosixError(error, result, QStringLiteral("Cannot move \"%1\" to \"%2\"").arg(source, destination));
        return false;
    }
    struct stat st;
    if (::lstat(to.constData(), &st) == 0) {
        setPosixError(error, EEXIST, QStringLiteral("Cannot move \"%1\" to \"%2\"").arg(source, destination));
        return false;
    }
    // Copy beside the destination under a hidden name, so a folder watcher
    // never sees a half-written item, then publish it with one rename.
    const QFileInfo target(destination);
    const QString temporary = target.path() + QStringLiteral("/.") + target.fileName() +
                              QStringLiteral(".moving-") + QString::number(::getpid());
    const QByteArray temp = QFile::encodeName(temporary);
    removeTree(temporary);
    int copied = copyTree(from, temp);
    if (copied == 0)
        copied = renameNoReplace(temp, to);
    if (copied != 0) {
        removeTree(temporary);
        setPosixError(error, copied, QStringLiteral("Cannot move \"%1\" to \"%2\"").arg(source, destination));
        return false;
    }
    if (!removeTree(source)) {
        setPosixError(error, EIO,
                      QStringLiteral("Moved \"%1\" but could not remove the original").arg(source));
        return false;
    }
    return true;
}

} // namespace

bool moveItemIntoCloud(const QString& source, const QString& destination, Error* error)
{
    return moveItem(source, destination, error);
}

bool moveItemOutOfCloud(const QString& source, const QString& destination, Error* error)
{
    return moveItem(source, destination, error);
}

bool makeFolderInsideCloud(const QString& root, const QString& path, Error* error)
{
    const QString cleanRoot = QDir::cleanPath(root);
    const QString cleanPath = QDir::cleanPath(path);
    if (cleanRoot.isEmpty() || !cleanPath.startsWith(cleanRoot + QLatin1Char('/'))) {
        setPosixError(error, EINVAL, QStringLiteral("\"%1\" is not inside the cloud folder").arg(path));
        return false;
    }
    struct stat st;
    if (::stat(QFile::encodeName(cleanRoot).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        setPosixError(error, ENOENT, QStringLiteral("The cloud folder \"%1\" is missing").arg(cleanRoot));
        return false;
    }
    // One level at a time from the root down, so that the root vanishing
    // meanwhile makes the next step fail instead of bringing it back.
    QString folder = cleanRoot;
    const QStringList below = cleanPath.mid(cleanRoot.size() + 1).split(QLatin1Char('/'));
    for (const QString& name : below) {
        folder += QLatin1Char('/') + name;
        const QByteArray native = QFile::encodeName(folder);
        if (::mkdir(native.constData(), 0777) != 0 && errno != EEXIST) {
            const int saved = errno;
            setPosixError(error, saved, QStringLiteral("Cannot create \"%1\"").arg(folder));
            return false;
        }
        if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            setPosixError(error, ENOTDIR, QStringLiteral("Cannot create \"%1\"").arg(folder));
            return false;
        }
    }
    return true;
}

} // namespace platform
