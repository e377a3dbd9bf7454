#pragma once

#include "tests/support/Wait.h"

#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>

using testsupport::spin;
using testsupport::waitFor;

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
