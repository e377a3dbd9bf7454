#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>

// Runs the event loop until `done` holds or `timeoutMs` passes.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Lets queued events and short timers run for `ms`.
inline void spin(int ms)
{
    waitUntil([] { return false; }, ms);
}

inline bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

inline void setMTime(const QString& path, double seconds)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(seconds);
    times[1].tv_nsec = long((seconds - double(times[1].tv_sec)) * 1e9);
    utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
}

inline double mtimeOf(const QString& path)
{
    struct stat st;
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
}
