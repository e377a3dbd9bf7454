#include "platform/files/FileOperations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

const QString PosixErrorDomain = QStringLiteral("NSPOSIXErrorDomain");

namespace {

bool fail(Error* error, int code, const QString& path)
{
    if (error) {
        error->domain = PosixErrorDomain;
        error->code = code;
        error->localizedDescription = QString::fromLocal8Bit(std::strerror(code));
        error->userInfo = {{QStringLiteral("NSFilePath"), path}};
    }
    return false;
}

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

// Read from procfs: setting and restoring the mask to learn it would change
// it for a moment for every other thread creating files.
mode_t processUmask()
{
    static const mode_t mask = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("Umask:")) {
                    bool ok = false;
                    const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
                    if (ok)
                        return mode_t(value & 0777);
                }
            }
        }
        return mode_t(022);
    }();
    return mask;
}

// The modification time for futimens, or false for a date no file can have.
bool modificationTimes(double secondsSince1970, struct timespec (&times)[2])
{
    if (!std::isfinite(secondsSince1970) || std::fabs(secondsSince1970) > 1e15)
        return false;
    double whole = std::floor(secondsSince1970);
    long nanoseconds = std::lround((secondsSince1970 - whole) * 1e9);
    if (nanoseconds >= 1000000000L) {
        whole += 1;
        nanoseconds -= 1000000000L;
    }
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(whole);
    times[1].tv_nsec = nanoseconds;
    return true;
}

// Sets the date on the open temporary file, so that the finished file never
// shows the time of the write instead.
void applyModificationDate(int fd, const QString& path, ModificationDate* date)
{
    if (!date)
        return;
    struct timespec times[2];
    if (!modificationTimes(date->secondsSince1970, times))
        fail(&date->error, EINVAL, path);
    else if (::futimens(fd, times) != 0)
        fail(&date->error, errno, path);
    else
        date->applied = true;
}

// Writes everything to a fresh temporary file next to `path` and returns its
// name, or an empty array (with errno set) on failure.
QByteArray writeTemporary(const QString& path, const QByteArray& data, ModificationDate* date)
{
    const QFileInfo info(path);
    QByteArray pattern =
        encoded(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return {};
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int saved = errno;
            ::close(fd);
            ::unlink(pattern.constData());
            errno = saved;
            return {};
        }
        p += n;
        left -= n;
    }
    // The temporary file is made private; the finished file gets the mode
    // any newly created file would.
    ::fchmod(fd, 0666 & ~processUmask());
    applyModificationDate(fd, path, date);
    // No fsync: like the platform's atomic writes, a rename gives readers
    // all or nothing, and the store keeps every note besides its file.
    if (::close(fd) != 0) {
        const int saved = errno;
        ::unlink(pattern.constData());
        errno = saved;
        return {};
    }
    return pattern;
}

// Seconds since 1970, to the nanosecond as far as a double holds it.
double secondsOf(const struct timespec& time)
{
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

} // namespace

std::optional<QByteArray> readFileContents(const QString& path, Error* error,
                                           std::optional<double>* modificationDate)
{
    const int fd = ::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fail(error, errno, path);
        return std::nullopt;
    }
    struct stat st
    {
    };
    const bool known = ::fstat(fd, &st) == 0;
    if (known && S_ISDIR(st.st_mode)) {
        ::close(fd);
        fail(error, EISDIR, path);
        return std::nullopt;
    }
    // Read straight into the result, sized from the file with one byte to
    // spare, so that the read which finds the end needs no second buffer. A
    // file that grows meanwhile, or reports no size (procfs), still reads
    // whole.
    QByteArray data;
    qsizetype size = 0;
    qsizetype capacity = known && S_ISREG(st.st_mode) && st.st_size > 0 ? qsizetype(st.st_size) + 1 : 4096;
    data.resize(capacity);
    for (;;) {
        if (size == capacity) {
            capacity *= 2;
            data.resize(capacity);
        }
        const ssize_t n = ::read(fd, data.data() + size, static_cast<size_t>(capacity - size));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int saved = errno;
            ::close(fd);
            fail(error, saved, path);
            return std::nullopt;
        }
        size += n;
    }
    ::close(fd);
    data.resize(size);
    if (modificationDate) {
        if (known)
            *modificationDate = secondsOf(st.st_mtim);
        else
            modificationDate->reset();
    }
    return data;
}

bool writeFileAtomically(const QString& path, const QByteArray& data, Error* error, ModificationDate* date)
{
    const QByteArray temporary = writeTemporary(path, data, date);
    if (temporary.isEmpty())
        return fail(error, errno, path);
    if (::rename(temporary.constData(), encoded(path).constData()) != 0) {
        const int saved = errno;
        ::unlink(temporary.constData());
        return fail(error, saved, path);
    }
    return true;
}

bool writeFileCreatingOnly(const QString& path, const QByteArray& data, Error* error, ModificationDate* date)
{
    const QByteArray target = encoded(path);
    // Refuse early so that a taken name costs no temporary file.
    struct stat st
    {
    };
    if (::lstat(target.constData(), &st) == 0)
        return fail(error, EEXIST, path);
    const QByteArray temporary = writeTemporary(path, data, date);
    if (temporary.isEmpty())
        return fail(error, errno, path);
    if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true; // the temporary name is gone with the rename
    int result = -1;
    if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP) {
        // Some filesystems (FUSE among them) lack the flag; a hard link is
        // just as exclusive.
        result = ::link(temporary.constData(), target.constData());
    }
    const int saved = errno;
    ::unlink(temporary.constData());
    if (result != 0)
        return fail(error, saved, path);
    return true;
}

std::optional<double> contentModificationDate(const QString& path, Error* error)
{
    struct stat st
    {
    };
    if (::stat(encoded(path).constData(), &st) != 0) {
        fail(error, errno, path);
        return std::nullopt;
    }
    return secondsOf(st.st_mtim);
}

bool removeItem(const QString& path, Error* error)
{
    std::error_code ec;
    const std::filesystem::path p(encoded(path).toStdString());
    if (!std::filesystem::exists(std::filesystem::symlink_status(p, ec)))
        return fail(error, ENOENT, path);
    std::filesystem::remove_all(p, ec);
    if (ec)
        return fail(error, ec.value(), path);
    return true;
}

} // namespace platform
